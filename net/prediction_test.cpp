// A guest that predicts the host, with the host's steps reaching it late on purpose: whatever it
// ran ahead and put back, it writes the trace one machine writes for the merged events, and no
// sound of a step run again is heard twice. In one process, with no network: the host's steps
// are handed to the guest's lockstep as a far link would hand them over.
#include "controls/commands.h"
#include "controls/joystick.h"
#include "core/setup.h"
#include "net/net_game.h"
#include "net/wire.h"
#include "play/command_events.h"
#include "play/recorder.h"
#include "testing/headless_test_support.h"
#include "testing/process_support.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace hopshot {
namespace {

using Steps = std::map<long, std::vector<ScriptEvent>>;

// A link whose delay would be 10 steps: a predicting game runs as far ahead as it ever may.
constexpr int kLongRoundTripMs = 200;

// The `at` lines of a game, by step.
Steps stepsOf(const std::string& lines) {
    Script script;
    ScriptError error;
    EXPECT_TRUE(parseScript("game\n" + lines, script, error)) << error.message;
    Steps steps;
    for (const ScriptCommand& c : script.commands)
        if (c.kind == ScriptCommand::Kind::Game)
            for (const ScriptEvent& e : c.events) steps[e.step].push_back(e);
    return steps;
}

// The host's steps reach the guest's game `late` steps after the guest asked for them; while
// the guest waits, at once. Every live step's score is noted, as the guest's player saw it.
class LateHost : public InputSource {
public:
    LateHost(NetGame& net, Lockstep& lockstep, Steps host, int late, const HeadlessHost& window)
        : net_(net), lockstep_(lockstep), host_(std::move(host)), late_(late), window_(window) {}
    Turn eventsBefore(long n, std::vector<ScriptEvent>& out) override {
        asked_ = std::max(asked_, n);
        next_ = n;
        return net_.eventsBefore(n, out);
    }
    // Before the front end's corrections: the host's steps up to `late` before the next step.
    void takeIn(int waitMs) override {
        deliver(waitMs > 0 ? asked_ : next_ - late_);
        net_.takeIn(0);
    }
    void stepDone(long step, Game& g) override {
        next_ = step + 1;
        net_.stepDone(step, g);
        seenScore[step] = g.w.score;
        labels.push_back({net_.settled(), window_.caption(Label::Time), window_.caption(Label::Score)});
    }

    std::map<long, int32_t> seenScore;   // the score on screen after each step's latest live run
    struct Labels {
        long settled;            // the last step settled when they were shown
        std::string time, score;
    };
    std::vector<Labels> labels;           // as shown after each live step

private:
    void deliver(long upTo) {
        for (long s = lockstep_.have(0) + 1; s <= upTo; ++s) {
            auto it = host_.find(s);
            lockstep_.put(0, s, it == host_.end() ? StepCommands{} : commandsOf(it->second));
        }
    }
    NetGame& net_;
    Lockstep& lockstep_;
    Steps host_;
    int late_;
    const HeadlessHost& window_;
    long asked_ = 0;
    long next_ = 1;   // the step the front end asks for next
};

// The sound device: every bank heard, counted.
class CountingSound : public SoundOut {
public:
    explicit CountingSound(SoundOut* passOn) : passOn_(passOn) {}
    void play(int bank) override {
        if (bank >= 0 && bank < kSoundBanks) ++heard[size_t(bank)];
        passOn_->play(bank);
    }
    std::array<int, kSoundBanks> heard{};

private:
    SoundOut* passOn_;
};

struct GuestRun {
    std::string trace;
    std::string kept;   // the game as the guest keeps it to replay alone
    std::vector<LateHost::Labels> labels;
    std::map<long, int32_t> seenScore;
    std::array<int, kSoundBanks> heard{};
    RerunMeasures reruns;
    long steps = 0;
};

// The guest brings players 2 and 4, the host 1 and 3. `guest`: the guest's own `at` lines;
// `host`: the host's as its steps carry them (already a step later than read).
GuestRun playAsGuest(const std::string& guest, const std::string& host, int late, long stepLimit) {
    testing::TempDir dir;
    const std::filesystem::path script = dir.path() / "guest.replay", trace = dir.path() / "trace";
    std::ofstream(script, std::ios::binary) << "players 0 1 0 1\ngame\n" << guest;
    HeadlessOptions o;
    o.script = script.string();
    o.trace = trace.string();
    o.dir = dir.path().string();
    GuestRun run;
    std::ostringstream out, err;
    const int code = runHeadless(o, out, err, [&](const Script& s, HeadlessHost& h, Game& g,
                                                  std::ostream&, std::ostream&) {
        h.setJoysticks(2);
        detectJoystick(g.controller, g.joysticks, kJoystickMargin);
        // As over a link of a long round trip: the game runs as far ahead as it ever may.
        std::unique_ptr<NetSession> session = NetSession::detached(false, kLongRoundTripMs);
        StartMessage m;
        m.game = 1;
        m.delay = 1;
        m.predicts = true;
        m.stepLimit = stepLimit;
        m.machines = {0, 1};
        m.machinePlayers = {{true, false, true, false}, {false, true, false, true}};
        m.players = {true, true, true, true};
        m.draws = g.rng.draws();
        m.carried = carriedValues(g.w);
        session->receive(0, wireStart(m));
        StartMessage taken;
        EXPECT_TRUE(session->takeStart(taken));
        for (MenuItem p : {MenuItem::Player1, MenuItem::Player2, MenuItem::Player3, MenuItem::Player4})
            h.setMark(p, true);
        std::vector<ScriptEvent> own;
        for (const ScriptCommand& c : s.commands)
            if (c.kind == ScriptCommand::Kind::Game) own = c.events;
        ScriptInput ownInput;
        ownInput.begin(own, 0);
        NetGame net(*session, taken, {}, ownInput);
        LateHost lateHost(net, session->lockstep(), stepsOf(host), late, h);
        CountingSound counting(g.sound);
        SoundOut* device = g.sound;
        g.sound = &counting;
        run.steps = h.playGame(1, lateHost, taken.stepLimit, net.rollback());
        g.sound = device;
        run.seenScore = lateHost.seenScore;
        run.labels = lateHost.labels;
        run.heard = counting.heard;
        run.reruns = net.reruns();
        run.kept = net.keptReplay(g.w);
        return 0;
    });
    EXPECT_EQ(code, 0) << err.str();
    run.trace = proc::slurp(trace);
    return run;
}

// One machine's run of the merged commands, as the key lines that do them: the host's first in
// each step, then the guest's, a step later than read; each machine's for its own players only.
std::string mergedTrace(const std::string& guest, const std::string& host, long stepLimit) {
    const Players hostPlayers{true, false, true, false}, guestPlayers{false, true, false, true};
    Steps merged;
    auto add = [&](const Players& mine, bool fromHost, long step, const std::vector<ScriptEvent>& events) {
        for (const ScriptEvent& e : commandEvents(ownCommands(mine, fromHost, commandsOf(events)), step))
            merged[step].push_back(e);
    };
    for (auto& [step, events] : stepsOf(host)) add(hostPlayers, true, step, events);
    for (auto& [step, events] : stepsOf(guest)) add(guestPlayers, false, step + 1, events);
    std::string text = "joysticks 2\nplayers 1 1 1 1\ngame\n";
    for (const auto& [step, events] : merged)
        for (const ScriptEvent& e : events) text += eventLine(e);
    testing::RunResult r = testing::runScript(text, stepLimit);
    EXPECT_EQ(r.code, 0) << r.err;
    return r.traceText;
}

std::vector<long long> sumOfSounds(const std::string& trace) {
    std::vector<long long> total(kSoundBanks, 0);
    std::istringstream in(trace);
    for (std::string line; std::getline(in, line);)
        for (long long b : testing::traceArray(testing::traceField(testing::traceFields(line), "sounds")))
            if (b >= 0 && b < kSoundBanks) ++total[size_t(b)];
    return total;
}

// A field of the settled step's object in a trace (step 0: as the setup leaves the game).
int32_t settledField(const std::string& trace, long step, const std::string& field) {
    if (step == 0) return field == "timeLeft" ? 60 : 0;
    std::istringstream in(trace);
    for (std::string line; std::getline(in, line);) {
        const testing::Fields f = testing::traceFields(line);
        if (testing::traceField(f, "step") == std::to_string(step) && testing::traceField(f, "end") == "<missing>")
            return std::stoi(testing::traceField(f, field));
    }
    return -1;
}

int32_t settledScore(const std::string& trace, long step) { return settledField(trace, step, "score"); }

// The host's countdown, as every network game has one: a game with none would tick by itself
// when played alone.
std::string ticking(const std::string& host) {
    return host.find("tick") != std::string::npos ? host : host + "at 51 tick\nat 101 tick\nat 151 tick\n";
}

// A busy game: the guest fires every few steps, the host turns now one way, now another, and
// fires every fourth step. With the seed below, a kill the guest saw is undone by the host's
// real keys.
std::pair<std::string, std::string> busyGame(unsigned seed) {
    std::mt19937 r(seed);
    std::string guest;
    for (long s = 2; s < 290; s += 3 + long(r() % 5))
        guest += "at " + std::to_string(s) + " key down 70 0\nat " + std::to_string(s + 1) + " key up 70 0\n";
    Steps host;
    auto add = [&](long step, const std::string& words) {
        for (const auto& [at, events] : stepsOf("at " + std::to_string(step) + " " + words + "\n"))
            host[at].insert(host[at].end(), events.begin(), events.end());
    };
    for (long s = 2; s < 290; s += 12 + long(r() % 30)) {
        const int key = std::array<int, 4>{37, 38, 39, 40}[r() % 4];
        add(s, "key down " + std::to_string(key) + " 0");
        add(s + 5 + long(r() % 30), "key up " + std::to_string(key) + " 0");
    }
    for (long s = 3; s < 290; s += 4) {
        add(s, "key down 17 2");
        add(s + 1, "key up 17 0");
    }
    for (long s = 51; s < 300; s += 50) add(s, "tick");
    std::string hostLines;
    for (const auto& [step, events] : host)
        for (const ScriptEvent& e : events) hostLines += eventLine(e);
    return {guest, hostLines};
}

struct Misprediction {
    const char* what;
    std::string guest, host;   // `at` lines
    int late;                  // steps the host's events come after the guest runs them
    long stepLimit = 160;
};

// Host player 1: arrows and Ctrl; player 3: joystick 0. Guest player 2: A D W S F; 4: joystick 1.
const Misprediction kMispredictions[] = {
    {"a key down arriving late", "at 20 key down 65 0\nat 60 key up 65 0\n",
     "at 30 key down 37 0\nat 90 key up 37 0\n", 6},
    {"a key up arriving late", "at 10 key down 68 0\nat 80 key up 68 0\n",
     "at 5 key down 39 0\nat 41 key up 39 0\n", 7},
    {"a joystick change", "at 15 joy 1 65535 32767 0\nat 70 joy 1 32767 32767 0\n",
     "at 25 joy 0 0 32767 1\nat 45 joy 0 32767 0 0\nat 95 joy 0 32767 32767 0\n", 5},
    {"a tick", "at 30 key down 70 0\nat 32 key up 70 0\n",
     "at 51 tick\nat 101 tick\nat 151 tick\n", 8},
    {"a charged shot released during a run again",
     "at 40 key down 70 0\nat 41 key up 70 0\nat 58 key down 65 0\nat 64 key up 65 0\n",
     "at 10 key down 17 2\nat 61 key up 17 0\nat 63 key down 37 0\nat 70 key up 37 0\n", 6},
};

TEST(Prediction, AMispredictionIsPutBackAndRunAgainToTheMergedTrace) {
    std::vector<Misprediction> cases(std::begin(kMispredictions), std::end(kMispredictions));
    const auto [busyGuest, busyHost] = busyGame(35);
    cases.push_back({"a kill undone", busyGuest, busyHost, 8, 300});
    for (const Misprediction& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string host = ticking(c.host);
        const GuestRun run = playAsGuest(c.guest, host, c.late, c.stepLimit);
        EXPECT_GT(run.reruns.rollbacks, 0);
        EXPECT_LE(run.reruns.longestSteps, kRunAhead + 1);
        if (std::string(c.what) == "a kill undone") {
            bool undone = false;   // a step whose score on screen was above the settled one
            for (const auto& [step, score] : run.seenScore) undone = undone || score > settledScore(run.trace, step);
            EXPECT_TRUE(undone);
        }
        const std::string want = mergedTrace(c.guest, host, c.stepLimit);
        EXPECT_TRUE(run.trace == want);
        // The labels never show what a step run ahead did, only what the last settled one left.
        for (const LateHost::Labels& l : run.labels) {
            EXPECT_EQ(l.time, captionNumber("Time :", settledField(run.trace, l.settled, "timeLeft"))) << l.settled;
            EXPECT_EQ(l.score, captionNumber("Score :", settledField(run.trace, l.settled, "score"))) << l.settled;
        }
    }
}

// The host's last tick comes late: the guest has run on past it, and the game ends where the
// host's did, after step 60.
TEST(Prediction, TheLastTickArrivingLateEndsTheGameWhereItEnded) {
    std::string ticks;
    for (int s = 2; s <= 61; ++s) ticks += "at " + std::to_string(s) + " tick\n";
    const std::string guest = "at 3 key down 70 0\nat 5 key up 70 0\nat 20 key down 65 0\n";
    const GuestRun run = playAsGuest(guest, "at 2 key down 17 2\nat 9 key up 17 0\n" + ticks, 6, 500);
    EXPECT_EQ(run.steps, 60);
    EXPECT_GT(run.seenScore.rbegin()->first, 60);   // it had run on, and went back
    EXPECT_NE(run.kept.find("at 61 tick\n"), std::string::npos) << run.kept;   // the last tick kept
    EXPECT_EQ(run.kept.find("at 62 "), std::string::npos) << run.kept;
    EXPECT_TRUE(run.trace == mergedTrace(guest, "at 2 key down 17 2\nat 9 key up 17 0\n" + ticks, 500));
}

// The guest fires every seventh step while the host's turning keeps coming late: each of its
// shots runs again up to eight times, and is heard once.
TEST(Prediction, NoSoundOfAStepRunAgainIsHeardTwice) {
    std::string guest, host;
    for (long s = 3; s < 150; s += 7)
        guest += "at " + std::to_string(s) + " key down 70 0\nat " + std::to_string(s + 1) + " key up 70 0\n";
    for (long s = 2; s < 150; s += 9)
        host += "at " + std::to_string(s) + " key down 39 0\nat " + std::to_string(s + 4) + " key up 39 0\n";
    host = ticking(host);
    const GuestRun run = playAsGuest(guest, host, 8, 160);
    EXPECT_GT(run.reruns.stepsAgain, 100);
    const std::vector<long long> settled = sumOfSounds(run.trace);
    EXPECT_GT(settled[kGunBank], 10);
    for (int bank = 0; bank < kSoundBanks; ++bank) EXPECT_EQ(run.heard[size_t(bank)], settled[size_t(bank)]) << bank;
    EXPECT_TRUE(run.trace == mergedTrace(guest, host, 160));
}

}  // namespace
}  // namespace hopshot
