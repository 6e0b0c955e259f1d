#include "net/session_states.h"

namespace hopshot {

HostState nextHost(HostState from, HostEvent e) {
    using S = HostState;
    using E = HostEvent;
    switch (from) {
    case S::Waiting:
    case S::Playing:
        if (e == E::Start) return S::Playing;
        if (e == E::GameOver) return S::Waiting;
        if (e == E::Finish) return S::Finishing;
        return from;
    case S::Finishing:
        return e == E::GuestsGone || e == E::GoodbyeTimeUp ? S::Finished : from;
    case S::Finished: return from;
    }
    return from;
}

GuestMove nextGuest(GuestMove from, GuestEvent e) {
    using S = GuestState;
    using E = GuestEvent;
    using End = GuestEnd;
    const auto over = [](End why) { return GuestMove{S::Over, why}; };
    // What ends a joined session, whatever it is doing.
    const auto ending = [&](GuestMove stay) {
        switch (e) {
        case E::HostGone: return over(End::HostLeft);
        case E::Dropped: return over(End::Dropped);
        case E::Leave: return over(End::LeftItself);
        default: return stay;
        }
    };
    switch (from.state) {
    case S::Open: return e == E::Connect ? GuestMove{S::Connecting, End::None} : from;
    case S::Connecting:
    case S::Greeting:
        if (e == E::Connected && from.state == S::Connecting) return {S::Greeting, End::None};
        if (e == E::Welcome && from.state == S::Greeting) return {S::Joined, End::None};
        if (e == E::Refused) return over(End::Refused);
        if (e == E::HostGone) return over(End::HostLeft);
        return from;
    case S::Joined:
        if (e == E::Start) return {S::Playing, End::None};
        if (e == E::HostOver) return over(End::HostFinished);
        return ending(from);
    case S::Playing:
        if (e == E::GameOver) return {S::Joined, End::None};
        if (e == E::HostOver) return {S::LastGame, End::None};
        return ending(from);
    case S::LastGame:
        if (e == E::GameOver) return over(End::HostFinished);
        return ending(from);
    case S::Over:
        // A start the host sent before it finished is still played; nothing else moves it.
        if (e == E::Start && from.end == End::HostFinished) return {S::LastGame, End::None};
        return from;
    }
    return from;
}

const char* stateName(HostState s) {
    static const char* const names[] = {"waiting for machines", "in a game", "finishing", "finished"};
    return names[int(s)];
}

const char* stateName(GuestState s) {
    static const char* const names[] = {"open",   "connecting",    "saying hello", "joined",
                                        "in a game", "in the last game", "over"};
    return names[int(s)];
}

const char* eventName(HostEvent e) {
    static const char* const names[] = {"start", "game over", "finish", "guests gone", "goodbye's time up"};
    return names[int(e)];
}

const char* eventName(GuestEvent e) {
    static const char* const names[] = {"connect",   "connected", "welcome",   "refused", "start",
                                        "game over", "host over", "host gone", "dropped", "leave"};
    return names[int(e)];
}

}  // namespace hopshot
