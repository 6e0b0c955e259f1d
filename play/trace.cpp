#include "play/trace.h"

#include <array>
#include <charconv>

namespace hopshot {

namespace {

// Builds one line; written to the stream in one piece.
class Line {
public:
    void raw(std::string_view s) { text_ += s; }

    void key(std::string_view name) {
        text_ += first_ ? "{\"" : ",\"";
        first_ = false;
        text_ += name;
        text_ += "\":";
    }

    void number(long long v) {
        char buf[24];
        auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
        text_.append(buf, end);
    }

    void field(std::string_view name, long long v) {
        key(name);
        number(v);
    }

    template <size_t N>
    void field(std::string_view name, const std::array<int16_t, N>& table) {
        key(name);
        text_ += '[';
        for (size_t i = 0; i < N; ++i) {
            if (i > 0) text_ += ',';
            number(table[i]);
        }
        text_ += ']';
    }

    void field(std::string_view name, const std::vector<int>& list) {
        key(name);
        text_ += '[';
        for (size_t i = 0; i < list.size(); ++i) {
            if (i > 0) text_ += ',';
            number(list[i]);
        }
        text_ += ']';
    }

    void field(std::string_view name, std::string_view text) {
        key(name);
        text_ += jsonString(text);
    }

    void finish(std::ostream& out) {
        text_ += "}\n";
        out << text_;
    }

private:
    std::string text_;
    bool first_ = true;
};

}  // namespace

size_t utf8SequenceAt(std::string_view s, size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    size_t extra;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) { extra = 1; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { extra = 2; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { extra = 3; cp = c & 0x07; }
    else return 0;
    if (i + extra >= s.size()) return 0;   // cut off at the end
    for (size_t k = 1; k <= extra; ++k) {
        const auto d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (d & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return extra + 1;
}

std::string jsonString(std::string_view s) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t n = utf8SequenceAt(s, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(s.substr(i, n));
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
        i += n;
    }
    out += '"';
    return out;
}

void writeStepObject(std::ostream& out, int game, long step, const World& w, uint64_t draws,
                     const std::vector<int>& sounds) {
    Line l;
    l.field("game", game);
    l.field("step", step);
    l.field("running", w.running);
    l.field("timeLeft", w.timeLeft);
    l.field("score", w.score);
    l.field("bloodBudget", w.bloodBudget);
    l.field("flashTimer", w.flashTimer);
    l.field("flickerTimer", w.flickerTimer);
    l.field("bombX", w.bombX);
    l.field("bombZ", w.bombZ);
    l.field("bombSpin", w.bombSpin);
    l.field("playerIn", w.playerIn);
    l.field("tankHeading", w.tankHeading);
    l.field("gunElevation", w.gunElevation);
    l.field("shellX", w.shellX);
    l.field("shellY", w.shellY);
    l.field("shellZ", w.shellZ);
    l.field("shellVX", w.shellVX);
    l.field("shellVY", w.shellVY);
    l.field("shellVZ", w.shellVZ);
    l.field("shellKind", w.shellKind);
    l.field("steerX", w.steerX);
    l.field("steerY", w.steerY);
    l.field("fireState", w.fireState);
    l.field("charge", w.charge);
    l.field("damageTimer", w.damageTimer);
    l.field("hopperX", w.hopperX);
    l.field("hopperY", w.hopperY);
    l.field("hopperZ", w.hopperZ);
    l.field("hopperVY", w.hopperVY);
    l.field("bloodX", w.bloodX);
    l.field("bloodY", w.bloodY);
    l.field("bloodZ", w.bloodZ);
    l.field("bloodVX", w.bloodVX);
    l.field("bloodVY", w.bloodVY);
    l.field("bloodVZ", w.bloodVZ);
    l.field("sounds", sounds);
    l.field("draws", static_cast<long long>(draws));
    l.finish(out);
}

void writeEndObject(std::ostream& out, int game, long steps, const World& w,
                    const std::vector<int>& sounds) {
    Line l;
    l.field("game", game);
    l.key("end");
    l.raw("true");
    l.field("steps", steps);
    l.field("score", w.score);
    l.field("timeLeft", w.timeLeft);
    l.field("sounds", sounds);
    l.field("hiScoreSolo", w.hiScoreSolo);
    l.field("hiNameSolo", w.hiNameSolo);
    l.field("hiScoreCoop", w.hiScoreCoop);
    l.field("hiNameCoop", w.hiNameCoop);
    l.finish(out);
}

}  // namespace hopshot
