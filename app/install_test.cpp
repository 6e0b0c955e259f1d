// Installing as a packager would: `cmake --install` into a fresh prefix puts the program in bin,
// its assets in share/hopshot, a menu entry and AppStream metadata that their validators pass,
// icons of the sizes their folders name, and the manual page. The installed program, started
// from another folder, finds its title picture and meshes, and where it cannot write its own
// folder it keeps the high scores in $XDG_DATA_HOME/hopshot/.
#include "testing/gui_test_support.h"
#include "testing/private_display.h"

#include <QImage>

#include <gtest/gtest.h>

#include <sys/stat.h>

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
                              "gun.wav", "bomb.wav"})
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
    for (const char* text : {"HOPSHOT(6)", "--players", "--scale", "--fullscreen", "--calm"})
        EXPECT_NE(page.find(text), std::string::npos) << text;
}

TEST_F(Installed, TheProgramStartedElsewhereFindsItsAssetsAndKeepsItsRecordsInTheDataHome) {
    if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    // A player who cannot write the program's folder, starting it from a folder of their own.
    const fs::path home = prefix / "home", elsewhere = prefix / "elsewhere";
    fs::create_directories(home / "data");
    fs::create_directories(elsewhere);
    fs::permissions(prefix, fs::perms::all, fs::perm_options::add);   // nobody reads the prefix
    fs::permissions(home, fs::perms::all, fs::perm_options::add);
    fs::permissions(home / "data", fs::perms::all, fs::perm_options::add);
    fs::permissions(elsewhere, fs::perms::all, fs::perm_options::add);
    fs::permissions(prefix / "bin", fs::perms::owner_write | fs::perms::group_write |
                                        fs::perms::others_write, fs::perm_options::remove);
    std::vector<std::string> args{(prefix / "bin/hopshot").string(), "--nosound"};
    if (geteuid() == 0)   // root writes any folder: play as a user who cannot
        args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
                                   "--clear-groups"});

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

    // The title picture, from share/hopshot.
    const QImage title(guitest::assetsDir() + QStringLiteral("/title.bmp"));
    QImage shot = x.screenshot(testing::TempDir() + "hopshot-installed.png");
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
    shot = x.screenshot(testing::TempDir() + "hopshot-installed-game.png");
    int green = 0;
    for (int y = client.y() + menu + 50; y < client.y() + client.height(); y += 4)
        for (int x0 = client.x(); x0 < client.x() + 640; x0 += 4) {
            const QColor c = shot.pixelColor(x0, y);
            if (c.green() > c.red() + 25 && c.green() > c.blue() + 25) ++green;
        }
    EXPECT_GT(green, 160 * 107 / 5) << "the ground covers a fifth of the view at least";

    kill(child->pid, SIGTERM);
    ASSERT_TRUE(child->waitEnd(10000));
    EXPECT_TRUE(child->exitedWith(0)) << child->err();
    EXPECT_TRUE(fs::exists(home / "data/hopshot/gun3.x")) << child->err();
    EXPECT_FALSE(fs::exists(prefix / "bin/gun3.x"));
    EXPECT_FALSE(fs::exists(elsewhere / "gun3.x"));
}

}  // namespace
}  // namespace hopshot
