#include "net/messages.h"


namespace hopshot {

GameStart gameStartOf(const StartMessage& m) {
    GameStart g;
    g.players = m.players;
    g.draws = m.draws;
    g.carried = m.carried;
    return g;
}

std::vector<ScriptEvent> startJoyEvents(const StartMessage& m) {
    std::vector<ScriptEvent> v;
    for (int j = 0; j < 2; ++j) {
        ScriptEvent e;
        e.kind = ScriptEvent::Kind::Joy;
        e.step = 1;
        e.joystick = j;
        e.x = m.joys[size_t(j)].x;
        e.y = m.joys[size_t(j)].y;
        e.buttons = m.joys[size_t(j)].buttons;
        v.push_back(e);
    }
    return v;
}

}  // namespace hopshot
