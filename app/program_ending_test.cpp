// The program's start and end as a player meets them, run as a child process in a directory of
// its own: the boxes of a missing sound device and a missing wave, the high-score file read at
// start and written at every kind of end, and a headless run that sets a record.
#include "audio/sound.h"
#include "testing/ending_test_support.h"
#include "records/records.h"

#include <gtest/gtest.h>

#include <regex>

namespace hopshot {
namespace {

using guitest::Child;
using guitest::ProgramDir;
using guitest::waitFor;
namespace fs = std::filesystem;

const std::map<std::string, std::string> kSilentDevice = {{"SDL_AUDIODRIVER", "dummy"}};
const std::string kRecords = "TARO\r\n 12345\r\nHANAKO\r\n 800\r\n";

// The child's window as shown shows the title picture: the picture beside the program fills the
// area below the menu bar (sampled on a grid).
bool showsTitle(unsigned long window, const ProgramDir& dir) {
    const QImage title(dir.qpath() + QStringLiteral("/title.bmp"));
    const QImage shot = guitest::grabShown(window);
    if (shot.isNull() || title.isNull()) return false;
    const int top = shot.height() - 480;   // below the menu bar
    for (int y = 10; y < 480; y += 60)
        for (int x = 10; x < 640; x += 80)
            if (shot.pixelColor(x, top + y) != title.pixelColor(x, y)) return false;
    return true;
}

// A game runs in it: the 3D view has taken the title picture's place.
bool showsTheGame(unsigned long window, const ProgramDir& dir) {
    return !showsTitle(window, dir);
}

// Gives the window the keyboard and presses one key there.
bool pressIn(unsigned long window, const char* key) {
    return guitest::focusWindow(window) && guitest::sh(std::string("xdotool key ") + key);
}

class ProgramStart : public ::testing::Test {
protected:
    void SetUp() override {
        if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    }
    ProgramDir dir{true};
};

TEST_F(ProgramStart, WithNoSoundDeviceItWarnsThenFailsAndEndsWithoutShowingItsWindow) {
    const auto warning = guitest::expectedBox(QMessageBox::Warning, QString(),
                                              QString::fromUtf8(kNoSoundDeviceText));
    const auto failure = guitest::expectedBox(QMessageBox::Critical, QStringLiteral("Error"),
                                              QStringLiteral("DirectSound起動失敗！"));
    auto child = dir.start({}, {{"SDL_AUDIODRIVER", "nonexistent"}});
    bool windowShown = false;
    auto noWindowYet = [&] {
        for (const auto& [id, name] : guitest::shownWindows(*child))
            if (name == "HopShot") windowShown = true;
        return !windowShown;
    };

    // First the sound module's warning, with no title of its own: the toolkit names it after the
    // program. The window's own box is not up yet.
    const auto first = guitest::waitForWindow(*child, "hopshot", 15000);
    ASSERT_TRUE(first) << child->err();
    QImage shown;
    EXPECT_TRUE(guitest::showsBox(*first, warning, shown, 5000));
    guitest::keepShot(shown, "no-sound-warning");
    EXPECT_EQ(guitest::shownWindows(*child).size(), 1u);
    EXPECT_TRUE(noWindowYet());

    // Return closes it; then "DirectSound起動失敗！" titled "Error".
    ASSERT_TRUE(pressIn(*first, "Return"));
    const auto second = guitest::waitForWindow(*child, "Error", 5000);
    ASSERT_TRUE(second);
    EXPECT_TRUE(guitest::showsBox(*second, failure, shown, 5000));
    guitest::keepShot(shown, "no-sound-failure");
    EXPECT_EQ(guitest::shownWindows(*child).size(), 1u) << "the warning is still up";
    EXPECT_TRUE(noWindowYet());

    // Return again: the program ends with a failure, and its window never showed.
    ASSERT_TRUE(pressIn(*second, "Return"));
    bool ended = false;
    waitFor([&] {
        noWindowYet();
        return ended = child->waitEnd(0);
    }, 10000);
    ASSERT_TRUE(ended) << "still running after both boxes";
    EXPECT_FALSE(windowShown) << "the title picture was shown";
    ASSERT_TRUE(WIFEXITED(child->status)) << "ended by a signal";
    EXPECT_NE(WEXITSTATUS(child->status), 0);
    EXPECT_FALSE(fs::exists(dir.path("gun3.x"))) << "the records are read after the sound";
    // Whoever started it from a terminal learns the way round.
    EXPECT_NE(child->err().find("start the game with --nosound"), std::string::npos) << child->err();
}

TEST_F(ProgramStart, NoSoundStartsWhereNoDeviceCanOpen) {
    auto child = dir.start({"--nosound"}, {{"SDL_AUDIODRIVER", "nonexistent"}});
    const auto window = guitest::waitForWindow(*child, "HopShot", 15000);
    ASSERT_TRUE(window) << child->err();
    EXPECT_EQ(guitest::shownWindows(*child).size(), 1u) << "a box came up";
    EXPECT_TRUE(waitFor([&] { return showsTitle(*window, dir); }, 5000));
    ASSERT_TRUE(guitest::sendCloseRequest(uint32_t(*window)));
    ASSERT_TRUE(child->waitEnd(10000));
    EXPECT_TRUE(child->exitedWith(0)) << child->err();
}

TEST_F(ProgramStart, AMissingWaveIsNamedAndThenTheGameRuns) {
    fs::remove(dir.path("hit.wav"));
    // The box names the file and says why, in the words the sound device gives for it.
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    auto audio = makeSdlAudio();
    ASSERT_TRUE(audio->openDevice()) << audio->lastError();
    EXPECT_EQ(audio->createFromFile(dir.path("hit.wav"), WaveFormat{}), AudioService::kNoBuffer);
    const std::string why = audio->lastError();
    audio.reset();
    EXPECT_NE(why.find(dir.path("hit.wav")), std::string::npos) << why;
    const auto expected = guitest::expectedBox(
        QMessageBox::Warning, QString(),
        QString::fromStdString("効果音 \"hit.wav\" を読み込めません。\n" + why));

    auto child = dir.start({}, kSilentDevice);
    const auto box = guitest::waitForWindow(*child, "hopshot", 15000);
    ASSERT_TRUE(box) << child->err();
    QImage shown;
    EXPECT_TRUE(guitest::showsBox(*box, expected, shown, 5000));
    guitest::keepShot(shown, "missing-wave");
    EXPECT_EQ(guitest::shownWindows(*child).size(), 1u);
    ASSERT_TRUE(pressIn(*box, "Return"));

    // After OK the window comes, and a game starts and runs in it.
    const auto window = guitest::waitForWindow(*child, "HopShot", 10000);
    ASSERT_TRUE(window);
    EXPECT_EQ(guitest::shownWindows(*child).size(), 1u) << "another box came up";
    ASSERT_TRUE(waitFor([&] { return showsTitle(*window, dir); }, 5000));
    ASSERT_TRUE(pressIn(*window, "ctrl+s"));
    EXPECT_TRUE(waitFor([&] { return showsTheGame(*window, dir); }, 5000)) << "no game started";
    // It runs: the hoppers have moved a second later.
    const QImage before = guitest::grabShown(*window);
    guitest::pump(1000);
    EXPECT_TRUE(showsTheGame(*window, dir));
    EXPECT_NE(guitest::grabShown(*window), before);
    ASSERT_TRUE(guitest::sendCloseRequest(uint32_t(*window)));
    ASSERT_TRUE(child->waitEnd(10000));
    EXPECT_TRUE(child->exitedWith(0)) << child->err();
}

TEST_F(ProgramStart, AHighScoreFileThatCannotBeReadStopsItWithABoxNamingIt) {
    fs::create_directory(dir.path("gun3.x"));
    Records ignored;
    std::string why;
    ASSERT_FALSE(loadRecords(dir.path("gun3.x"), ignored, why));
    const auto expected = guitest::expectedBox(QMessageBox::Critical, QStringLiteral("HopShot"),
                                               QString::fromStdString(why));
    auto child = dir.start({"--nosound"});
    // The box has the window's title; the window itself is never shown.
    const auto box = guitest::waitForWindow(*child, "HopShot", 15000);
    ASSERT_TRUE(box) << child->err();
    EXPECT_EQ(guitest::shownWindows(*child).size(), 1u);
    QImage shown;
    EXPECT_TRUE(guitest::showsBox(*box, expected, shown, 5000)) << why;
    guitest::keepShot(shown, "unreadable-records");
    ASSERT_TRUE(pressIn(*box, "Return"));
    ASSERT_TRUE(child->waitEnd(10000));
    ASSERT_TRUE(WIFEXITED(child->status));
    EXPECT_NE(WEXITSTATUS(child->status), 0);
    EXPECT_TRUE(fs::is_directory(dir.path("gun3.x")));
}

// --- the high-score file at the end ---

// The window destroyed from outside: by a window manager or tool (its X window destroyed), or
// with its whole connection to the X server (as xkill does).
enum class Ending { CloseBox, Terminate, Interrupt, HangUp, WindowDestroyed, ClientKilled };

struct EndCase {
    Ending how;
    bool inGame;
};

std::string caseName(const EndCase& c) {
    static const char* names[] = {"CloseBox", "Sigterm", "Sigint", "Sighup", "WindowDestroyed",
                                  "ClientKilled"};
    return std::string(names[int(c.how)]) + (c.inGame ? "DuringAGame" : "Idle");
}
void PrintTo(const EndCase& c, std::ostream* os) { *os << caseName(c); }

class ProgramRecords : public ::testing::TestWithParam<EndCase> {
protected:
    void SetUp() override {
        if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    }
    ProgramDir dir{true};
};

TEST_P(ProgramRecords, EveryEndWritesTheRecordsBackAndEndsWithStatusZero) {
    dir.write("gun3.x", kRecords);
    const ino_t before = dir.inode("gun3.x");
    auto child = dir.start({}, kSilentDevice);
    const auto window = guitest::waitForWindow(*child, "HopShot", 15000);
    ASSERT_TRUE(window) << child->err();
    ASSERT_TRUE(waitFor([&] { return showsTitle(*window, dir); }, 5000));
    if (GetParam().inGame) {
        ASSERT_TRUE(pressIn(*window, "ctrl+s"));
        ASSERT_TRUE(waitFor([&] { return showsTheGame(*window, dir); }, 5000)) << "no game started";
        guitest::pump(500);
    }
    // While it runs the file is not touched.
    EXPECT_EQ(dir.inode("gun3.x"), before);
    switch (GetParam().how) {
    case Ending::CloseBox: ASSERT_TRUE(guitest::sendCloseRequest(uint32_t(*window))); break;
    case Ending::Terminate: ::kill(child->pid, SIGTERM); break;
    case Ending::Interrupt: ::kill(child->pid, SIGINT); break;
    case Ending::HangUp: ::kill(child->pid, SIGHUP); break;
    case Ending::WindowDestroyed:
        ASSERT_TRUE(guitest::sh("xdotool windowclose " + std::to_string(*window)));
        break;
    case Ending::ClientKilled:
        ASSERT_TRUE(guitest::sh("xdotool windowkill " + std::to_string(*window)));
        break;
    }
    ASSERT_TRUE(child->waitEnd(10000)) << "still running";
    EXPECT_TRUE(child->exitedWith(0)) << child->err();
    EXPECT_EQ(dir.read("gun3.x"), kRecords);
    EXPECT_NE(dir.inode("gun3.x"), before) << "the file was not written";
}

INSTANTIATE_TEST_SUITE_P(, ProgramRecords,
                         ::testing::Values(EndCase{Ending::CloseBox, false},
                                           EndCase{Ending::CloseBox, true},
                                           EndCase{Ending::Terminate, false},
                                           EndCase{Ending::Terminate, true},
                                           EndCase{Ending::Interrupt, false},
                                           EndCase{Ending::Interrupt, true},
                                           EndCase{Ending::HangUp, false},
                                           EndCase{Ending::HangUp, true},
                                           EndCase{Ending::WindowDestroyed, false},
                                           EndCase{Ending::WindowDestroyed, true},
                                           EndCase{Ending::ClientKilled, false},
                                           EndCase{Ending::ClientKilled, true}),
                         [](const auto& info) { return caseName(info.param); });

class ProgramRecordsFile : public ProgramStart {};

TEST_F(ProgramRecordsFile, AMissingFileStartsEmptyAndIsMadeAtClose) {
    auto child = dir.start({}, kSilentDevice);
    const auto window = guitest::waitForWindow(*child, "HopShot", 15000);
    ASSERT_TRUE(window) << child->err();
    EXPECT_EQ(guitest::shownWindows(*child).size(), 1u) << "a missing file is no error";
    EXPECT_FALSE(fs::exists(dir.path("gun3.x")));
    ASSERT_TRUE(guitest::sendCloseRequest(uint32_t(*window)));
    ASSERT_TRUE(child->waitEnd(10000));
    EXPECT_TRUE(child->exitedWith(0)) << child->err();
    EXPECT_EQ(dir.read("gun3.x"), "\r\n 0\r\n\r\n 0\r\n");
}

TEST_F(ProgramRecordsFile, ASaveThatFailsIsReportedNamingThePathAndTheProgramStillEnds) {
    dir.write("gun3.x", kRecords);
    auto child = dir.start({}, kSilentDevice);
    const auto window = guitest::waitForWindow(*child, "HopShot", 15000);
    ASSERT_TRUE(window) << child->err();
    // Read at start; now a directory stands where the file is written (the program runs as a
    // user who may write anywhere, so a read-only directory would not stop it).
    fs::remove(dir.path("gun3.x"));
    fs::create_directory(dir.path("gun3.x"));
    std::string why;
    ASSERT_FALSE(saveRecords(dir.path("gun3.x"), Records{}, why));
    EXPECT_NE(why.find(dir.path("gun3.x")), std::string::npos) << why;
    const auto expected = guitest::expectedBox(
        QMessageBox::Critical, QStringLiteral("HopShot"),
        QString::fromStdString(why + "\nThe records of this run are not saved."));

    ASSERT_TRUE(guitest::sendCloseRequest(uint32_t(*window)));
    // The box is the second window titled like the program's.
    std::optional<unsigned long> box;
    ASSERT_TRUE(waitFor([&] {
        for (const auto& [id, name] : guitest::shownWindows(*child))
            if (name == "HopShot" && id != *window) box = id;
        return box.has_value();
    }, 10000)) << child->err();
    QImage shown;
    EXPECT_TRUE(guitest::showsBox(*box, expected, shown, 5000));
    guitest::keepShot(shown, "records-not-saved");
    ASSERT_TRUE(pressIn(*box, "Return"));
    ASSERT_TRUE(child->waitEnd(10000)) << "still running after the box";
    EXPECT_TRUE(WIFEXITED(child->status)) << "ended by a signal";
    EXPECT_TRUE(fs::is_directory(dir.path("gun3.x")));
}

// --- a headless run ---

// The number after "key": in the trace's end object.
long endField(const std::string& trace, const std::string& key) {
    const size_t end = trace.rfind("{\"game\":1,\"end\":true");
    if (end == std::string::npos) return LONG_MIN;
    std::smatch m;
    const std::string tail = trace.substr(end);
    if (!std::regex_search(tail, m, std::regex("\"" + key + "\":(-?[0-9]+)"))) return LONG_MIN;
    return std::stol(m[1]);
}

TEST(ProgramHeadlessRecords, AGameThatBeatsTheRecordWritesTheTypedNameToTheFile) {
    // Player 1 fires every 20 steps for the whole minute: the score ends well above 100 and below
    // a million, whatever the hoppers do.
    std::string script = "name TARO\ngame\n";
    for (int step = 1; step < 2980; step += 20)
        script += "at " + std::to_string(step) + " key down 17 2\nat " + std::to_string(step + 5) +
                  " key up 17 0\n";
    struct Case { int32_t record; bool beaten; };
    for (const Case c : {Case{100, true}, Case{1000000, false}}) {
        SCOPED_TRACE(c.record);
        ProgramDir dir(true);
        dir.write("script.txt", script);
        const Records before{"KEN", c.record, "HANAKO", 800};
        dir.write("gun3.x", formatRecords(before));
        auto child = dir.start({"--headless", dir.path("script.txt"), "--dir", dir.path(),
                                "--trace", dir.path("trace.jsonl")},
                               {{"DISPLAY", ""}});
        ASSERT_TRUE(child->waitEnd(60000));
        ASSERT_TRUE(child->exitedWith(0)) << child->err();

        const std::string trace = dir.read("trace.jsonl");
        EXPECT_EQ(endField(trace, "steps"), 3000);   // the full minute
        const long score = endField(trace, "score");
        ASSERT_NE(score, LONG_MIN) << "no end object";
        EXPECT_EQ(score > c.record, c.beaten) << score;
        Records after = before;
        if (c.beaten) after = {"TARO", int32_t(score), "HANAKO", 800};
        EXPECT_EQ(dir.read("gun3.x"), formatRecords(after));
    }
}

}  // namespace
}  // namespace hopshot
