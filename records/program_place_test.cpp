// Where the program finds its assets, for each way it can stand: as built, installed under a
// prefix, installed by the Debian package, or alone.
#include "records/program_place.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include <unistd.h>

namespace hopshot {
namespace {

namespace fs = std::filesystem;

TEST(ProgramPlace, FindsTheAssetsBesideItselfOrInEitherInstalledPlace) {
    struct Case {
        const char* name;
        const char* program;                // the program's folder, under the tree
        std::vector<const char*> meshes;    // folders that hold ground.x
        const char* assets;                 // where it should look ("" for beside itself)
        bool installed;
    };
    const Case cases[] = {
        {"as built", "build", {"build", "share/hopshot"}, "", false},
        {"under a prefix", "prefix/bin", {"prefix/share/hopshot"}, "prefix/share/hopshot", true},
        {"Debian's places for games", "usr/games", {"usr/share/games/hopshot"},
         "usr/share/games/hopshot", true},
        {"both installed places: the prefix's first", "usr/games",
         {"usr/share/hopshot", "usr/share/games/hopshot"}, "usr/share/hopshot", true},
        {"a folder without ground.x is none", "usr/games", {"usr/share/games"}, "", false},
        {"nowhere: beside itself all the same", "lonely/bin", {}, "", false},
    };
    for (const Case& c : cases) {
        const fs::path tree =
            fs::path(testing::TempDir()) / ("hopshot-place-" + std::to_string(getpid()));
        fs::remove_all(tree);
        fs::create_directories(tree / c.program);
        for (const char* folder : c.meshes) {
            fs::create_directories(tree / folder);
            std::ofstream(tree / folder / "ground.x") << "xof 0302txt 0064\n";
        }
        const ProgramPlace place = programPlaceOf((tree / c.program).string());
        EXPECT_EQ(place.dir, (tree / c.program).string()) << c.name;
        const fs::path expected = *c.assets ? fs::canonical(tree / c.assets) : tree / c.program;
        EXPECT_EQ(place.assets, expected.string()) << c.name;
        EXPECT_EQ(place.installed, c.installed) << c.name;
        fs::remove_all(tree);
    }
}

TEST(ProgramPlace, AnUnknownFolderIsTheCurrentOne) {
    EXPECT_EQ(programPlaceOf("").dir, ".");
}

}  // namespace
}  // namespace hopshot
