// Replays fuzz inputs through a target, as part of the ordinary test run:
//   fuzz_regressions TARGET DIR...   (TARGET: script, records, mesh, network, meet or turn)
// Feeds every file in the folders to the target; a broken promise aborts, which fails the test.
//   fuzz_regressions --seeds meet DIR   writes the meeting target's seeds into DIR
#include "fuzz/fuzz_targets.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using Target = int (*)(const uint8_t*, size_t);
    if (argc < 3) {
        std::fprintf(stderr, "usage: fuzz_regressions script|records|mesh|network|meet|turn DIR...\n");
        return 2;
    }
    const std::string name = argv[1];
    if (name == "--seeds" && std::string(argv[2]) == "meet" && argc == 4) {
        for (const auto& [file, bytes] : hopshot::fuzz::meetSeeds()) {
            std::ofstream out(std::filesystem::path(argv[3]) / file, std::ios::binary);
            out << bytes;
        }
        return 0;
    }
    const Target target = name == "script"    ? hopshot::fuzz::scriptParser
                          : name == "records" ? hopshot::fuzz::recordsFile
                          : name == "mesh"    ? hopshot::fuzz::meshFile
                          : name == "network" ? hopshot::fuzz::networkMessages
                          : name == "meet"    ? hopshot::fuzz::meetMessages
                          : name == "turn"    ? hopshot::fuzz::turnClient
                                              : nullptr;
    if (!target) {
        std::fprintf(stderr, "fuzz_regressions: no target %s\n", name.c_str());
        return 2;
    }
    std::vector<std::filesystem::path> files;
    for (int i = 2; i < argc; ++i)
        if (std::filesystem::is_directory(argv[i]))
            for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
                if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        std::printf("%s\n", file.filename().c_str());
        std::fflush(stdout);
        target(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%s: %zu inputs replayed\n", name.c_str(), files.size());
    return files.empty() ? 1 : 0;
}
