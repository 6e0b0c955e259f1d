#include "play/feed.h"

#include "controls/keyboard.h"
#include "play/command_events.h"
#include "game/lifecycle.h"

#include <algorithm>

namespace hopshot {

void ScriptJoysticks::attach(int count) {
    for (int j = 0; j < int(joysticks_.size()); ++j) {
        joysticks_[j] = JoyReading{};
        joysticks_[j].attached = j < count;
    }
}

void ScriptJoysticks::set(int j, int32_t x, int32_t y, uint32_t buttons) {
    if (j < 0 || j >= int(joysticks_.size())) return;
    joysticks_[j].x = x;
    joysticks_[j].y = y;
    joysticks_[j].buttons = buttons;
}

JoyReading ScriptJoysticks::reading(int j) const {
    if (j < 0 || j >= int(joysticks_.size())) return JoyReading{};
    return joysticks_[j];
}

bool ScriptJoysticks::position(int id, Reading& out) {
    const JoyReading j = reading(id);
    if (!j.attached) return false;
    out = {j.x, j.y, j.buttons};
    return true;
}

bool ScriptJoysticks::capabilities(int id, Range& out) {
    if (!reading(id).attached) return false;
    out = {0, 65535, 0, 65535};
    return true;
}

void applyEvent(const ScriptEvent& e, Game& g, ScriptJoysticks& joysticks,
                const std::function<void(MenuItem)>& flip) {
    switch (e.kind) {
    case ScriptEvent::Kind::KeyDown: keyDown(g.w, e.keyCode, e.mask); break;
    case ScriptEvent::Kind::KeyUp: keyUp(g.w, e.keyCode, e.mask); break;
    case ScriptEvent::Kind::Menu: flip(e.item); break;
    case ScriptEvent::Kind::Joy: joysticks.set(e.joystick, e.x, e.y, e.buttons); break;
    case ScriptEvent::Kind::Tick: countdownTick(g); break;
    }
}

void applyCommands(const StepCommands& c, Game& g, ScriptJoysticks& joysticks,
                   const std::function<void(MenuItem)>& flip) {
    applyPlayerCommands(g.w, c);
    for (int j = 0; j < 2; ++j) {
        const StickReading& s = c.players[size_t(2 + j)].stick;
        if (s.moved) joysticks.set(j, s.x, s.y, s.buttons);
    }
    for (int i = 0; i < c.hostCount; ++i) {
        const uint8_t h = c.host[size_t(i)];
        if (h == kStop) g.w.running = 0;
        if (h == kTick) countdownTick(g);
        if (h >= kMenu) flip(MenuItem(h - kMenu));
    }
}

void applyEvents(const std::vector<ScriptEvent>& events, Game& g, ScriptJoysticks& joysticks,
                 const std::function<void(MenuItem)>& flip) {
    StepCommands c;
    for (const ScriptEvent& e : events) {
        const StepCommands one = commandsOf({e});
        if (c.hostCount + one.hostCount > kMaxHostCommands) {
            applyCommands(c, g, joysticks, flip);
            c = StepCommands{};
        }
        followedBy(c, one);
    }
    applyCommands(c, g, joysticks, flip);
}

long scriptStepLimit(long limit, bool scriptTicks, long lastEventStep) {
    if (limit > 0) return limit;
    return scriptTicks ? std::max(kDefaultStepLimit, lastEventStep) : kDefaultStepLimit;
}

bool playScript(const Script& script, Game& g, ScriptFront& front, ScriptError& error) {
    ScriptCursor cursor(script);
    for (;;) {
        switch (cursor.next(g, front, error)) {
        case ScriptCursor::Next::Started: break;
        case ScriptCursor::Next::Failed: return false;
        case ScriptCursor::Next::Over:
        case ScriptCursor::Next::Stopped: return true;
        }
    }
}

ScriptCursor::Next ScriptCursor::next(Game& g, ScriptFront& front, ScriptError& error) {
    static const MenuItem playerItems[] = {MenuItem::Player1, MenuItem::Player2,
                                           MenuItem::Player3, MenuItem::Player4};
    static const MenuItem optionItems[] = {MenuItem::LiveCamera, MenuItem::SmallScreen,
                                           MenuItem::SimpleDisplay, MenuItem::Wireframe};
    while (at_ < script_.commands.size()) {
        const ScriptCommand& c = script_.commands[at_++];
        switch (c.kind) {
        case ScriptCommand::Kind::Players:
            for (int i = 0; i < 4; ++i) front.setMark(playerItems[i], c.marks[i]);
            break;
        case ScriptCommand::Kind::Options:
            for (int i = 0; i < 4; ++i) front.setMark(optionItems[i], c.marks[i]);
            break;
        case ScriptCommand::Kind::Timer: timerPhase_ = c.timerPhase; break;
        case ScriptCommand::Kind::Name: front.setName(c.name); break;
        case ScriptCommand::Kind::Draws:
            if (c.draws < g.rng.draws()) {
                error = {c.line, "the generator has already taken " +
                                     std::to_string(g.rng.draws()) + " draws, more than " +
                                     std::to_string(c.draws)};
                return Next::Failed;
            }
            if (!g.rng.advanceTo(c.draws, [&] { return front.stillWanted(); })) {
                --at_;   // asked again, it goes on from where the generator got to
                return Next::Stopped;
            }
            break;
        case ScriptCommand::Kind::Set: carriedValueRef(g.w, c.value, c.index) = c.setTo; break;
        case ScriptCommand::Kind::Game:
            return front.playGame(++games_, c, timerPhase_) ? Next::Started : Next::Stopped;
        }
    }
    return Next::Over;
}

}  // namespace hopshot
