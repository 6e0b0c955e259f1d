// Whole games replayed headless, their traces checked field by field where the rules show:
// shells that kill hoppers, hoppers that reach a tank, and two charged shots that set off the
// bomb. The checks tie each event to the state the step before left, so they hold for any
// sequence of random draws.
#include "testing/headless_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace hopshot {
namespace {

using testing::Fields;
using testing::runScript;
using testing::traceArray;
using testing::traceField;

// One step object, its tables and numbers at hand.
struct Step {
    std::map<std::string, std::vector<long long>> t;
    long long n(const std::string& key) const { return t.at(key).at(0); }
    const std::vector<long long>& a(const std::string& key) const { return t.at(key); }
};

std::vector<Step> stepsOf(const std::vector<Fields>& trace) {
    std::vector<Step> steps;
    for (const Fields& f : trace) {
        if (traceField(f, "end") == "true") break;
        Step s;
        for (const auto& [key, value] : f)
            s.t[key] = value.front() == '[' ? traceArray(value) : std::vector<long long>{std::stoll(value)};
        steps.push_back(std::move(s));
    }
    return steps;
}

bool played(const Step& s, int bank) {
    const auto& v = s.a("sounds");
    return std::find(v.begin(), v.end(), bank) != v.end();
}

// Player 1 taps Ctrl every 20 steps for a whole game: shells fly straight ahead.
std::string tappingScript() {
    std::string script = "players 1 0 0 0\ngame\n";
    for (int step = 1; step < 3000; step += 20)
        script += "at " + std::to_string(step) + " key down 17 2\nat " + std::to_string(step + 3) +
                  " key up 17 0\n";
    return script;
}

TEST(ReplayedGames, EveryShellKillScoresTheHoppersPlaceAndThrowsItsBlood) {
    const auto run = runScript(tappingScript());
    ASSERT_EQ(run.code, 0) << run.err;
    const std::vector<Step> steps = stepsOf(run.trace);
    ASSERT_EQ(steps.size(), 3000u);
    int kills = 0;
    for (size_t k = 1; k < steps.size(); ++k) {
        const Step &before = steps[k - 1], &now = steps[k];
        const long long gained = now.n("score") - before.n("score");
        if (gained <= 0) continue;
        // Exactly the hoppers that left play in this step, not at the near end, were killed.
        long long expected = 0;
        int killed = 0;
        for (int i = 0; i < 21; ++i) {
            if (before.a("hopperX")[i] == -5000 || now.a("hopperX")[i] != -5000) continue;
            if (now.a("hopperZ")[i] == -450) continue;   // left at the near end
            ++killed;
            const long long worth = now.a("hopperZ")[i] + 450;
            expected += i < 19 ? worth : 5 * worth;
            // Its blood flew from where it was: a particle whose place less its speed is there.
            bool blood = false;
            for (int p = 0; p < 101; ++p)
                blood |= now.a("bloodX")[p] != -5000 &&
                         now.a("bloodX")[p] - now.a("bloodVX")[p] == before.a("hopperX")[i] &&
                         now.a("bloodZ")[p] - now.a("bloodVZ")[p] == now.a("hopperZ")[i];
            EXPECT_TRUE(blood) << "step " << now.n("step") << " hopper " << i;
            if (i == 19) {
                EXPECT_GT(now.n("flashTimer"), 0);
            }
            if (i == 20) {
                EXPECT_TRUE(played(now, 2));
            }
        }
        if (killed == 0) continue;   // a point change of another kind
        ++kills;
        EXPECT_EQ(gained, expected) << "step " << now.n("step");
        EXPECT_TRUE(played(now, 1) || played(now, 6) || played(now, 2)) << "step " << now.n("step");
    }
    EXPECT_GT(kills, 3);
    EXPECT_EQ(traceField(run.trace.back(), "score"), std::to_string(steps.back().n("score")));
}

TEST(ReplayedGames, AHopperReachingTheTankCostsAThousandAndShakesItsView) {
    const auto run = runScript("players 1 0 0 0\ngame\n");   // nobody shoots
    ASSERT_EQ(run.code, 0) << run.err;
    const std::vector<Step> steps = stepsOf(run.trace);
    int contacts = 0;
    for (size_t k = 1; k < steps.size(); ++k) {
        const Step &before = steps[k - 1], &now = steps[k];
        const long long lost = before.n("score") - now.n("score");
        if (lost <= 0) continue;
        ++contacts;
        EXPECT_TRUE(played(now, 3)) << "step " << now.n("step");
        EXPECT_EQ(now.a("damageTimer")[0], 29);   // set to 30, one jolt already in this pass
        int reached = -1;
        for (int i = 0; i < 21; ++i)
            if (before.a("hopperX")[i] != -5000 && now.a("hopperX")[i] == -5000 &&
                now.a("hopperZ")[i] < -380 && std::abs(before.a("hopperX")[i] + 300) < 30)
                reached = i;
        ASSERT_GE(reached, 0) << "step " << now.n("step");
        EXPECT_EQ(lost, reached == 20 ? 5000 : 1000);
    }
    EXPECT_GT(contacts, 0);
    // The score only ever falls in this game, by whole contacts.
    EXPECT_EQ(steps.back().n("score") % 1000, 0);
}

// Players 1 and 2 turn towards each other by the same angle, charge together and let go
// together: their charged shots meet halfway between the tanks.
TEST(ReplayedGames, TwoChargedShotsMeetingSetOffTheBombThatRollsAndEnds) {
    const auto run = runScript(
        "players 1 1 0 0\ngame\n"
        "at 1 key down 39 0\nat 1 key down 65 0\nat 7 key up 39 0\nat 7 key up 65 0\n"
        "at 8 key down 17 2\nat 8 key down 70 2\nat 40 key up 17 0\nat 40 key up 70 0\n"
        "at 200 key down 27 0\n");
    ASSERT_EQ(run.code, 0) << run.err;
    const std::vector<Step> steps = stepsOf(run.trace);
    auto setOff = std::find_if(steps.begin(), steps.end(), [](const Step& s) { return played(s, 5); });
    ASSERT_NE(setOff, steps.end());
    const Step& before = *(setOff - 1);
    EXPECT_EQ(before.n("bombX"), -5000);
    EXPECT_EQ(before.a("shellKind")[0], 1);
    EXPECT_EQ(before.a("shellKind")[1], 1);
    // Set off in player 2's pass, at player 2's shot; one bomb step of 10 in that same pass.
    EXPECT_EQ(setOff->n("bombX"), setOff->a("shellX")[1]);
    EXPECT_EQ(setOff->n("bombZ"), setOff->a("shellZ")[1] + 10);
    EXPECT_EQ(setOff->n("bombSpin"), before.n("bombSpin") + 30);
    EXPECT_NE(setOff->a("shellX")[0], -5000);   // both shots fly on
    // It rolls 20 and turns 60 a step with two players, until it passes z 450.
    const Step* last = &*setOff;
    for (auto s = setOff + 1; s != steps.end() && s->n("bombX") != -5000; ++s) {
        EXPECT_EQ(s->n("bombZ"), last->n("bombZ") + 20);
        long long spin = last->n("bombSpin");
        for (int pass = 0; pass < 2; ++pass) spin = spin + 30 > 360 ? 0 : spin + 30;
        EXPECT_EQ(s->n("bombSpin"), spin);
        // Every hopper within 80 of it in x and z is gone.
        for (int i = 0; i < 21; ++i)
            if (s->a("hopperX")[i] != -5000) {
                const bool near = std::abs(s->a("hopperX")[i] - s->n("bombX")) < 80 &&
                                  std::abs(s->a("hopperZ")[i] - s->n("bombZ")) < 60;
                EXPECT_FALSE(near) << "step " << s->n("step") << " hopper " << i;
            }
        last = &*s;
    }
    const auto end = std::find_if(setOff, steps.end(), [](const Step& s) { return s.n("bombX") == -5000; });
    ASSERT_NE(end, steps.end());
    EXPECT_EQ(end->n("bombZ"), 0);
    for (long long x : end->a("bloodX")) EXPECT_EQ(x, -5000);   // the bomb takes the blood along
}

TEST(ReplayedGames, AScriptReplaysToTheSameTrace) {
    const std::string script = tappingScript();
    EXPECT_EQ(runScript(script).traceText, runScript(script).traceText);
}

}  // namespace
}  // namespace hopshot
