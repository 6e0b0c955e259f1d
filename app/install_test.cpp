// Installing as a packager would: `cmake --install` into a fresh prefix puts the program in bin,
// its assets in share/hopshot, a menu entry and AppStream metadata that their validators pass,
// icons of the sizes their folders name, and the manual page. The installed program, started
// from another folder, finds its title picture and meshes, and keeps its high scores and kept
// games in $XDG_DATA_HOME/hopshot/, never beside itself. The Debian package holds the same in
// Debian's places for a game, with what Debian's policy asks, and lintian passes it. A package
// build (BUILD_TESTING off) needs none of the tests' tools.
#include "play/kept_games.h"
#include "testing/gui_test_support.h"
#include "testing/private_display.h"

#include <QImage>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <regex>

namespace hopshot {
namespace {

namespace fs = std::filesystem;
using guitest::sh;
using guitest::shOut;

constexpr const char* kAppId = "io.github.hopshot.HopShot";

class Installed : public ::testing::Test {
protected:
    void SetUp() override {
        prefix = fs::path(testing::TempDir()) / ("hopshot-prefix-" + std::to_string(getpid()));
        fs::remove_all(prefix);
        ASSERT_TRUE(sh("cmake --install " HOPSHOT_BUILD_DIR " --prefix " + prefix.string() +
                       " > " + (prefix.string() + ".log") + " 2>&1"))
            << guitest::Child::slurp(prefix.string() + ".log");
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(prefix / "bin", fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(prefix, ec);
    }
    fs::path prefix;
};

TEST_F(Installed, EverythingGoesWhereTheDesktopLooksAndTheValidatorsPassIt) {
    EXPECT_TRUE(fs::exists(prefix / "bin/hopshot"));
    for (const char* asset : {"title.bmp", "title-large.png", "ground.x", "tank.x", "zibzib.x",
                              "gun.wav", "bomb.wav", "title-english.png", "hopshot_en.qm"})
        EXPECT_TRUE(fs::exists(prefix / "share/hopshot" / asset)) << asset;
    EXPECT_FALSE(fs::exists(prefix / "bin/ground.x"));   // the assets are not beside it

    const fs::path desktop = prefix / "share/applications" / (std::string(kAppId) + ".desktop");
    const fs::path metainfo = prefix / "share/metainfo" / (std::string(kAppId) + ".metainfo.xml");
    ASSERT_TRUE(fs::exists(desktop));
    ASSERT_TRUE(fs::exists(metainfo));
    EXPECT_EQ(shOut("desktop-file-validate " + desktop.string() + " 2>&1; echo $?"), "0");
    const std::string appstream = shOut("appstreamcli validate --no-net " + metainfo.string() +
                                        " 2>&1; echo \"status $?\"");
    EXPECT_NE(appstream.find("status 0"), std::string::npos) << appstream;

    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string dir = std::to_string(size) + "x" + std::to_string(size);
        const QImage icon(QString::fromStdString(
            (prefix / "share/icons/hicolor" / dir / "apps" / (std::string(kAppId) + ".png")).string()));
        EXPECT_EQ(icon.size(), QSize(size, size)) << dir;
    }

    const fs::path man = prefix / "share/man/man6/hopshot.6";
    ASSERT_TRUE(fs::exists(man));
    const std::string page = shOut("MANWIDTH=80 man -l " + man.string() + " 2>/dev/null");
    for (const char* text : {"HOPSHOT(6)", "--players", "--scale", "--fullscreen", "--calm",
                             "CONTROLS", "F11", "MENUS", "NETWORK PLAY", "REPLAYS", "EXIT STATUS",
                             "ENVIRONMENT", "FILES", "gun3.x"})
        EXPECT_NE(page.find(text), std::string::npos) << text;

    // A task bar matches the window to its menu entry by the window's class; a second entry
    // starts the game silent, for a machine without a sound device.
    const std::string entry = guitest::Child::slurp(desktop.string());
    for (const char* line : {"\nStartupWMClass=hopshot\n", "\nActions=nosound;\n",
                             "\n[Desktop Action nosound]\nName=HopShot (no sound)\n"
                             "Exec=hopshot --nosound\n"})
        EXPECT_NE(entry.find(line), std::string::npos) << line;
    // What the manual says of network play is what the game does: own keys act at once.
    const std::string wide = shOut("MANWIDTH=1000 man -l " + man.string() + " 2>/dev/null");
    EXPECT_NE(wide.find("own keys act at once on its own screen"), std::string::npos);

    // The software centre's licence, homepage, developers and screenshots: each screenshot is a
    // file of the source tree, taken from the game at its own size, small enough to fetch.
    const std::string meta = guitest::Child::slurp(metainfo.string());
    for (const char* tag : {"<project_license>MIT</project_license>",
                            "<metadata_license>CC0-1.0</metadata_license>",
                            "<url type=\"homepage\">", "<developer_name>"})
        EXPECT_NE(meta.find(tag), std::string::npos) << tag;
    const std::regex shot("/main/(dist/screenshots/[a-z]+\\.png)</image>");
    int shots = 0;
    for (auto m = std::sregex_iterator(meta.begin(), meta.end(), shot); m != std::sregex_iterator();
         ++m, ++shots) {
        const fs::path file = fs::path(HOPSHOT_SOURCE_DIR) / (*m)[1].str();
        EXPECT_EQ(QImage(QString::fromStdString(file.string())).size(), QSize(640, 480)) << file;
        EXPECT_LT(fs::file_size(file), 300u * 1024) << file;
    }
    EXPECT_EQ(shots, 2);
}

// What a player does with a fresh install: starts the program (args) from a folder of their
// own, sees the title picture, plays a moment, stops the game with Esc and ends the program with
// SIGTERM, as a logout does. The caller looks at what was left where.
void playOnceAndClose(const std::vector<std::string>& args, const fs::path& home,
                      const fs::path& elsewhere) {
    guitest::PrivateDisplay x(800, 600, false);
    ASSERT_TRUE(x.ok());
    auto child = x.start(args,
                         {"LIBGL_ALWAYS_SOFTWARE=1", "SDL_AUDIODRIVER=dummy",
                          "HOME=" + home.string(), "XDG_DATA_HOME=" + (home / "data").string(),
                          "XDG_RUNTIME_DIR=" + home.string()},
                         elsewhere.string());
    const unsigned long window = x.windowOf(*child);
    ASSERT_NE(window, 0u) << child->err();
    const QRect client = x.geometryOf(window);
    const int menu = client.height() - 480;
    guitest::pump(500);

    // The class the menu entry names (StartupWMClass), and an icon of the window's own.
    const std::string props = shOut(x.env() + "xprop -id " + std::to_string(window) +
                                    " WM_CLASS _NET_WM_ICON | head -2");
    EXPECT_NE(props.find("WM_CLASS(STRING) = \"hopshot\", \"hopshot\""), std::string::npos) << props;
    EXPECT_NE(props.find("_NET_WM_ICON(CARDINAL) = "), std::string::npos) << props;

    // The title picture, from share/hopshot.
    const QImage title(guitest::assetsDir() + QStringLiteral("/title.bmp"));
    // Tests run side by side: each keeps its pictures under its own home's name.
    const std::string shots = testing::TempDir() + home.parent_path().filename().string();
    QImage shot = x.screenshot(shots + "-installed.png");
    ASSERT_FALSE(shot.isNull());
    int differ = 0;
    for (int y = 0; y < 480; ++y)
        for (int x0 = 0; x0 < 640; ++x0)
            if ((shot.pixel(client.x() + x0, client.y() + menu + y) & 0xffffff) !=
                (title.pixel(x0, y) & 0xffffff))
                ++differ;
    EXPECT_EQ(differ, 0) << "pixels unlike the title picture, the window at " << client.x() << ","
                         << client.y() << " " << client.width() << "x" << client.height();

    // A game: the field's meshes load, and the green of the ground fills much of the view.
    ASSERT_TRUE(sh(x.env() + "xdotool windowfocus --sync " + std::to_string(window) + " key ctrl+s"));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    shot = x.screenshot(shots + "-installed-game.png");
    int green = 0;
    for (int y = client.y() + menu + 50; y < client.y() + client.height(); y += 4)
        for (int x0 = client.x(); x0 < client.x() + 640; x0 += 4) {
            const QColor c = shot.pixelColor(x0, y);
            if (c.green() > c.red() + 25 && c.green() > c.blue() + 25) ++green;
        }
    EXPECT_GT(green, 160 * 107 / 5) << "the ground covers a fifth of the view at least";
    ASSERT_TRUE(sh(x.env() + "xdotool key Escape"));   // a game stopped with Esc is kept
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    kill(child->pid, SIGTERM);
    ASSERT_TRUE(child->waitEnd(10000));
    EXPECT_TRUE(child->exitedWith(0)) << child->err();
}

std::vector<std::string> filesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// The records and the kept game in the data home, and nothing beside the program or where the
// player started it.
void expectOnlyTheDataHomeWritten(const fs::path& bin, const fs::path& home, const fs::path& elsewhere) {
    EXPECT_TRUE(fs::exists(home / "data/hopshot/gun3.x"));
    EXPECT_EQ(keptGames((home / "data/hopshot/replays").string()).size(), 1u);
    EXPECT_EQ(filesIn(bin), (std::vector<std::string>{"hopshot"}));
    EXPECT_EQ(filesIn(elsewhere), std::vector<std::string>{});
}

// Installed under a prefix the player can write (the README's ~/.local) or one they cannot
// (/usr/local for anyone but root): the program writes in the data home only, either way.
class InstalledFor : public Installed, public ::testing::WithParamInterface<bool> {};

TEST_P(InstalledFor, TheProgramStartedElsewhereFindsItsAssetsAndKeepsItsFilesInTheDataHome) {
    if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    const bool binWritable = GetParam();
    const fs::path home = prefix / "home", elsewhere = prefix / "elsewhere";
    fs::create_directories(home / "data");
    fs::create_directories(elsewhere);
    std::vector<std::string> args{(prefix / "bin/hopshot").string(), "--nosound"};
    if (!binWritable) {
        fs::permissions(prefix, fs::perms::all, fs::perm_options::add);   // nobody reads the prefix
        fs::permissions(home, fs::perms::all, fs::perm_options::add);
        fs::permissions(home / "data", fs::perms::all, fs::perm_options::add);
        fs::permissions(elsewhere, fs::perms::all, fs::perm_options::add);
        fs::permissions(prefix / "bin", fs::perms::owner_write | fs::perms::group_write |
                                            fs::perms::others_write, fs::perm_options::remove);
        if (geteuid() == 0)   // root writes any folder: play as a user who cannot
            args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
                                       "--clear-groups"});
    } else {
        ASSERT_EQ(::access((prefix / "bin").c_str(), W_OK), 0);
    }
    playOnceAndClose(args, home, elsewhere);
    if (HasFatalFailure()) return;
    expectOnlyTheDataHomeWritten(prefix / "bin", home, elsewhere);
}

INSTANTIATE_TEST_SUITE_P(Prefix, InstalledFor, ::testing::Values(true, false),
                         [](const auto& info) {
                             return std::string(info.param ? "Writable" : "ReadOnly");
                         });

// The Debian package, made as a packager would (`cpack -G DEB` in the build folder): it holds
// the whole install under /usr in Debian's places for a game, with a copyright file, a
// changelog and a compressed manual page; lintian finds no error or warning in it, nor a
// missing hardening; it names the libraries it needs, and the program unpacked from it runs by
// itself from /usr/games: its help, a headless script and a game in the window.
TEST(Package, TheDebianPackageHoldsTheGameUnderUsrAndItsProgramRuns) {
    const std::string cpack = HOPSHOT_CPACK;
    if (!fs::exists(cpack)) GTEST_SKIP() << "no cpack at " << cpack << ": the package is not made";
    const fs::path work = fs::path(testing::TempDir()) / ("hopshot-package-" + std::to_string(getpid()));
    fs::remove_all(work);
    fs::create_directories(work / "made");
    const std::string log = (work / "cpack.log").string();
    ASSERT_TRUE(sh("cd " HOPSHOT_BUILD_DIR " && " + cpack + " -G DEB -B " + (work / "made").string() +
                   " > " + log + " 2>&1"))
        << guitest::Child::slurp(log);
    fs::path deb;
    for (const auto& entry : fs::directory_iterator(work / "made"))
        if (entry.path().extension() == ".deb") deb = entry.path();
    ASSERT_FALSE(deb.empty()) << guitest::Child::slurp(log);

    const std::string contents = shOut("dpkg-deb -c " + deb.string()) + "\n";
    const std::string id = kAppId;
    const std::vector<std::string> files = {
        "./usr/games/hopshot", "./usr/share/games/hopshot/ground.x",
        "./usr/share/games/hopshot/title.bmp", "./usr/share/games/hopshot/gun.wav",
        "./usr/share/applications/" + id + ".desktop", "./usr/share/metainfo/" + id + ".metainfo.xml",
        "./usr/share/icons/hicolor/256x256/apps/" + id + ".png", "./usr/share/man/man6/hopshot.6.gz",
        "./usr/share/doc/hopshot/copyright", "./usr/share/doc/hopshot/changelog.Debian.gz",
        "./usr/share/lintian/overrides/hopshot", "./usr/sbin/hopshot-meet",
        "./usr/share/man/man8/hopshot-meet.8.gz", "./usr/lib/systemd/system/hopshot-meet.service"};
    for (const std::string& file : files)
        EXPECT_NE(contents.find(" " + file + "\n"), std::string::npos) << file << "\n" << contents;
    for (const char* gone : {" ./usr/bin/hopshot\n", " ./usr/share/hopshot/", " ./usr/share/man/man6/hopshot.6\n"})
        EXPECT_EQ(contents.find(gone), std::string::npos) << gone << "\n" << contents;

    // lintian, Debian's own check: no error, no warning, and (shown among its notes) no
    // hardening missing from the program.
    const std::string lint = shOut("lintian --display-info " + deb.string() + " 2>&1; echo status $?");
    EXPECT_NE(lint.find("status 0"), std::string::npos) << lint;
    EXPECT_FALSE(std::regex_search(lint, std::regex("(^|\n)[EW]: "))) << lint;
    EXPECT_EQ(lint.find("hardening-"), std::string::npos) << lint;
    // The changelog's latest entry is this version, and its maintainer the package's.
    const std::string changelog =
        shOut("dpkg-deb --fsys-tarfile " + deb.string() +
              " | tar -xO ./usr/share/doc/hopshot/changelog.Debian.gz | gzip -dc");
    EXPECT_EQ(changelog.rfind("hopshot (" + shOut("dpkg-deb -f " + deb.string() + " Version") + ") ", 0), 0u)
        << changelog;
    EXPECT_NE(changelog.find(" -- " + shOut("dpkg-deb -f " + deb.string() + " Maintainer") + "  "),
              std::string::npos) << changelog;
    // The meeting service's unit starts the program where the package puts it.
    const std::string unit = shOut("dpkg-deb --fsys-tarfile " + deb.string() +
                                   " | tar -xO ./usr/lib/systemd/system/hopshot-meet.service");
    EXPECT_NE(unit.find("\nExecStart=/usr/sbin/hopshot-meet --listen "), std::string::npos) << unit;
    const std::string depends = shOut("dpkg-deb -f " + deb.string() + " Depends");
    for (const char* package : {"libqt6widgets6", "libqt6gui6", "libqt6core6", "libsdl2-mixer-2.0-0",
                                "libassimp5", "libenet7", "fonts-ipafont-gothic"})
        EXPECT_NE(depends.find(package), std::string::npos) << package << " in " << depends;

    const fs::path root = work / "root", home = work / "home", elsewhere = work / "elsewhere";
    ASSERT_TRUE(sh("dpkg-deb -x " + deb.string() + " " + root.string()));
    fs::create_directories(home / "data");
    fs::create_directories(elsewhere);
    const std::string program = (root / "usr/games/hopshot").string();
    EXPECT_EQ(shOut(program + " --help | head -1"), "Usage: hopshot [OPTION]...");

    // A headless run from the player's folder keeps its records in the data home.
    std::ofstream(elsewhere / "short.replay") << "players 1 0 0 0\ngame\nat 1 key down 17 2\n";
    const std::string out = shOut("cd " + elsewhere.string() + " && XDG_DATA_HOME=" +
                                  (home / "data").string() + " " + program +
                                  " --headless short.replay --steps 100; echo status $?");
    EXPECT_NE(out.find("game 1: score 0, 100 steps"), std::string::npos) << out;
    EXPECT_NE(out.find("status 0"), std::string::npos) << out;
    EXPECT_TRUE(fs::exists(home / "data/hopshot/gun3.x")) << out;
    fs::remove(elsewhere / "short.replay");
    fs::remove(home / "data/hopshot/gun3.x");

    if (!guitest::app()) GTEST_SKIP() << "the window needs an X display: run under xvfb-run";
    playOnceAndClose({program, "--nosound"}, home, elsewhere);
    if (HasFatalFailure()) return;
    expectOnlyTheDataHomeWritten(root / "usr/games", home, elsewhere);
    fs::remove_all(work);
}

// A packager's build: with BUILD_TESTING off the project configures where neither GoogleTest,
// Google Benchmark nor Python can be found, and makes the game and no test, benchmark or fuzz
// program; with it on (a developer's build), the same search fails for want of GoogleTest.
TEST(PackageBuild, WithoutTestingItNeedsNoTestToolsAndMakesNoTestProgram) {
    const fs::path dir = fs::path(testing::TempDir()) / ("hopshot-notest-" + std::to_string(getpid()));
    const std::string withoutTools =
        " -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON"
        " -DCMAKE_DISABLE_FIND_PACKAGE_Python3=ON";
    struct Case { const char* testing; bool configures; };
    for (const Case c : {Case{"OFF", true}, Case{"ON", false}}) {
        fs::remove_all(dir);
        const std::string log = dir.string() + ".log";
        const bool configured =
            sh(std::string(HOPSHOT_CMAKE) + " -S " HOPSHOT_SOURCE_DIR " -B " + dir.string() +
               " -DBUILD_TESTING=" + c.testing + withoutTools + " > " + log + " 2>&1");
        EXPECT_EQ(configured, c.configures) << c.testing << "\n" << guitest::Child::slurp(log);
        if (!configured) continue;
        const std::string targets =
            shOut(std::string(HOPSHOT_CMAKE) + " --build " + dir.string() + " --target help") + "\n";
        for (const char* made : {"hopshot", "manpage", "package"})
            EXPECT_NE(targets.find("... " + std::string(made) + "\n"), std::string::npos) << made;
        for (const char* test : {"test", "app_tests", "records_tests", "net_tests", "check_meshes",
                                 "fuzz_regressions", "frame_step_bench", "snapshot_bench",
                                 "lockstep_bench"})
            EXPECT_EQ(targets.find("... " + std::string(test) + "\n"), std::string::npos) << test;
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace hopshot
