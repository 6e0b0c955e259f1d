#include "controls/commands.h"

namespace hopshot {

namespace {

int aimValue(Aim a) { return a == Aim::Minus ? -1 : a == Aim::Plus ? 1 : 0; }

Aim setTo(int v) { return v < 0 ? Aim::Minus : v > 0 ? Aim::Plus : Aim::Zero; }

bool letsGo(Aim a, int v) {
    return a == Aim::LetGoBoth || (v < 0 && a == Aim::LetGoMinus) || (v > 0 && a == Aim::LetGoPlus);
}

void applyAim(int16_t& value, Aim a) {
    switch (a) {
    case Aim::Keep: break;
    case Aim::Minus:
    case Aim::Zero:
    case Aim::Plus: value = int16_t(aimValue(a)); break;
    case Aim::LetGoMinus:
    case Aim::LetGoPlus:
    case Aim::LetGoBoth:
        if ((value == -1 || value == 1) && letsGo(a, value)) value = 0;
        break;
    }
}

void applyFire(int16_t& state, Fire f) {
    if (f == Fire::LetGo || f == Fire::LetGoThenPress) state = 0;
    if ((f == Fire::Press || f == Fire::LetGoThenPress) && state == 0) state = 1;
}

// A key that sets its axis to `v` going down, and lets go of `v` coming up.
void aimKey(Aim& a, bool down, int v) {
    a = followedBy(a, down ? setTo(v) : v < 0 ? Aim::LetGoMinus : Aim::LetGoPlus);
}

}  // namespace

Aim followedBy(Aim before, Aim next) {
    if (next == Aim::Keep) return before;
    if (next == Aim::Minus || next == Aim::Zero || next == Aim::Plus) return next;
    switch (before) {
    case Aim::Keep: return next;
    case Aim::Minus:
    case Aim::Plus: return letsGo(next, aimValue(before)) ? Aim::Zero : before;
    case Aim::Zero: return Aim::Zero;
    default: return before == next ? next : Aim::LetGoBoth;
    }
}

Fire followedBy(Fire before, Fire next) {
    switch (next) {
    case Fire::Keep: return before;
    case Fire::LetGo:
    case Fire::LetGoThenPress: return next;
    case Fire::Press: return before == Fire::LetGo ? Fire::LetGoThenPress
                             : before == Fire::Keep ? Fire::Press : before;
    }
    return before;
}

void followedBy(StepCommands& before, const StepCommands& next) {
    for (int p = 0; p < kPlayers; ++p) {
        PlayerCommand& b = before.players[size_t(p)];
        const PlayerCommand& n = next.players[size_t(p)];
        b.turn = followedBy(b.turn, n.turn);
        b.gun = followedBy(b.gun, n.gun);
        b.fire = followedBy(b.fire, n.fire);
        if (n.stick.moved) b.stick = n.stick;
    }
    for (int i = 0; i < next.hostCount; ++i) before.addHost(next.host[size_t(i)]);
}

void addKey(StepCommands& c, bool down, int16_t key, int16_t mask) {
    PlayerCommand& one = c.players[0];
    PlayerCommand& two = c.players[1];
    if (key == kVkLeft) aimKey(one.turn, down, -1);
    if (key == kVkRight) aimKey(one.turn, down, 1);
    if (key == kVkUp) aimKey(one.gun, down, -1);
    if (key == kVkDown) aimKey(one.gun, down, 1);
    // Player 1 fires with Ctrl alone, read from the mask: Ctrl's own key-down and any key pressed
    // while only Ctrl is held; any key coming up with no modifier held lets go.
    if (down && mask == kMaskCtrl) one.fire = followedBy(one.fire, Fire::Press);
    if (!down && mask == 0) one.fire = followedBy(one.fire, Fire::LetGo);
    if (key == kVkA) aimKey(two.turn, down, -1);
    if (key == kVkD) aimKey(two.turn, down, 1);
    if (key == kVkW) aimKey(two.gun, down, -1);
    if (key == kVkS) aimKey(two.gun, down, 1);
    if (key == kVkF) two.fire = followedBy(two.fire, down ? Fire::Press : Fire::LetGo);
    if (down && key == kVkEscape) c.addHost(kStop);
}

void addStick(StepCommands& c, int stick, int32_t x, int32_t y, uint32_t buttons) {
    if (stick < 0 || stick > 1) return;
    c.players[size_t(2 + stick)].stick = {true, x, y, buttons};
}

void applyPlayerCommands(World& w, const StepCommands& c) {
    for (int p = 0; p < 2; ++p) {
        const PlayerCommand& pc = c.players[size_t(p)];
        applyAim(w.steerX[size_t(p)], pc.turn);
        applyAim(w.steerY[size_t(p)], pc.gun);
        applyFire(w.fireState[size_t(p)], pc.fire);
    }
}

StepCommands ownCommands(const std::array<bool, kPlayers>& mine, bool fromHost, const StepCommands& c) {
    StepCommands own;
    for (int p = 0; p < kPlayers; ++p)
        if (mine[size_t(p)]) own.players[size_t(p)] = c.players[size_t(p)];
    if (fromHost) {
        own.host = c.host;
        own.hostCount = c.hostCount;
    }
    return own;
}

}  // namespace hopshot
