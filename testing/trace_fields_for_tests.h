// For tests: the top-level fields of one flat trace object, in order, each with its raw value
// text, and the numbers of an array value. Enough for the objects the trace writer makes.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace hopshot::testing {

using Fields = std::vector<std::pair<std::string, std::string>>;

inline Fields traceFields(const std::string& line) {
    Fields fields;
    if (line.size() < 2 || line.front() != '{' || line.back() != '}') return fields;
    size_t i = 1;
    while (i < line.size() - 1) {
        if (line[i] != '"') return {};
        size_t close = line.find('"', i + 1);
        if (close == std::string::npos || close + 1 >= line.size() || line[close + 1] != ':')
            return {};
        std::string key = line.substr(i + 1, close - i - 1);
        size_t v = close + 2, j = v;
        int depth = 0;
        bool inString = false;
        for (; j < line.size() - 1; ++j) {
            char c = line[j];
            if (inString) {
                if (c == '\\') ++j;
                else if (c == '"') inString = false;
            } else if (c == '"') inString = true;
            else if (c == '[') ++depth;
            else if (c == ']') --depth;
            else if (c == ',' && depth == 0) break;
        }
        fields.emplace_back(key, line.substr(v, j - v));
        i = j + 1;
    }
    return fields;
}

inline std::vector<long long> traceArray(const std::string& value) {
    std::vector<long long> out;
    if (value.size() < 2 || value.front() != '[' || value.back() != ']') return out;
    std::string inner = value.substr(1, value.size() - 2);
    size_t pos = 0;
    while (pos < inner.size()) {
        size_t comma = inner.find(',', pos);
        if (comma == std::string::npos) comma = inner.size();
        out.push_back(std::stoll(inner.substr(pos, comma - pos)));
        pos = comma + 1;
    }
    return out;
}

inline std::string traceField(const Fields& f, const std::string& key) {
    for (const auto& [k, v] : f)
        if (k == key) return v;
    return "<missing>";
}

}  // namespace hopshot::testing
