#include "play/command_events.h"

#include "controls/commands.h"

namespace hopshot {

namespace {

ScriptEvent keyEvent(bool down, int16_t code, int16_t mask, long step) {
    ScriptEvent e;
    e.kind = down ? ScriptEvent::Kind::KeyDown : ScriptEvent::Kind::KeyUp;
    e.keyCode = code;
    e.mask = mask;
    e.step = step;
    return e;
}

// An axis from its two keys. A key goes down with no modifier (Ctrl would arm player 1) and comes
// up with Shift (no modifier would let go of player 1's fire).
void aimEvents(Aim a, int16_t minusKey, int16_t plusKey, long step, std::vector<ScriptEvent>& out) {
    switch (a) {
    case Aim::Keep: break;
    case Aim::Minus: out.push_back(keyEvent(true, minusKey, 0, step)); break;
    case Aim::Plus: out.push_back(keyEvent(true, plusKey, 0, step)); break;
    case Aim::Zero:
        out.push_back(keyEvent(true, minusKey, 0, step));
        out.push_back(keyEvent(false, minusKey, kMaskShift, step));
        break;
    case Aim::LetGoMinus: out.push_back(keyEvent(false, minusKey, kMaskShift, step)); break;
    case Aim::LetGoPlus: out.push_back(keyEvent(false, plusKey, kMaskShift, step)); break;
    case Aim::LetGoBoth:
        out.push_back(keyEvent(false, minusKey, kMaskShift, step));
        out.push_back(keyEvent(false, plusKey, kMaskShift, step));
        break;
    }
}

void fireEvents(Fire f, bool playerOne, long step, std::vector<ScriptEvent>& out) {
    const int16_t key = playerOne ? kVkCtrl : kVkF;
    if (f == Fire::LetGo || f == Fire::LetGoThenPress)
        out.push_back(keyEvent(false, key, playerOne ? 0 : kMaskShift, step));
    if (f == Fire::Press || f == Fire::LetGoThenPress)
        out.push_back(keyEvent(true, key, playerOne ? kMaskCtrl : 0, step));
}

}  // namespace

StepCommands commandsOf(const std::vector<ScriptEvent>& events) {
    StepCommands c;
    for (const ScriptEvent& e : events) {
        switch (e.kind) {
        case ScriptEvent::Kind::KeyDown:
        case ScriptEvent::Kind::KeyUp:
            addKey(c, e.kind == ScriptEvent::Kind::KeyDown, e.keyCode, e.mask);
            break;
        case ScriptEvent::Kind::Joy: addStick(c, e.joystick, e.x, e.y, e.buttons); break;
        case ScriptEvent::Kind::Menu: c.addHost(uint8_t(kMenu + int(e.item))); break;
        case ScriptEvent::Kind::Tick: c.addHost(kTick); break;
        }
    }
    return c;
}

std::vector<ScriptEvent> commandEvents(const StepCommands& c, long step, int player) {
    std::vector<ScriptEvent> out;
    if (player < 0) {
        for (int i = 0; i < c.hostCount; ++i) {
            const uint8_t h = c.host[size_t(i)];
            if (h == kStop) {
                out.push_back(keyEvent(true, kVkEscape, 0, step));
                continue;
            }
            ScriptEvent e;
            e.step = step;
            e.kind = h == kTick ? ScriptEvent::Kind::Tick : ScriptEvent::Kind::Menu;
            if (h >= kMenu) e.item = MenuItem(h - kMenu);
            out.push_back(e);
        }
        return out;
    }
    const PlayerCommand& p = c.players[size_t(player)];
    if (player == 0) {
        aimEvents(p.turn, kVkLeft, kVkRight, step, out);
        aimEvents(p.gun, kVkUp, kVkDown, step, out);
        fireEvents(p.fire, true, step, out);
    } else if (player == 1) {
        aimEvents(p.turn, kVkA, kVkD, step, out);
        aimEvents(p.gun, kVkW, kVkS, step, out);
        fireEvents(p.fire, false, step, out);
    } else if (p.stick.moved) {
        ScriptEvent e;
        e.kind = ScriptEvent::Kind::Joy;
        e.step = step;
        e.joystick = player - 2;
        e.x = p.stick.x;
        e.y = p.stick.y;
        e.buttons = p.stick.buttons;
        out.push_back(e);
    }
    return out;
}

std::vector<ScriptEvent> commandEvents(const StepCommands& c, long step) {
    std::vector<ScriptEvent> out;
    for (int p = 0; p <= kPlayers; ++p) {
        std::vector<ScriptEvent> part = commandEvents(c, step, p == kPlayers ? -1 : p);
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

}  // namespace hopshot
