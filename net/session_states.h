// The two ends of a session as state machines: what each can be doing, what can happen to it,
// and every move between the two in one table each. Plain tables with no network under them, so
// that the moves can be read (and tested) apart from the link that carries the messages.
#pragma once

#include <string>

namespace hopshot {

// The host: it waits for machines (and between games), plays a game, and when it has no more
// games it finishes: it tells the guests and stays until each has confirmed the last step and
// said goodbye, or the goodbye's time is up.
enum class HostState { Waiting, Playing, Finishing, Finished };
enum class HostEvent { Start, GameOver, Finish, GuestsGone, GoodbyeTimeUp };

// A guest: its socket open with no host yet (the ways through meet and try paths on it), ENet's
// handshake under way, its hello said, joined and between games, in a game, in the last game
// (the host said it has no more), and over. Over says why in GuestEnd.
enum class GuestState { Open, Connecting, Greeting, Joined, Playing, LastGame, Over };
enum class GuestEvent {
    Connect,      // joinHost: ENet's connect goes out
    Connected,    // ENet's handshake ended: the hello goes out
    Welcome,      // the host gave this machine its number
    Refused,      // the host refused it (why is on the refusal)
    Start,        // a start taken: a game begins
    GameOver,     // this machine's game ended
    HostOver,     // the host has no more games
    HostGone,     // the host left, went silent or was let go
    Dropped,      // the host dropped this machine, or is judged gone by its steps or its pause
    Leave,        // this machine leaves by itself (it ends its games elsewhere)
};
enum class GuestEnd { None, HostFinished, HostLeft, Dropped, Refused, LeftItself };

struct GuestMove {
    GuestState state;
    GuestEnd end;   // None while it is not over
};

// The state a move leads to; the same state when the event changes nothing there. A guest's
// moves also say why it is over: a start that was under way when the host finished is still
// played, and the first reason a session ends for is the one that stands.
HostState nextHost(HostState from, HostEvent e);
GuestMove nextGuest(GuestMove from, GuestEvent e);

const char* stateName(HostState s);
const char* stateName(GuestState s);
const char* eventName(HostEvent e);
const char* eventName(GuestEvent e);

}  // namespace hopshot
