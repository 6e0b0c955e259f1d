// The session's two machines, move by move, with no network under them: the tables alone, then
// detached sessions fed the host's and a guest's messages, checking the state each ends in and
// what each would have sent.
#include "net/session.h"
#include "net/session_states.h"
#include "net/wire.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

TEST(SessionStates, TheHostMovesOnlyAsItsTableSays) {
    using S = HostState;
    using E = HostEvent;
    struct Row {
        S from;
        E event;
        S to;
    };
    for (const Row& r : {Row{S::Waiting, E::Start, S::Playing}, Row{S::Playing, E::GameOver, S::Waiting},
                         Row{S::Playing, E::Start, S::Playing}, Row{S::Waiting, E::Finish, S::Finishing},
                         Row{S::Playing, E::Finish, S::Finishing}, Row{S::Waiting, E::GuestsGone, S::Waiting},
                         Row{S::Finishing, E::Start, S::Finishing}, Row{S::Finishing, E::GuestsGone, S::Finished},
                         Row{S::Finishing, E::GoodbyeTimeUp, S::Finished}, Row{S::Finished, E::Start, S::Finished}})
        EXPECT_EQ(nextHost(r.from, r.event), r.to) << stateName(r.from) << " on " << eventName(r.event);
}

TEST(SessionStates, AGuestMovesOnlyAsItsTableSays) {
    using S = GuestState;
    using E = GuestEvent;
    using End = GuestEnd;
    struct Row {
        S from;
        End fromEnd;
        E event;
        S to;
        End end;
    };
    const Row rows[] = {
        {S::Open, End::None, E::Connect, S::Connecting, End::None},
        {S::Open, End::None, E::Welcome, S::Open, End::None},   // nothing is heard before connecting
        {S::Connecting, End::None, E::Connected, S::Greeting, End::None},
        {S::Connecting, End::None, E::Welcome, S::Connecting, End::None},
        {S::Greeting, End::None, E::Welcome, S::Joined, End::None},
        {S::Greeting, End::None, E::Refused, S::Over, End::Refused},
        {S::Connecting, End::None, E::HostGone, S::Over, End::HostLeft},
        {S::Joined, End::None, E::Start, S::Playing, End::None},
        {S::Joined, End::None, E::HostOver, S::Over, End::HostFinished},
        {S::Playing, End::None, E::GameOver, S::Joined, End::None},
        {S::Playing, End::None, E::HostOver, S::LastGame, End::None},   // the game is played out
        {S::LastGame, End::None, E::GameOver, S::Over, End::HostFinished},
        {S::LastGame, End::None, E::HostGone, S::Over, End::HostLeft},
        {S::Playing, End::None, E::Dropped, S::Over, End::Dropped},
        {S::Joined, End::None, E::Leave, S::Over, End::LeftItself},
        {S::Over, End::HostFinished, E::HostGone, S::Over, End::HostFinished},   // its goodbye
        {S::Over, End::HostFinished, E::Start, S::LastGame, End::None},   // sent before "over"
        {S::Over, End::Dropped, E::Start, S::Over, End::Dropped},
        {S::Over, End::LeftItself, E::HostGone, S::Over, End::LeftItself},
    };
    for (const Row& r : rows) {
        const GuestMove to = nextGuest({r.from, r.fromEnd}, r.event);
        EXPECT_EQ(to.state, r.to) << stateName(r.from) << " on " << eventName(r.event);
        EXPECT_EQ(to.end, r.end) << stateName(r.from) << " on " << eventName(r.event);
    }
}

// The kinds of the messages a detached session sent, in order.
std::vector<MsgKind> kindsSent(const NetSession& s) {
    std::vector<MsgKind> kinds;
    for (const std::string& bytes : s.sentDetached()) {
        MsgKind k;
        if (wireKind(bytes, k)) kinds.push_back(k);
    }
    return kinds;
}

StartMessage startFor(int game, const std::vector<int>& machines) {
    StartMessage m;
    m.game = game;
    m.delay = 2;
    m.stepLimit = 100;
    m.machines = machines;
    for (size_t i = 0; i < machines.size(); ++i) m.machinePlayers.push_back({i == 0, i == 1, i == 2, false});
    m.players = {true, true, machines.size() > 2, false};
    return m;
}

// A guest, joined, hears the host's messages (and takes starts and ends its games, as its game
// does): where it ends, whether the host counts as having left, and whether it is dropped.
TEST(SessionStates, AGuestFollowsWhatTheHostSays) {
    enum Step { Start, Take, GameOver, Over, Bye, Gone, TwoOvers };
    struct Row {
        const char* what;
        std::vector<Step> steps;
        GuestState state;
        bool over, hostLeft, expelled;
    };
    const Row rows[] = {
        {"a game played", {Start, Take}, GuestState::Playing, false, false, false},
        {"a game ended", {Start, Take, GameOver}, GuestState::Joined, false, false, false},
        {"over between games", {Start, Take, GameOver, Over}, GuestState::Over, true, false, false},
        {"over in the last game", {Start, Take, Over}, GuestState::LastGame, true, false, false},
        {"over, and the game ends", {Start, Take, Over, GameOver}, GuestState::Over, true, false, false},
        {"over said twice", {Start, Take, TwoOvers, GameOver}, GuestState::Over, true, false, false},
        {"goodbye after over", {Start, Take, Over, GameOver, Gone}, GuestState::Over, true, false, false},
        {"gone in the last game", {Start, Take, Over, Gone}, GuestState::Over, true, true, false},
        {"gone in a game", {Start, Take, Gone}, GuestState::Over, true, true, false},
        {"dropped in a game", {Start, Take, Bye}, GuestState::Over, true, false, true},
        {"a start sent before over", {Start, Over, Take}, GuestState::LastGame, true, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        auto guest = NetSession::detached(false);
        for (Step step : r.steps) {
            StartMessage taken;
            switch (step) {
            case Start: guest->receive(0, wireStart(startFor(1, {0, 1}))); break;
            case Take: ASSERT_TRUE(guest->takeStart(taken)); break;
            case GameOver: guest->gameOver(); break;
            case Over: guest->receive(0, wireSimple(MsgKind::Over)); break;
            case TwoOvers:
                guest->receive(0, wireSimple(MsgKind::Over));
                guest->receive(0, wireSimple(MsgKind::Over));
                break;
            case Bye: guest->receive(0, wireText(MsgKind::Bye, "no reason")); break;
            case Gone: guest->receive(0, std::string(30, '\xff')); break;   // see below
            }
            if (step == Gone)   // nonsense past the refusals' limit lets the host go
                for (int k = 0; k < kRefusalsTolerated; ++k) guest->receive(0, std::string(30, '\xff'));
        }
        EXPECT_EQ(guest->guestState(), r.state) << stateName(guest->guestState());
        EXPECT_EQ(guest->over(), r.over);
        EXPECT_EQ(guest->hostLeft(), r.hostLeft);
        EXPECT_EQ(guest->expelled().empty(), !r.expelled);
        EXPECT_FALSE(guest->moves().empty());
    }
}

// A host hears hellos, starts a game and finishes: its state and the messages it sends.
TEST(SessionStates, TheHostAnswersAndFinishesAsItsMachineSays) {
    struct Row {
        const char* what;
        std::string hello;
        bool start, finish;
        HostState state;
        std::vector<MsgKind> sent;
    };
    const std::string good = wireHello({programVersion(), {false, true, false, false}});
    const std::string taken = wireHello({programVersion(), {true, false, false, false}});
    const std::string old = wireHello({"hopshot 0.1 net 3", {false, true, false, false}});
    const Row rows[] = {
        {"welcomed", good, false, false, HostState::Waiting, {MsgKind::Welcome, MsgKind::Roster}},
        {"a player taken", taken, false, false, HostState::Waiting, {MsgKind::Refuse}},
        {"another version", old, false, false, HostState::Waiting, {MsgKind::Refuse}},
        {"a game", good, true, false, HostState::Playing, {MsgKind::Welcome, MsgKind::Roster, MsgKind::Start}},
        {"finished", good, true, true, HostState::Finishing,
         {MsgKind::Welcome, MsgKind::Roster, MsgKind::Start, MsgKind::Over}},
        {"no guest to tell", old, false, true, HostState::Finishing, {MsgKind::Refuse}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        auto host = NetSession::detached(true);
        host->receive(0, r.hello);
        if (r.start) host->startGame(startFor(1, {0, 1}));
        if (r.finish) host->finish();
        EXPECT_EQ(host->hostState(), r.state) << stateName(host->hostState());
        EXPECT_EQ(kindsSent(*host), r.sent);
    }
}

// The goodbye's rule leans on the link's word for "this guest has every step of the last game":
// the host's own steps and those it passes on, each confirmed up to the last one kept.
TEST(SessionStates, AGuestHasTheLastStepsOnlyWhenItConfirmedEachMachinesLast) {
    struct Row {
        const char* what;
        int game;             // the game the guest's confirmation names
        long host, other;     // its last step held of the host's, of machine 2's
        bool playsIn;         // the guest plays the game whose steps are kept
        bool all;
    };
    const Row rows[] = {
        {"every step", 1, 10, 8, true, true},
        {"the host's last lost", 1, 9, 8, true, false},
        {"the other's last lost", 1, 10, 7, true, false},
        {"nothing heard of the game", 0, 0, 0, true, false},
        {"already in the next game", 2, 0, 0, true, true},
        {"not in the game", 0, 0, 0, false, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        SessionLink link;
        link.setHub(true);
        link.playing(1, r.playsIn ? std::vector<int>{0, 1, 2} : std::vector<int>{0, 2});
        for (long step = 1; step <= 10; ++step) link.keep(1, 0, step);
        for (long step = 1; step <= 8; ++step) link.keep(1, 2, step);
        bool fresh = false;
        link.moveOn(1, r.game);
        EXPECT_TRUE(link.confirm(1, r.game, 0, r.host, fresh));
        EXPECT_TRUE(link.confirm(1, r.game, 2, r.other, fresh));
        EXPECT_EQ(link.confirmedAll(1, 1), r.all);
    }
}

}  // namespace
}  // namespace hopshot
