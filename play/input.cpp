#include "play/input.h"

#include "play/rollback.h"

#include <algorithm>

namespace hopshot {

void ScriptInput::begin(const std::vector<ScriptEvent>& events, int timerPhase) {
    events_ = &events;
    next_ = 0;
    askedFor_ = 0;
    timerPhase_ = timerPhase;
    scriptTicks_ = std::any_of(events.begin(), events.end(), [](const ScriptEvent& e) {
        return e.kind == ScriptEvent::Kind::Tick;
    });
}

// Only the first question about a step hands anything over, however often the frame loop yields
// before it runs.
InputSource::Turn ScriptInput::eventsBefore(long step, std::vector<ScriptEvent>& out) {
    if (!events_ || step <= askedFor_) return Turn::Go;
    askedFor_ = step;
    const std::vector<ScriptEvent>& events = *events_;
    for (; next_ < events.size() && events[next_].step <= step; ++next_)
        if (events[next_].step == step) out.push_back(events[next_]);
    const long done = step - 1;
    if (!scriptTicks_ && timerPhase_ > 0 && done >= timerPhase_ && (done - timerPhase_) % kStepsPerSecond == 0) {
        ScriptEvent tick;
        tick.kind = ScriptEvent::Kind::Tick;
        tick.step = step;
        out.push_back(tick);
    }
    return Turn::Go;
}

InputSource::Turn LocalInput::eventsBefore(long, std::vector<ScriptEvent>& out) {
    out.insert(out.end(), queue_.begin(), queue_.end());
    queue_.clear();
    return Turn::Go;
}

void GameInput::begin(InputSource* source, long stepLimit, Tap tap, Settled settled,
                      Rollback* rollback) {
    source_ = source;
    rollback_ = rollback;
    stepLimit_ = stepLimit;
    tap_ = std::move(tap);
    settled_ = std::move(settled);
    grantedFor_ = 0;
    if (rollback_) rollback_->bind(*this);
}

void GameInput::end() {
    if (rollback_) rollback_->unbind();
    rollback_ = nullptr;
    source_ = nullptr;
    tap_ = {};
    settled_ = {};
}

void GameInput::applyAgain(const std::vector<ScriptEvent>& events) {
    static ScriptJoysticks none;
    applyEvents(events, g_, joysticks_ ? *joysticks_ : none, [](MenuItem) {});
}

void GameInput::tapSettled(long step, const std::vector<ScriptEvent>& events) {
    if (tap_)
        for (ScriptEvent e : events) {
            e.step = step;
            tap_(e);
        }
}

void GameInput::settle(long step, const World& w, uint64_t draws, const std::vector<int>& sounds) {
    if (settled_) settled_(step, w, draws, sounds);
}

// A yield's events reach the game as the commands they make (a joystick's reading only where
// the game has joysticks).
void GameInput::apply(const std::vector<ScriptEvent>& events) {
    static ScriptJoysticks none;
    applyEvents(events, g_, joysticks_ ? *joysticks_ : none, flip_);
}

InputSource::Turn GameInput::yieldAfter(long stepsDone) {
    if (!source_) return InputSource::Turn::Stop;
    std::vector<ScriptEvent> events;
    const InputSource::Turn turn = source_->eventsBefore(stepsDone + 1, events);
    for (ScriptEvent& e : events) {
        e.step = stepsDone + 1;
        if (tap_ && !predicting()) tap_(e);
    }
    apply(events);
    if (turn == InputSource::Turn::Go) {
        grantedFor_ = stepsDone + 1;
        if (rollback_) rollback_->handedOver();
    } else if (turn == InputSource::Turn::Stop) {
        g_.w.running = 0;
    } else {
        grantedFor_ = std::min(grantedFor_, stepsDone);   // not in: a correction may have taken
                                                          // the game back before a step granted
    }
    // Last, so that a tick due in the same yield still ends the game the countdown's way; not
    // while the step after the limit waits, so that every step before it settles first.
    if (turn != InputSource::Turn::Wait && stepLimit_ > 0 && stepsDone >= stepLimit_) g_.w.running = 0;
    return turn;
}

}  // namespace hopshot
