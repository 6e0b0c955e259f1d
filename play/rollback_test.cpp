// The rollback with no network: two machines' commands from a table, the other machine's coming
// late, and the game that ran ahead of them put back and run again.
#include "controls/commands.h"
#include "controls/joystick.h"
#include "play/command_events.h"
#include "play/recorder.h"
#include "play/rollback.h"
#include "testing/headless_test_support.h"
#include "testing/process_support.h"

#include <gtest/gtest.h>

#include <map>

namespace hopshot {
namespace {

using Table = std::map<long, StepCommands>;

// `at` lines by step, as commands.
Table tableOf(const std::string& lines) {
    Script script;
    ScriptError error;
    EXPECT_TRUE(parseScript("game\n" + lines, script, error)) << error.message;
    std::map<long, std::vector<ScriptEvent>> byStep;
    for (const ScriptCommand& c : script.commands)
        for (const ScriptEvent& e : c.events) byStep[e.step].push_back(e);
    Table t;
    for (const auto& [step, events] : byStep) t[step] = commandsOf(events);
    return t;
}

// This machine's commands are in at once; the other's up to `arrived`.
class LateFeed : public StepFeed {
public:
    LateFeed(Table own, Table other) : own_(std::move(own)), other_(std::move(other)) {}
    StepCommands held(long step) const override {
        StepCommands c = at(own_, step);
        if (step <= arrived) followedBy(c, at(other_, step));
        return c;
    }
    bool complete(long step) const override { return step <= arrived; }
    StepCommands take(long step) override { return held(step); }
    long arrived = 0;

private:
    static StepCommands at(const Table& t, long step) {
        auto it = t.find(step);
        return it == t.end() ? StepCommands{} : it->second;
    }
    Table own_, other_;
};

// The game's source: each step asked for runs with what is held; the other machine's commands
// for a step come `late` steps after it was first asked for (at once while the game waits). The
// headless front end has the rollback correct the game before it asks.
class RollbackSource : public InputSource {
public:
    RollbackSource(LateFeed& feed, int late, long stepLimit, long stopAt)
        : feed_(feed), rollback_(feed, Rollback::kMostAhead), late_(late), stepLimit_(stepLimit),
          stopAt_(stopAt) {}
    Turn eventsBefore(long n, std::vector<ScriptEvent>& out) override {
        asked_ = std::max(asked_, n);
        next_ = n;
        if (rollback_.granted() >= n) return Turn::Go;
        if (stopAt_ > 0 && n >= stopAt_) return Turn::Stop;   // stopped from outside (the host left)
        if (rollback_.runNext(stepLimit_, out)) return Turn::Go;
        // A game that can never run on (every command in, and still waiting) ends short.
        return ++waits_ > kMostWaits ? Turn::Stop : Turn::Wait;
    }
    void stepDone(long step, Game&) override {
        next_ = step + 1;
        rollback_.stepDone(step);
    }
    // Before the front end's corrections: the other's commands up to `late` before the next step.
    void takeIn(int waitMs) override {
        feed_.arrived = std::max(feed_.arrived, waitMs > 0 ? asked_ : next_ - late_);
    }
    Rollback& rollback() { return rollback_; }

private:
    LateFeed& feed_;
    Rollback rollback_;
    int late_;
    long stepLimit_;
    long stopAt_;   // 0: never stopped from outside
    long asked_ = 0;
    long next_ = 1;   // the step the front end asks for next
    static constexpr long kMostWaits = 5000;
    long waits_ = 0;
};

struct Played {
    std::string trace;
    RerunMeasures reruns;
    long steps = 0;
};

// This machine brings players 2 and 4, the other 1 and 3 and the host's commands.
Played play(const std::string& own, const std::string& other, int late, long stepLimit, long stopAt) {
    testing::TempDir dir;
    const std::filesystem::path script = dir.path() / "game.replay", trace = dir.path() / "trace";
    std::ofstream(script, std::ios::binary) << "players 1 1 1 1\ngame\n";
    HeadlessOptions o;
    o.script = script.string();
    o.trace = trace.string();
    o.dir = dir.path().string();
    Played run;
    std::ostringstream out, err;
    LateFeed feed(tableOf(own), tableOf(other));
    const int code = runHeadless(o, out, err, [&](const Script&, HeadlessHost& h, Game& g,
                                                  std::ostream&, std::ostream&) {
        h.setJoysticks(2);
        detectJoystick(g.controller, g.joysticks, kJoystickMargin);
        for (MenuItem p : {MenuItem::Player1, MenuItem::Player2, MenuItem::Player3, MenuItem::Player4})
            h.setMark(p, true);
        RollbackSource source(feed, late, stepLimit, stopAt);
        run.steps = h.playGame(1, source, stepLimit, &source.rollback());
        run.reruns = source.rollback().reruns();
        return 0;
    });
    EXPECT_EQ(code, 0) << err.str();
    run.trace = proc::slurp(trace);
    return run;
}

// The same game on one machine with every command on time.
std::string onTime(const std::string& own, const std::string& other, long stepLimit) {
    const Table a = tableOf(own), b = tableOf(other);
    std::map<long, StepCommands> all(a.begin(), a.end());
    for (const auto& [step, c] : b) followedBy(all[step], c);
    std::string text = "joysticks 2\nplayers 1 1 1 1\ngame\n";
    for (const auto& [step, c] : all)
        for (const ScriptEvent& e : commandEvents(c, step)) text += eventLine(e);
    const testing::RunResult r = testing::runScript(text, stepLimit);
    EXPECT_EQ(r.code, 0) << r.err;
    return r.traceText;
}

TEST(Rollback, LateCommandsSettleIntoTheGamePlayedWithThemOnTime) {
    const std::string ticks = "at 51 tick\nat 101 tick\nat 151 tick\n";
    struct Row {
        const char* what;
        std::string own, other;   // `at` lines: players 2 and 4; players 1 and 3 and the host
        int late;
        long stepLimit;
        bool rollsBack;
        long stopAt = 0;   // stopped from outside when asked for this step: it ends where it settled
    };
    const Row rows[] = {
        {"nothing late", "at 20 key down 65 0\n", "at 30 key down 37 0\n" + ticks, 0, 120, false},
        {"a key down", "at 20 key down 65 0\nat 60 key up 65 1\n", "at 30 key down 37 0\nat 90 key up 37 1\n" + ticks,
         6, 160, true},
        {"a stick", "at 15 joy 1 65535 32767 0\n", "at 25 joy 0 0 32767 1\nat 45 joy 0 32767 32767 0\n" + ticks,
         5, 160, true},
        {"a charged shot let go", "at 40 key down 70 0\nat 41 key up 70 1\n",
         "at 10 key down 17 2\nat 61 key up 17 0\nat 63 key down 39 0\n" + ticks, 8, 160, true},
        {"the last tick late ends the game where it ended", "at 3 key down 68 0\n",
         "at 2 key down 17 2\nat 9 key up 17 0\n" + [] {
             std::string t;
             for (int s = 2; s <= 61; ++s) t += "at " + std::to_string(s) + " tick\n";
             return t;
         }(), 6, 500, true},
        {"stopped from outside with steps run ahead", "at 20 key down 65 0\nat 60 key up 65 1\n",
         "at 30 key down 37 0\nat 90 key up 37 1\n" + ticks, 6, 160, true, 100},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const Played run = play(r.own, r.other, r.late, r.stepLimit, r.stopAt);
        EXPECT_EQ(run.reruns.rollbacks > 0, r.rollsBack);
        EXPECT_LE(run.reruns.longestSteps, Rollback::kMostAhead + 1);
        if (r.stopAt > 0) {
            EXPECT_LT(run.steps, r.stopAt - 1);   // it had run ahead of its settling
        }
        const long steps = r.stopAt > 0 ? run.steps : r.stepLimit;
        EXPECT_TRUE(run.trace == onTime(r.own, r.other, steps)) << run.trace.substr(0, 400);
    }
}

}  // namespace
}  // namespace hopshot
