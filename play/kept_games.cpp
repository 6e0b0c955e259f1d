#include "play/kept_games.h"

#include "records/program_place.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <system_error>
#include <utility>

namespace hopshot {

namespace fs = std::filesystem;

namespace {

// The date and time, the repeat within that second, and the score.
const std::regex& keptPattern() {
    static const std::regex r(R"(^(\d{4}-\d{2}-\d{2}_\d{6})(?:-(\d{1,4}))?_score_-?\d{1,10}\.replay$)");
    return r;
}

constexpr char kWritingPrefix[] = ".writing-";   // a kept game being written, before its rename
constexpr auto kWritingLeftoverAge = std::chrono::minutes(1);   // a write takes milliseconds

}  // namespace

std::string keptGamesDir() {
    const std::string data = dataHome();
    return data.empty() ? data : data + "/replays";
}

std::string keptGameName(std::time_t when, int32_t score, int repeat) {
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H%M%S", &local);
    std::string name = stamp;
    if (repeat > 1) name += "-" + std::to_string(repeat);
    return name + "_score_" + std::to_string(score) + ".replay";
}

std::vector<std::string> keptGames(const std::string& dir) {
    // Sorted by the time in the name, then by the repeat within that second.
    std::vector<std::pair<std::pair<std::string, int>, std::string>> found;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::smatch m;
        if (!std::regex_match(name, m, keptPattern())) continue;
        if (!it->is_regular_file(ec)) continue;
        const int repeat = m[2].matched ? std::atoi(m[2].str().c_str()) : 1;
        found.push_back({{m[1].str(), repeat}, it->path().string()});
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& f : found) paths.push_back(std::move(f.second));
    return paths;
}

bool keepGame(const std::string& dir, const std::string& text, std::time_t when, int32_t score,
              int keep, std::string& error, std::string* written) {
    std::error_code ec;
    if (dir.empty()) {
        error = "no folder for the kept games (neither XDG_DATA_HOME nor HOME is set)";
        return false;
    }
    fs::create_directories(dir, ec);
    if (ec) {
        error = dir + ": " + ec.message();
        return false;
    }
    // A game that ends in the same second as kept ones, whatever their scores, comes after them.
    const std::string stamp = keptGameName(when, 0).substr(0, 17);
    int repeat = 1;
    for (const std::string& kept : keptGames(dir)) {
        std::smatch m;
        const std::string name = fs::path(kept).filename().string();
        if (std::regex_match(name, m, keptPattern()) && m[1].str() == stamp)
            repeat = std::max(repeat, (m[2].matched ? std::atoi(m[2].str().c_str()) : 1) + 1);
    }
    if (repeat > 9999) {
        error = dir + ": too many games in one second";
        return false;
    }
    const fs::path path = fs::path(dir) / keptGameName(when, score, repeat);
    // Written beside and renamed into place, so a half-written file is never a kept game.
    const fs::path part = fs::path(dir) / (kWritingPrefix + path.filename().string());
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            fs::remove(part, ec);
            error = part.string() + ": cannot be written";
            return false;
        }
    }
    fs::rename(part, path, ec);
    if (ec) {
        fs::remove(part, ec);
        error = path.string() + ": " + ec.message();
        return false;
    }
    if (written) *written = path.string();

    std::vector<std::string> kept = keptGames(dir);
    for (size_t i = 0; i + size_t(std::max(keep, 1)) < kept.size(); ++i) fs::remove(kept[i], ec);
    return true;
}

int removeWritingLeftovers(const std::string& dir) {
    int removed = 0;
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        if (it->path().filename().string().rfind(kWritingPrefix, 0) != 0 ||
            !it->is_regular_file(kind))
            continue;
        const auto written = fs::last_write_time(it->path(), kind);
        if (!kind && now - written > kWritingLeftoverAge && fs::remove(it->path(), kind)) ++removed;
    }
    return removed;
}

}  // namespace hopshot
