// For tests: a replay script run headless in a directory of its own, with its trace read back.
#pragma once

#include "play/headless.h"
#include "testing/trace_fields_for_tests.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace hopshot::testing {

namespace fs = std::filesystem;

// A fresh directory for one test's script, trace and high-score file; removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "hopshot-headless-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

struct RunResult {
    int code = -1;
    std::string out, err;
    std::vector<Fields> trace;        // one per line
    std::string traceText;
};

inline RunResult runScript(const std::string& text, long stepLimit = 0) {
    TempDir dir;
    EXPECT_FALSE(dir.path().empty());
    const fs::path script = dir.path() / "game.replay";
    const fs::path trace = dir.path() / "game.trace";
    std::ofstream(script, std::ios::binary) << text;

    HeadlessOptions o;
    o.script = script.string();
    o.trace = trace.string();
    o.dir = dir.path().string();
    o.stepLimit = stepLimit;
    std::ostringstream out, err;
    RunResult r;
    r.code = runHeadless(o, out, err);
    r.out = out.str();
    r.err = err.str();
    std::ifstream in(trace, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    r.traceText = all.str();
    std::istringstream lines(r.traceText);
    for (std::string line; std::getline(lines, line);) r.trace.push_back(traceFields(line));
    return r;
}

}  // namespace hopshot::testing
