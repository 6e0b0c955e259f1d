// Where the program finds its assets, for each way it can stand: as built, installed under a
// prefix, installed by the Debian package, or alone.
#include "records/program_place.h"

#include "records/records.h"

#include <gtest/gtest.h>

#include <cstdlib>
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

// The data home, and the high-score file and kept games that live in it, from one reading of
// the environment: each variable set, unset, empty or relative.
TEST(ProgramPlace, TheDataHomeFollowsTheEnvironmentForEveryFileKeptThere) {
    struct Case {
        const char* xdg;    // null: unset
        const char* home;   // null: unset
        const char* data;   // the data home expected
    };
    const Case cases[] = {
        {"/x/data", "/h", "/x/data/hopshot"},
        {nullptr, "/h", "/h/.local/share/hopshot"},
        {"relative/data", "/h", "/h/.local/share/hopshot"},
        {"", "/h", "/h/.local/share/hopshot"},
        {"/x/data", nullptr, "/x/data/hopshot"},
        {nullptr, "", ""},
        {"relative/data", nullptr, ""},
    };
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "", savedHome = oldHome ? oldHome : "";
    auto put = [](const char* name, const char* value) {
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    };
    for (const Case& c : cases) {
        put("XDG_DATA_HOME", c.xdg);
        put("HOME", c.home);
        EXPECT_EQ(dataHome(), c.data) << (c.xdg ? c.xdg : "-") << " " << (c.home ? c.home : "-");
        // With no data home, an installed program's records stay in its own folder.
        const RecordsPlace place = recordsPlace("/prog", false);
        EXPECT_EQ(place.writePath, std::string(*c.data ? c.data : "/prog") + "/gun3.x");
    }
    put("XDG_DATA_HOME", oldXdg ? savedXdg.c_str() : nullptr);
    put("HOME", oldHome ? savedHome.c_str() : nullptr);
}

}  // namespace
}  // namespace hopshot
