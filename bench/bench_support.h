// What both benchmarks need: where the meshes are, and the process's CPU time.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace hopshot::bench {

// The repository's assets, or HOPSHOT_ASSETS when set.
inline std::string assetsDir() {
    const char* dir = std::getenv("HOPSHOT_ASSETS");
    return dir && *dir ? dir : HOPSHOT_ASSETS_DIR;
}

// CPU time of the whole process, Mesa's drawing threads included.
inline double processCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

}  // namespace hopshot::bench
