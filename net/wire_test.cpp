#include "net/wire.h"

#include "net/session.h"
#include "play/command_events.h"

#include "testing/script_events.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

using testing::key;

StartMessage aStart() {
    StartMessage m;
    m.game = 3;
    m.delay = 4;
    m.stepLimit = 400;
    m.machines = {0, 2, 3};
    m.machinePlayers = {{true, false, false, false}, {false, false, true, false}, {false, false, false, true}};
    m.players = {true, false, true, true};
    m.draws = 123456;
    m.carried.steerX = {1, 0, -1, 0};
    m.carried.hopperVY[20] = -32768;
    m.carried.bloodBudget = 12;
    m.joys[1] = {0, 65535, 0xFFFFFFFFu};
    m.predicts = true;
    return m;
}

StepsPacket aPacket() {
    ScriptEvent joy;
    joy.kind = ScriptEvent::Kind::Joy;
    joy.joystick = 1;
    joy.x = 65535;
    joy.buttons = 1;
    ScriptEvent tick;
    tick.kind = ScriptEvent::Kind::Tick;
    ScriptEvent menu;
    menu.kind = ScriptEvent::Kind::Menu;
    menu.item = MenuItem::Wireframe;
    StepsPacket p;
    p.game = 2;
    p.have = {{0, 17}, {1, 15}};
    p.runs.push_back({1, 12, {{}, {}, commandsOf({key(true, 65, 0), key(false, 17, 2), key(false, 38, 0)}), {},
                              commandsOf({joy, tick, menu, key(true, 27, 0)}), {}}, true, 0xDEADBEEF});
    p.runs.push_back({0, 18, {{}}, false, 0});
    return p;
}

TEST(Wire, AStartAndAPacketOfStepsReadBackAsSent) {
    StartMessage back;
    ASSERT_TRUE(readStart(wireStart(aStart()), back));
    const StartMessage m = aStart();
    EXPECT_EQ(back.game, 3);
    EXPECT_EQ(back.delay, 4);
    EXPECT_EQ(back.stepLimit, 400);
    EXPECT_EQ(back.machines, m.machines);
    EXPECT_EQ(back.machinePlayers, m.machinePlayers);
    EXPECT_EQ(back.players, m.players);
    EXPECT_EQ(back.draws, m.draws);
    EXPECT_TRUE(back.carried == m.carried);
    EXPECT_EQ(back.joys[1].y, 65535);
    EXPECT_EQ(back.joys[1].buttons, 0xFFFFFFFFu);
    EXPECT_TRUE(back.predicts);

    const StepsPacket p = aPacket();
    StepsPacket q;
    ASSERT_TRUE(readSteps(wireSteps(p), q));
    EXPECT_EQ(q.game, 2);
    EXPECT_EQ(q.have, p.have);
    ASSERT_EQ(q.runs.size(), 2u);
    for (size_t r = 0; r < 2; ++r) {
        EXPECT_EQ(q.runs[r].machine, p.runs[r].machine);
        EXPECT_EQ(q.runs[r].first, p.runs[r].first);
        EXPECT_EQ(q.runs[r].hasFingerprint, p.runs[r].hasFingerprint);
        EXPECT_EQ(q.runs[r].fingerprint, p.runs[r].fingerprint);
        ASSERT_EQ(q.runs[r].steps.size(), p.runs[r].steps.size());
        for (size_t k = 0; k < p.runs[r].steps.size(); ++k)
            EXPECT_TRUE(q.runs[r].steps[k] == p.runs[r].steps[k]) << "run " << r << " step " << k;
    }
}

// A second of a quiet game is a handful of bytes: steps without commands are one count.
TEST(Wire, StepsWithoutEventsCostACountAndTheFingerprintFourBytes) {
    StepsPacket p;
    p.game = 1;
    p.have = {{0, 1000}, {1, 998}};
    p.runs.push_back({1, 995, std::vector<StepCommands>(6), true, 7});
    EXPECT_LE(wireSteps(p).size(), 24u);
}

// Whatever arrives is read whole or refused whole: every cut of a good message, every byte
// changed, and the fields out of range.
TEST(Wire, AMessageThatBreaksARuleIsRefusedWhole) {
    const std::string start = wireStart(aStart()), steps = wireSteps(aPacket());
    StartMessage m;
    StepsPacket p;
    for (size_t cut = 0; cut < start.size(); ++cut) EXPECT_FALSE(readStart(start.substr(0, cut), m)) << cut;
    for (size_t cut = 0; cut < steps.size(); ++cut) EXPECT_FALSE(readSteps(steps.substr(0, cut), p)) << cut;
    EXPECT_FALSE(readStart(start + "x", m));   // more than it holds
    for (size_t at = 0; at < steps.size(); ++at)
        for (int bit = 0; bit < 8; ++bit) {
            std::string changed = steps;
            changed[at] = char(changed[at] ^ (1 << bit));
            if (!readSteps(changed, p)) continue;
            for (const StepRun& run : p.runs) {   // what still reads is within range
                EXPECT_LE(run.steps.size(), size_t(kMaxStepsPerRun));
                for (const StepCommands& step : run.steps) {
                    EXPECT_LE(step.hostCount, kMaxHostCommands);
                    for (const PlayerCommand& c : step.players)
                        EXPECT_TRUE(c.stick.x >= 0 && c.stick.x <= 65535 && c.stick.y >= 0 && c.stick.y <= 65535);
                }
            }
        }

    auto startWith = [](auto change) {
        StartMessage s = aStart();
        change(s);
        return wireStart(s);
    };
    const std::vector<std::pair<const char*, std::string>> bad = {
        {"a delay of 0", startWith([](StartMessage& s) { s.delay = 0; })},
        {"a delay of 11", startWith([](StartMessage& s) { s.delay = 11; })},
        {"a delay of 2147483647", startWith([](StartMessage& s) { s.delay = 2147483647; })},
        {"draws past the bound", startWith([](StartMessage& s) { s.draws = 999999999999ull; })},
        {"no machine", startWith([](StartMessage& s) { s.machines.clear(); s.machinePlayers.clear(); })},
        {"a guest first", startWith([](StartMessage& s) { s.machines[0] = 1; })},
        {"a machine twice", startWith([](StartMessage& s) { s.machines[2] = 2; })},
        {"a player on two machines", startWith([](StartMessage& s) { s.machinePlayers[1][0] = true; })},
        {"five machines", startWith([](StartMessage& s) {
             s.machines = {0, 1, 2, 3, 4};
             s.machinePlayers.resize(5);
         })},
        {"a step limit past the bound", startWith([](StartMessage& s) { s.stepLimit = kMaxStepLimit + 1; })},
        {"another wire version", std::string(1, char(kWireVersion + 1)) + start.substr(1)},
    };
    for (const auto& [what, bytes] : bad) EXPECT_FALSE(readStart(bytes, m)) << what;

    // A step's commands out of range: an aim past the last, nine host commands, a host command
    // past the menus; and a run longer than any packet holds.
    const std::string good = wireSteps(aPacket());
    const size_t firstStep = good.find(char(0x03), 8);   // players 1 and 2's slots in step 14
    ASSERT_NE(firstStep, std::string::npos);
    for (const auto& [what, at, byte] : std::vector<std::tuple<const char*, size_t, char>>{
             {"an aim of 7", firstStep + 1, char(0x07)},
             {"a step with nothing in it", firstStep, char(0x00)},
             {"a slot past player 4", firstStep, char(0x23)}}) {
        std::string changed = good;
        changed[at] = byte;
        EXPECT_FALSE(readSteps(changed, p)) << what;
    }
    StepsPacket many = aPacket();
    many.runs[0].steps[4].hostCount = kMaxHostCommands;
    std::string nine = wireSteps(many);
    const size_t count = nine.find(char(kMaxHostCommands));
    ASSERT_NE(count, std::string::npos);
    nine[count] = char(kMaxHostCommands + 1);
    EXPECT_FALSE(readSteps(nine, p));
    many.runs[0].steps[4].host[0] = uint8_t(kHostCommandCodes);
    EXPECT_FALSE(readSteps(wireSteps(many), p));
    StepsPacket longRun = aPacket();
    longRun.runs[0].steps.resize(size_t(kMaxStepsPerRun) + 1);
    EXPECT_FALSE(readSteps(wireSteps(longRun), p));
}

TEST(Wire, AHelloOfAnyVersionNamesItsVersion) {
    HelloMessage h;
    ASSERT_TRUE(readHello(wireHello({"hopshot 9.9 net 2", {false, true, false, false}}), h));
    EXPECT_EQ(h.version, "hopshot 9.9 net 2");
    EXPECT_EQ(h.players, (Players{false, true, false, false}));
    std::string other = wireHello({"hopshot 7 net 7", {true, false, false, false}});
    other[0] = char(kWireVersion + 5);
    EXPECT_FALSE(readHello(other, h));
    EXPECT_EQ(h.version, "hopshot 7 net 7");
    EXPECT_FALSE(readHello("hello 0100 hopshot 0.1 net 1", h));   // before this wire
    EXPECT_EQ(h.version, "hopshot 0.1 net 1");
}

// What a host says that would leave a guest out of its own game is refused: a second machine
// number, or a start that does not name the guest.
TEST(Wire, AGuestKeepsItsNumberAndTakesOnlyAStartThatNamesIt) {
    auto guest = NetSession::detached(false);
    guest->receive(0, wireNumber(MsgKind::Welcome, 7));
    EXPECT_EQ(guest->self(), 1);

    StartMessage without = aStart();   // machines 0, 2 and 3
    StartMessage with = aStart();
    with.machines = {0, 1, 3};
    StartMessage taken;
    guest->receive(0, wireStart(without));
    EXPECT_FALSE(guest->takeStart(taken));
    EXPECT_FALSE(guest->gameOn());
    guest->receive(0, wireStart(with));
    ASSERT_TRUE(guest->takeStart(taken));
    EXPECT_EQ(taken.machines, with.machines);
    EXPECT_TRUE(guest->lockstep().inGame(guest->self()));
}

}  // namespace
}  // namespace hopshot
