#include "records/program_place.h"

#include <cstdlib>
#include <filesystem>

namespace hopshot {

ProgramPlace programPlaceOf(const std::string& dir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    ProgramPlace place;
    place.dir = dir.empty() ? std::string(".") : dir;   // a literal trips a false -Wrestrict of GCC 12
    place.assets = place.dir;
    if (fs::exists(fs::path(place.dir) / "ground.x", ec)) return place;
    // <prefix>/bin beside <prefix>/share/hopshot, or Debian's /usr/games beside
    // /usr/share/games/hopshot.
    for (const char* shared : {"../share/hopshot", "../share/games/hopshot"}) {
        const fs::path assets = fs::path(place.dir) / shared;
        if (!fs::exists(assets / "ground.x", ec)) continue;
        const fs::path canonical = fs::canonical(assets, ec);
        if (ec) continue;
        place.assets = canonical.string();
        place.installed = true;
        break;
    }
    return place;
}

std::string dataHome() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg == '/') return std::string(xdg) + "/hopshot";
    const char* home = std::getenv("HOME");
    if (!home || !*home) return {};
    return std::string(home) + "/.local/share/hopshot";
}

ProgramPlace programPlace() {
    std::error_code ec;
    const std::string dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
    return programPlaceOf(ec ? std::string() : dir);
}

}  // namespace hopshot
