#include "records/program_place.h"

#include <filesystem>

namespace hopshot {

ProgramPlace programPlace() {
    namespace fs = std::filesystem;
    std::error_code ec;
    ProgramPlace place;
    place.dir = fs::read_symlink("/proc/self/exe", ec).parent_path().string();
    if (ec || place.dir.empty()) place.dir = std::string(".");   // a literal trips a false -Wrestrict of GCC 12
    place.assets = place.dir;
    const fs::path shared = fs::path(place.dir) / "../share/hopshot";
    if (!fs::exists(fs::path(place.dir) / "ground.x", ec) && fs::exists(shared / "ground.x", ec)) {
        place.assets = fs::canonical(shared, ec).string();
        place.installed = !ec;
        if (ec) place.assets = place.dir;
    }
    return place;
}

}  // namespace hopshot
