// The recorder against the replay: what it writes down reads back as the same events, a run
// recorded game by game replays to the same trace, and one game's own file replays that game
// alone; the joystick tap writes what the passes made of the readings; the folder of kept games.
#include "play/recorder.h"

#include "controls/joystick.h"
#include "game/lifecycle.h"
#include "play/feed.h"
#include "play/headless.h"
#include "play/kept_games.h"
#include "testing/headless_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace hopshot {
namespace {

namespace fs = std::filesystem;
using testing::runScript;
using testing::TempDir;

ScriptEvent keyEvent(ScriptEvent::Kind kind, long step, int code, int mask) {
    ScriptEvent e;
    e.kind = kind;
    e.step = step;
    e.keyCode = int16_t(code);
    e.mask = int16_t(mask);
    return e;
}

TEST(RecorderLines, EveryEventReadsBackAsItself) {
    std::vector<ScriptEvent> events = {
        keyEvent(ScriptEvent::Kind::KeyDown, 1, 37, 0),
        keyEvent(ScriptEvent::Kind::KeyUp, 2147483647, 255, 7),
        keyEvent(ScriptEvent::Kind::KeyDown, 12, 17, 2),
    };
    ScriptEvent joy;
    joy.kind = ScriptEvent::Kind::Joy;
    joy.step = 40;
    joy.joystick = 1;
    joy.x = 65535;
    joy.y = 0;
    joy.buttons = 4294967295u;
    events.push_back(joy);
    for (MenuItem item : {MenuItem::Player1, MenuItem::Player4, MenuItem::LiveCamera,
                          MenuItem::SmallScreen, MenuItem::SimpleDisplay, MenuItem::Wireframe}) {
        ScriptEvent m;
        m.kind = ScriptEvent::Kind::Menu;
        m.step = 7;
        m.item = item;
        events.push_back(m);
    }
    ScriptEvent tick;
    tick.kind = ScriptEvent::Kind::Tick;
    tick.step = 3001;
    events.push_back(tick);

    for (const ScriptEvent& e : events) {
        const std::string line = eventLine(e);
        ASSERT_EQ(line.back(), '\n');
        ScriptEvent back;
        ScriptError error;
        ASSERT_TRUE(parseEventLine(line.substr(0, line.size() - 1), 9, back, error))
            << line << error.message;
        EXPECT_EQ(back.kind, e.kind) << line;
        EXPECT_EQ(back.step, e.step) << line;
        EXPECT_EQ(back.line, 9);
        EXPECT_EQ(back.keyCode, e.keyCode) << line;
        EXPECT_EQ(back.mask, e.mask) << line;
        EXPECT_EQ(back.joystick, e.joystick) << line;
        EXPECT_EQ(back.x, e.x) << line;
        EXPECT_EQ(back.y, e.y) << line;
        EXPECT_EQ(back.buttons, e.buttons) << line;
        EXPECT_EQ(back.item, e.item) << line;
    }
    EXPECT_EQ(eventLine(tick), "at 3001 tick\n");

    ScriptEvent back;
    ScriptError error;
    EXPECT_FALSE(parseEventLine("game", 4, back, error));
    EXPECT_EQ(error.line, 4);
    EXPECT_FALSE(parseEventLine("at 3 key down 37", 5, back, error));
    EXPECT_EQ(error.line, 5);
    EXPECT_NE(error.message.find("missing modifier mask"), std::string::npos) << error.message;
}

TEST(RecorderLines, ANameStopsWhereTheScriptWouldCutIt) {
    EXPECT_EQ(nameLine("TARO"), "name TARO\n");
    EXPECT_EQ(nameLine(" two  spaces "), "name  two  spaces \n");
    EXPECT_EQ(nameLine(""), "name\n");
    EXPECT_EQ(nameLine("A#1"), "name A\n");
    Script s;
    ScriptError e;
    ASSERT_TRUE(parseScript(nameLine(" two  spaces "), s, e));
    EXPECT_EQ(s.commands.at(0).name, " two  spaces ");
}

// A run played by the headless host with the recorder listening as the window's would: each
// game's start taken from the world, every event handed over, each prompt's name.
struct RecordedRun {
    std::string trace;            // of the run as it was played
    std::string text;             // the whole-run recording
    std::vector<RecordedGame> games;
};

// Both records so low that any score beats them.
const Records kLowRecords{"", -1000000, "", -1000000};

// A headless run of `text` in a folder of its own whose high-score file holds kLowRecords.
testing::RunResult runWithLowRecords(const std::string& text) {
    TempDir dir;
    std::ofstream(dir.path() / kRecordsFile, std::ios::binary) << formatRecords(kLowRecords);
    std::ofstream(dir.path() / "run.replay", std::ios::binary) << text;
    HeadlessOptions o;
    o.script = (dir.path() / "run.replay").string();
    o.trace = (dir.path() / "run.trace").string();
    o.dir = dir.path().string();
    std::ostringstream out, err;
    testing::RunResult r;
    r.code = runHeadless(o, out, err);
    r.out = out.str();
    r.err = err.str();
    std::ifstream in(o.trace, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    r.traceText = all.str();
    return r;
}

RecordedRun playAndRecord(const std::string& source) {
    Script script;
    ScriptError error;
    EXPECT_TRUE(parseScript(source, script, error)) << error.line << ": " << error.message;

    RecordedRun run;
    RecordingSound sound;
    std::ostringstream trace;
    HeadlessHost host(sound, &trace);
    Game g(host, sound, ".");
    host.attach(g);
    host.setJoysticks(2);
    g.joysticks = &host.joysticks();
    detectJoystick(g.controller, g.joysticks, kJoystickMargin);
    takeRecords(g.w, kLowRecords);

    class Front : public ScriptFront {
    public:
        Front(HeadlessHost& h, Game& g, RecordedRun& run) : h_(h), g_(g), run_(run) {}
        void setMark(MenuItem item, bool on) override { h_.setMark(item, on); }
        void setName(const std::string& name) override {
            h_.setName(name);
            name_ = name;
        }
        bool playGame(int number, const ScriptCommand& game, int timerPhase) override {
            GameStart start;
            const MenuItem items[] = {MenuItem::Player1,    MenuItem::Player2,
                                      MenuItem::Player3,    MenuItem::Player4,
                                      MenuItem::LiveCamera, MenuItem::SmallScreen,
                                      MenuItem::SimpleDisplay, MenuItem::Wireframe};
            for (int i = 0; i < 4; ++i) {
                start.players[i] = h_.checked(items[i]);
                start.options[i] = h_.checked(items[i + 4]);
            }
            start.draws = g_.rng.draws();
            start.carried = carriedValues(g_.w);
            recorder_.gameStarts(start);
            for (const ScriptEvent& e : game.events) recorder_.event(e);
            const int prompts = h_.promptsShown();
            h_.setTimerPhase(timerPhase);
            const long steps = h_.playGame(number, game.events, 3000);
            if (h_.promptsShown() > prompts) recorder_.prompted(name_);
            run_.games.push_back(recorder_.gameEnded(g_.w, steps));
            return true;
        }

    private:
        HeadlessHost& h_;
        Game& g_;
        RecordedRun& run_;
        Recorder recorder_;
        std::string name_;
    };

    Front front(host, g, run);
    EXPECT_TRUE(playScript(script, g, front, error));
    run.trace = trace.str();
    run.text = Recorder::runHeader();
    for (const RecordedGame& r : run.games) run.text += r.inRun;
    return run;
}

// The step and end objects of game `game` of a trace, renumbered as game `as`; without the
// records in the end object when `records` is false (a game replayed alone starts from the
// high-score file as it is, not as the run before it left it).
std::string traceOfGame(const std::string& trace, int game, int as, bool records = true) {
    const std::string from = "{\"game\":" + std::to_string(game) + ",";
    const std::string to = "{\"game\":" + std::to_string(as) + ",";
    std::istringstream lines(trace);
    std::string out;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(from, 0) != 0) continue;
        if (!records) line = line.substr(0, line.find(",\"hiScoreSolo\""));
        out += to + line.substr(from.size()) + "\n";
    }
    return out;
}

// Ticks every ten steps end the second game early, with a record and its prompt; the first
// leaves player 1 steering left (no key-up) and the hoppers' speeds behind, which the second
// carries; the third starts after a key that came between games.
const char* const kSourceRun = R"(players 1 1 0 0
game
at 1 key down 37 0
at 3 key down 17 2
at 10 key up 17 0
at 40 key down 70 0
at 200 key up 70 0
at 250 menu small
at 400 key down 27 0
players 1 0 0 0
options 0 1 1 0
name TARO
game
at 2 key down 38 0
at 5 key down 17 2
at 6 key up 17 0
at 90 key down 17 2
at 91 key up 17 0
at 150 key down 17 2
at 150 tick
at 151 key up 17 0
)";

std::string sourceRun() {
    std::string s = kSourceRun;
    for (int step = 160; step <= 740; step += 10) s += "at " + std::to_string(step) + " tick\n";
    s += "players 0 0 1 0\ngame\nat 30 key down 27 0\n";
    return s;
}

TEST(RecordedRuns, TheWholeRunReplaysToTheSameTraceAndEachGameAlone) {
    const RecordedRun run = playAndRecord(sourceRun());
    ASSERT_EQ(run.games.size(), 3u);
    EXPECT_EQ(run.games[1].steps, 739);   // the sixtieth tick stands before step 740
    EXPECT_NE(run.games[1].inRun.find("\nname TARO\ngame\n"), std::string::npos)
        << run.games[1].inRun;
    EXPECT_NE(run.games[1].alone.find("\nset steerX 0 -1\n"), std::string::npos)
        << run.games[1].alone;
    EXPECT_EQ(run.games[1].inRun.find("set steerX"), std::string::npos)
        << "the run's replay carries the held key itself";

    const testing::RunResult whole = runWithLowRecords(run.text);
    ASSERT_EQ(whole.code, 0) << whole.err;
    EXPECT_EQ(whole.traceText, run.trace);
    EXPECT_NE(whole.out.find("records: solo " + std::to_string(run.games[1].score) + " \"TARO\""),
              std::string::npos) << whole.out;

    for (int game = 1; game <= 3; ++game) {
        const testing::RunResult alone = runWithLowRecords(run.games[size_t(game - 1)].alone);
        ASSERT_EQ(alone.code, 0) << alone.err;
        EXPECT_EQ(traceOfGame(alone.traceText, 1, 1, false), traceOfGame(run.trace, game, 1, false))
            << "game " << game;
        EXPECT_NE(alone.out.find("score " + std::to_string(run.games[size_t(game - 1)].score)),
                  std::string::npos) << alone.out;
    }
}

TEST(RecordedRuns, AGameEndedByItsOwnTicksRunsPastTheDefaultLimitButNotPastAGivenOne) {
    std::string text = "game\n";
    for (int k = 0; k < 60; ++k) text += "at " + std::to_string(60 * k + 61) + " tick\n";
    const testing::RunResult r = runScript(text);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("game 1: score"), std::string::npos);
    EXPECT_NE(r.out.find(", 3600 steps"), std::string::npos) << r.out;
    // However far its last tick: a given limit holds.
    const testing::RunResult far = runScript("game\nat 5 tick\nat 2147483647 tick\n", 400);
    ASSERT_EQ(far.code, 0) << far.err;
    EXPECT_NE(far.out.find(", 400 steps"), std::string::npos) << far.out;
}

TEST(RecordedRuns, DrawsBehindTheRunAreAnErrorNamingTheLine) {
    const testing::RunResult r = runScript("draws 5000\ngame\nat 3 key down 27 0\ndraws 4999\n");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find(":4: the generator has already taken"), std::string::npos) << r.err;
}

// --- the joystick tap ---

class FixedJoysticks : public JoystickService {
public:
    int numDevs() override { return 2; }
    bool position(int id, Reading& out) override {
        if (!attached[id]) return false;
        out = readings[id];
        return true;
    }
    bool capabilities(int, Range& out) override {
        out = range;
        return true;
    }
    std::array<bool, 2> attached{true, true};
    std::array<Reading, 2> readings{};
    Range range{0, 65535, 0, 65535};
};

TEST(JoystickTap, WritesWhatThePassesMadeOfEachNewReading) {
    struct Case {
        const char* what;
        JoystickService::Range range;   // the window's joystick
        bool attached;
        JoystickService::Reading reading;
        const char* written;            // empty: nothing new to write
    };
    const Case cases[] = {
        {"centred", {0, 65535, 0, 65535}, true, {32767, 32767, 0}, "at 5 joy 0 32767 32767 0\n"},
        {"the same again", {0, 65535, 0, 65535}, true, {32767, 32767, 0}, ""},
        {"pushed, fire", {0, 65535, 0, 65535}, true, {100, 60000, 1}, "at 5 joy 0 100 60000 1\n"},
        {"a slight move", {0, 65535, 0, 65535}, true, {20000, 60000, 1}, "at 5 joy 0 20000 60000 1\n"},
        {"unplugged", {0, 65535, 0, 65535}, false, {0, 0, 0}, "at 5 joy 0 32767 32767 0\n"},
        // A stick with a narrower range: 30000 is pushed right there, centred in a replay's
        // range, so it is written as the full push it stood for.
        {"narrow stick", {0, 40000, 0, 40000}, true, {9000, 1000, 0}, "at 5 joy 0 9000 1000 0\n"},
        {"narrow, right", {0, 40000, 0, 40000}, true, {30000, 20000, 2}, "at 5 joy 0 65535 20000 2\n"},
    };
    FixedJoysticks sticks;
    Recorder recorder;
    Controller controller;
    JoystickTap tap(&sticks, controller, recorder);
    recorder.gameStarts(GameStart{});
    tap.gameStarts();
    tap.setStep(5);
    for (const Case& c : cases) {
        sticks.range = c.range;
        sticks.attached[0] = c.attached;
        sticks.readings[0] = c.reading;
        detectJoystick(controller, &sticks, kJoystickMargin);   // thresholds of this stick
        controller.joyId = 0;
        pollJoystick(controller, &tap);
        World w;
        const std::string before = recorder.gameEnded(w, 5).alone;
        recorder.gameStarts(GameStart{});
        // What was written since the last case: the events of the game just ended.
        const std::string events = before.substr(before.find("\ngame\n") + 6);
        EXPECT_EQ(events, c.written) << c.what;
    }
    tap.setStep(0);   // outside a game nothing is written
    sticks.readings[0] = {0, 0, 1};
    pollJoystick(controller, &tap);
    World w;
    const std::string after = recorder.gameEnded(w, 5).alone;
    EXPECT_EQ(after.substr(after.find("\ngame\n") + 6), "");
}

// --- kept games ---

TEST(KeptGames, TheNewestTwentyStayAndOtherFilesAreLeftAlone) {
    TempDir dir;
    const std::string folder = (dir.path() / "hopshot" / "replays").string();
    const std::time_t start = 1700000000;
    std::string error, written;
    for (int i = 0; i < 25; ++i)
        ASSERT_TRUE(keepGame(folder, "game " + std::to_string(i) + "\n", start + 60 * i, i * 10 - 50,
                             kKeptGames, error, &written)) << error;
    EXPECT_EQ(written, folder + "/" + keptGameName(start + 60 * 24, 190));
    // Two games in one second are told apart, and sorted in the order they ended.
    ASSERT_TRUE(keepGame(folder, "same second\n", start + 60 * 24, 7, kKeptGames, error, &written));
    EXPECT_EQ(written, folder + "/" + keptGameName(start + 60 * 24, 7, 2));
    std::ofstream(folder + "/notes.txt") << "mine\n";
    std::ofstream(folder + "/2000-01-01_000000_score_5.replay.bak") << "mine\n";

    const std::vector<std::string> kept = keptGames(folder);
    ASSERT_EQ(kept.size(), 20u);
    EXPECT_EQ(kept.front(), folder + "/" + keptGameName(start + 60 * 6, 10));
    EXPECT_EQ(kept.back(), written);
    std::ifstream newest(kept.back());
    std::string line;
    std::getline(newest, line);
    EXPECT_EQ(line, "same second");
    EXPECT_TRUE(fs::exists(folder + "/notes.txt"));
    EXPECT_TRUE(fs::exists(folder + "/2000-01-01_000000_score_5.replay.bak"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 22);

    // A negative score and the name's shape.
    const std::string name = keptGameName(start, -1500);
    EXPECT_NE(name.find("_score_-1500.replay"), std::string::npos) << name;
    EXPECT_EQ(name.size(), std::string("2023-11-14_221320_score_-1500.replay").size()) << name;
}

TEST(KeptGames, HalfWrittenGamesLeftByAKillAreRemovedAtStartButNotOneBeingWritten) {
    TempDir dir;
    const fs::path folder = dir.path() / "replays";
    fs::create_directories(folder);
    const auto now = fs::file_time_type::clock::now();
    struct Case {
        const char* name;
        std::chrono::seconds age;
        bool stays;
    };
    const Case cases[] = {
        {".writing-2026-12-07_110533_score_1234.replay", std::chrono::hours(30), false},
        {".writing-2026-12-07_110534_score_5.replay", std::chrono::seconds(90), false},
        {".writing-2026-12-07_110535_score_6.replay", std::chrono::seconds(2), true},  // being written
        {"2026-12-07_110533_score_1234.replay", std::chrono::hours(30), true},
        {"writing-notes.txt", std::chrono::hours(30), true},
    };
    for (const Case& c : cases) {
        std::ofstream(folder / c.name) << "game\n";
        fs::last_write_time(folder / c.name, now - c.age);
    }
    fs::create_directories(folder / ".writing-a-folder");
    fs::last_write_time(folder / ".writing-a-folder", now - std::chrono::hours(30));

    EXPECT_EQ(removeWritingLeftovers(folder.string()), 2);
    for (const Case& c : cases) EXPECT_EQ(fs::exists(folder / c.name), c.stays) << c.name;
    EXPECT_TRUE(fs::exists(folder / ".writing-a-folder"));
    EXPECT_EQ(removeWritingLeftovers((dir.path() / "no such folder").string()), 0);
}

TEST(KeptGames, AFolderThatCannotBeMadeIsAnError) {
    TempDir dir;
    std::ofstream(dir.path() / "file") << "x";
    std::string error;
    EXPECT_FALSE(keepGame((dir.path() / "file" / "replays").string(), "game\n", 0, 0, kKeptGames,
                          error));
    EXPECT_NE(error.find("file/replays"), std::string::npos) << error;
}

TEST(KeptGames, TheFolderFollowsXdgDataHome) {
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_DATA_HOME", "/tmp/somewhere", 1);
    EXPECT_EQ(keptGamesDir(), "/tmp/somewhere/hopshot/replays");
    ::setenv("XDG_DATA_HOME", "relative/is/ignored", 1);
    const char* home = std::getenv("HOME");
    if (home && *home) {
        EXPECT_EQ(keptGamesDir(), std::string(home) + "/.local/share/hopshot/replays");
    }
    if (old) ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else ::unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace hopshot
