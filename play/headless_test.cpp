#include "play/headless.h"
#include "testing/headless_test_support.h"

#include "records/records.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>

namespace hopshot {
namespace {

namespace fs = std::filesystem;
using testing::Fields;
using testing::traceArray;
using testing::traceField;
using testing::traceFields;
using testing::TempDir;
using testing::RunResult;
using testing::runScript;

bool isEnd(const Fields& f) { return traceField(f, "end") == "true"; }

// The step numbers of a run's step objects, and the game they belong to.
std::vector<std::pair<int, int>> gameAndStep(const RunResult& r) {
    std::vector<std::pair<int, int>> v;
    for (const Fields& f : r.trace)
        if (!isEnd(f))
            v.emplace_back(std::stoi(traceField(f, "game")), std::stoi(traceField(f, "step")));
    return v;
}

TEST(HeadlessRun, EscBeforeTheFirstStepRunsNoStep) {
    RunResult r = runScript("game\nat 1 key down 27 0\n");
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(r.trace.size(), 1u) << r.traceText;
    EXPECT_EQ(traceField(r.trace[0], "end"), "true");
    EXPECT_EQ(traceField(r.trace[0], "steps"), "0");
    EXPECT_NE(r.out.find("game 1: score 0, 0 steps"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("records:"), std::string::npos) << r.out;
}

TEST(HeadlessRun, EscAtFiveEndsTheGameAfterFourSteps) {
    RunResult r = runScript("game\nat 5 key down 27 0\nat 9 key down 27 0\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(gameAndStep(r), (std::vector<std::pair<int, int>>{{1, 1}, {1, 2}, {1, 3}, {1, 4}}));
    ASSERT_EQ(r.trace.size(), 5u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(traceField(r.trace[i], "running"), "-1");
    EXPECT_EQ(traceField(r.trace[4], "steps"), "4");
    EXPECT_EQ(traceField(r.trace[4], "game"), "1");
}

TEST(HeadlessRun, StepLimitStopsAGameWithoutEsc) {
    RunResult r = runScript("game\ngame\nat 3 key down 27 0\n", 10);
    ASSERT_EQ(r.code, 0) << r.err;
    auto steps = gameAndStep(r);
    ASSERT_EQ(steps.size(), 12u);
    EXPECT_EQ(steps[9], (std::pair<int, int>{1, 10}));
    EXPECT_EQ(steps[11], (std::pair<int, int>{2, 2}));
    EXPECT_EQ(traceField(r.trace[10], "steps"), "10");
    EXPECT_EQ(traceField(r.trace[13], "steps"), "2");
    EXPECT_NE(r.out.find("game 1: score 0, 10 steps"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("game 2: score 0, 2 steps"), std::string::npos) << r.out;
}

TEST(HeadlessRun, EveryStepObjectHasEveryTableAtFullLength) {
    RunResult r = runScript("players 1 1 1 1\ngame\nat 3 key down 27 0\n");
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(r.trace.size(), 3u);
    const Fields& f = r.trace[1];
    ASSERT_EQ(f.size(), 38u) << r.traceText;
    EXPECT_EQ(f.front().first, "game");
    EXPECT_EQ(f.back().first, "draws");
    for (const char* table : {"playerIn", "tankHeading", "gunElevation", "shellX", "fireState",
                              "damageTimer"})
        EXPECT_EQ(traceArray(traceField(f, table)).size(), 4u) << table;
    for (const char* table : {"hopperX", "hopperY", "hopperZ", "hopperVY"})
        EXPECT_EQ(traceArray(traceField(f, table)).size(), 21u) << table;
    for (const char* table : {"bloodX", "bloodY", "bloodZ", "bloodVX", "bloodVY", "bloodVZ"})
        EXPECT_EQ(traceArray(traceField(f, table)).size(), 101u) << table;
    EXPECT_EQ(traceField(f, "playerIn"), "[1,1,1,1]");
    EXPECT_EQ(traceField(f, "timeLeft"), "60");
}

// Keys arrive in the yield before the step they name, so the step sees them; what a key left
// set carries into the next game, while players and menu choices apply to later games.
TEST(HeadlessRun, EventsReachTheStepTheyNameAndSettingsCarryOver) {
    RunResult r = runScript("players 1 1 0 0\n"
                      "game\n"
                      "at 2 key down 37 0\n"    // left arrow held from step 2 on
                      "at 3 menu 2P\n"
                      "at 4 key down 27 0\n"
                      "game\n"                  // 2P now unchecked; the arrow is still held
                      "at 2 key down 27 0\n"
                      "at 9 menu 1P\n"          // after the game's last step: never delivered
                      "game\n"
                      "at 2 key down 27 0\n");
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(r.trace.size(), 8u) << r.traceText;
    EXPECT_EQ(traceField(r.trace[0], "steerX"), "[0,0,0,0]");
    EXPECT_EQ(traceField(r.trace[1], "steerX"), "[-1,0,0,0]");
    EXPECT_EQ(traceField(r.trace[0], "playerIn"), "[1,1,0,0]");
    EXPECT_EQ(traceField(r.trace[2], "playerIn"), "[1,1,0,0]");   // the menu waits for Start
    ASSERT_TRUE(isEnd(r.trace[3]));
    EXPECT_EQ(traceField(r.trace[4], "game"), "2");
    EXPECT_EQ(traceField(r.trace[4], "playerIn"), "[1,0,0,0]");
    EXPECT_EQ(traceField(r.trace[4], "steerX"), "[-1,0,0,0]");
    EXPECT_EQ(traceField(r.trace[6], "game"), "3");
    EXPECT_EQ(traceField(r.trace[6], "playerIn"), "[1,0,0,0]");
}

// The countdown ticks in the yield after steps P, P + 50, ...; its warnings from 9 seconds down
// are listed in the object after the tick, and the sixtieth tick ends the game.
TEST(HeadlessRun, CountdownTicksAfterTheTimerPhaseAndItsSoundsShowInTheNextObject) {
    RunResult r = runScript("timer 3\ngame\n");
    ASSERT_EQ(r.code, 0) << r.err;
    const long lastStep = 3 + 50 * 59;
    ASSERT_EQ(r.trace.size(), size_t(lastStep + 1)) << r.out;
    auto timeLeftAt = [&](long step) { return traceField(r.trace[step - 1], "timeLeft"); };
    EXPECT_EQ(timeLeftAt(3), "60");
    EXPECT_EQ(timeLeftAt(4), "59");
    EXPECT_EQ(timeLeftAt(53), "59");
    EXPECT_EQ(timeLeftAt(54), "58");

    // Other banks (hits, damage) come with the game's rules; the countdown's is bank 7.
    std::vector<long> warned;
    for (const Fields& f : r.trace)
        for (long long bank : traceArray(traceField(f, "sounds")))
            if (bank == 7) warned.push_back(isEnd(f) ? -1 : std::stol(traceField(f, "step")));
    std::vector<long> expected;
    for (int left = 9; left >= 1; --left) expected.push_back(3 + 50 * (59 - left) + 1);
    EXPECT_EQ(warned, expected);

    const Fields& end = r.trace.back();
    ASSERT_TRUE(isEnd(end));
    EXPECT_EQ(traceField(end, "steps"), std::to_string(lastStep));
    EXPECT_EQ(traceField(end, "timeLeft"), "0");
}

TEST(HeadlessRun, SameScriptTwiceGivesTheSameTrace) {
    const std::string script = "players 1 1 0 0\ngame\nat 2 key down 39 2\nat 5 key down 70 0\n"
                               "at 40 key up 39 0\nat 120 key down 27 0\ngame\n"
                               "at 30 key down 27 0\n";
    RunResult a = runScript(script);
    RunResult b = runScript(script);
    ASSERT_EQ(a.code, 0) << a.err;
    EXPECT_EQ(gameAndStep(a).size(), 119u + 29u);
    EXPECT_EQ(a.traceText, b.traceText);
    EXPECT_EQ(a.out, b.out);
}

TEST(HeadlessRun, ScriptErrorRunsNothing) {
    TempDir dir;
    const fs::path script = dir.path() / "bad.replay";
    const fs::path trace = dir.path() / "bad.trace";
    std::ofstream(script) << "game\nat 1 key down 27 0\nat 2 key down 300 0\n";
    HeadlessOptions o{script.string(), trace.string(), dir.path().string()};
    std::ostringstream out, err;
    EXPECT_EQ(runHeadless(o, out, err), 2);
    EXPECT_EQ(err.str().rfind(script.string() + ":3: ", 0), 0u) << err.str();
    EXPECT_EQ(out.str(), "");
    EXPECT_FALSE(fs::exists(trace));
}

TEST(HeadlessRun, FilesThatCannotBeUsedAreReportedWithExitCodeOne) {
    TempDir dir;
    const fs::path script = dir.path() / "ok.replay";
    std::ofstream(script) << "game\nat 1 key down 27 0\n";
    struct Case {
        std::string script, trace, named;
    } cases[] = {
        {(dir.path() / "missing.replay").string(), "", "missing.replay"},
        {script.string(), (dir.path() / "no-such-dir" / "t.trace").string(), "t.trace"},
        {dir.path().string(), "", dir.path().string() + ": cannot read the script: it is a directory"},
    };
    for (const Case& c : cases) {
        HeadlessOptions o{c.script, c.trace, dir.path().string()};
        std::ostringstream out, err;
        EXPECT_EQ(runHeadless(o, out, err), 1) << c.named;
        EXPECT_NE(err.str().find(c.named), std::string::npos) << err.str();
        EXPECT_EQ(out.str(), "");
    }
    EXPECT_FALSE(fs::exists(dir.path() / "gun3.x")) << "the records were written";
}

// A record set in a game is in the file as soon as that game ends: a run killed outright in its
// next game (kill -9, a power cut) keeps it. The run is a process of its own, killed for real.
TEST(HeadlessRecords, ARecordSurvivesAKillRightAfterItIsSet) {
    struct Row {
        const char* players;
        bool coop;
    } rows[] = {{"1 0 0 0", false}, {"1 1 0 0", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.players);
        TempDir dir;
        // Records that any game beats; a first game that counts its minute down, then one that
        // runs on for a long while.
        std::ofstream(dir.path() / "gun3.x", std::ios::binary) << "OLD\r\n-2000000000\r\nOLD TOO\r\n-2000000000\r\n";
        std::string script = std::string("name KEPT\nplayers ") + row.players + "\ngame\n";
        for (int t = 2; t <= 61; ++t) script += "at " + std::to_string(t) + " tick\n";
        script += "game\nat 1000000 tick\n";
        std::ofstream(dir.path() / "run.replay") << script;
        const std::string gun3 = (dir.path() / "gun3.x").string();
        auto kept = [&] {
            Records r;
            std::string error;
            return loadRecords(gun3, r, error) && (row.coop ? r.nameCoop : r.nameSolo) == "KEPT";
        };

        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            HeadlessOptions o{(dir.path() / "run.replay").string(), "", dir.path().string()};
            std::ostringstream out, err;
            _exit(runHeadless(o, out, err));
        }
        bool running = true, seen = false;
        for (int waited = 0; waited < 30000 && running && !seen; waited += 5) {
            seen = kept();
            running = waitpid(pid, nullptr, WNOHANG) == 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(running) << "the run ended before it was killed";
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        EXPECT_TRUE(seen) << "the record was not in the file while the run went on";
        EXPECT_TRUE(kept()) << "the record was lost with the kill";
    }
}

// A checked player 3 or 4 whose joystick is not there is named at each game's start.
TEST(HeadlessRun, ACheckedPlayerWithNoJoystickIsNamedAtTheStart) {
    struct Case { const char* setup; std::string said; } cases[] = {
        {"players 1 0 1 1\njoysticks 0\n", "3P: no joystick 1; player 3 stands idle\n"
                                            "4P: no joystick 2; player 4 stands idle\n"},
        {"players 1 0 1 1\njoysticks 1\n", "4P: no joystick 2; player 4 stands idle\n"},
        {"players 1 0 1 1\njoysticks 2\n", ""},
        {"players 1 1 0 0\njoysticks 0\n", ""},
    };
    for (const Case& c : cases) {
        RunResult r = runScript(std::string(c.setup) + "game\nat 1 key down 27 0\ngame\nat 1 key down 27 0\n");
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, c.said + c.said) << c.setup;   // once for each game
    }
}

// The host on its own, driven the way runHeadless drives it.
struct HostRig {
    RecordingSound sound;
    std::ostringstream trace;
    HeadlessHost host{sound, &trace};
    Game g{host, sound, "."};
    HostRig() { host.attach(g); }

    std::vector<ScriptEvent> events(const std::string& atLines) {
        Script s;
        ScriptError e;
        EXPECT_TRUE(parseScript("game\n" + atLines, s, e)) << e.message;
        return s.commands.empty() ? std::vector<ScriptEvent>{} : s.commands[0].events;
    }
};

TEST(HeadlessHost, MenuEventsFlipCheckMarksOnlyWhenDelivered) {
    HostRig rig;
    auto events = rig.events("at 2 menu live\nat 2 menu 3P\nat 3 menu 3P\nat 3 menu small\n"
                             "at 4 key down 27 0\nat 5 menu wire\n");
    EXPECT_EQ(rig.host.playGame(1, events, 3000), 3);
    EXPECT_FALSE(rig.host.checked(MenuItem::LiveCamera));
    EXPECT_FALSE(rig.host.checked(MenuItem::Player3));    // flipped twice
    EXPECT_TRUE(rig.host.checked(MenuItem::SmallScreen));
    EXPECT_FALSE(rig.host.checked(MenuItem::Wireframe));  // after the last step
    EXPECT_TRUE(rig.host.checked(MenuItem::Player1));
    EXPECT_TRUE(rig.host.titleShown());
}

TEST(HeadlessHost, JoystickReadingsChangeAtTheirStep) {
    HostRig rig;
    rig.host.setJoysticks(1);
    EXPECT_TRUE(rig.host.joystick(0).attached);
    EXPECT_FALSE(rig.host.joystick(1).attached);
    EXPECT_EQ(rig.host.joystick(0).x, kJoyCentre);
    EXPECT_EQ(rig.host.joystick(0).y, kJoyCentre);
    EXPECT_EQ(rig.host.joystick(0).buttons, 0u);

    auto events = rig.events("at 2 joy 0 0 65535 1\nat 3 joy 1 100 200 3\nat 4 key down 27 0\n"
                             "at 9 joy 0 5 5 5\n");
    rig.host.playGame(1, events, 3000);
    JoyReading j0 = rig.host.joystick(0), j1 = rig.host.joystick(1);
    EXPECT_EQ(j0.x, 0);
    EXPECT_EQ(j0.y, 65535);
    EXPECT_EQ(j0.buttons, 1u);
    EXPECT_EQ(j1.x, 100);
    EXPECT_EQ(j1.buttons, 3u);
    EXPECT_FALSE(j1.attached);
}

// A record prompt answers with the script's name; the end object shows it escaped. With the
// default timer the sixtieth tick falls in the yield after step 3000, where the step limit also
// stops the game: the tick comes first, so the game still ends the countdown's way.
TEST(HeadlessHost, RecordPromptTypesTheScriptsName) {
    HostRig rig;
    rig.g.w.hiScoreSolo = std::numeric_limits<int32_t>::min();   // any score is a record
    rig.host.setName("太郎 \"1\"");
    const long steps = rig.host.playGame(4, {}, 3000);
    EXPECT_EQ(steps, 3000);
    EXPECT_EQ(rig.g.w.timeLeft, 0);
    EXPECT_EQ(rig.host.promptsShown(), 1);
    EXPECT_EQ(rig.g.w.hiNameSolo, "太郎 \"1\"");
    EXPECT_EQ(rig.host.caption(Label::Time), "Time : 0");
    const std::string t = rig.trace.str();
    const std::string lastLine = t.substr(t.rfind('\n', t.size() - 2) + 1);
    EXPECT_NE(lastLine.find("\"game\":4,\"end\":true"), std::string::npos) << lastLine;
    EXPECT_NE(lastLine.find("\"hiNameSolo\":\"太郎 \\\"1\\\"\""), std::string::npos) << lastLine;
}

// Kept games and network play start from lines that give the countdown's ticks step by step,
// the generator's draws and the values the setup leaves alone.
TEST(HeadlessRun, TicksDrawsAndCarriedValuesComeFromTheirLines) {
    RunResult ticks = runScript("game\nat 3 tick\nat 5 tick\n", 60);
    ASSERT_EQ(ticks.code, 0) << ticks.err;
    std::vector<std::string> timeLeft;
    for (const Fields& f : ticks.trace)
        if (!isEnd(f)) timeLeft.push_back(traceField(f, "timeLeft"));
    EXPECT_EQ(timeLeft[1], "60");
    EXPECT_EQ(timeLeft[2], "59");   // the tick before step 3
    EXPECT_EQ(timeLeft[4], "58");
    EXPECT_EQ(timeLeft[59], "58");  // no tick from the timer after step 50

    RunResult plain = runScript("game\n", 1);
    RunResult set = runScript("draws 1000\nset steerX 0 1\nset bloodBudget 3\ngame\n", 1);
    ASSERT_EQ(set.code, 0) << set.err;
    EXPECT_GE(std::stoll(traceField(set.trace[0], "draws")), 1000);
    EXPECT_NE(traceField(set.trace[0], "tankHeading"), traceField(plain.trace[0], "tankHeading"));
    EXPECT_EQ(traceArray(traceField(set.trace[0], "steerX"))[0], 1);

    RunResult back = runScript("draws 1000\ngame\ndraws 10\ngame\n", 1);
    EXPECT_EQ(back.code, 2);
    EXPECT_NE(back.err.find(":3: the generator has already taken"), std::string::npos) << back.err;
}

}  // namespace
}  // namespace hopshot
