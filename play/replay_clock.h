// The clock a replay in the window runs on: game time that runs at a chosen speed, stops while
// paused, and moves on by exactly one frame step when asked. The frame loop reads it as its tick
// count, so the loop keeps its own shape and pace.
#pragma once

#include <cstdint>

namespace hopshot {

class ReplayClock {
public:
    static constexpr int kTickMs = 20;   // one frame step of game time
    static constexpr int kSlowest = -2;  // speed 2^-2 = 1/4
    static constexpr int kFastest = 3;   // speed 2^3 = 8

    // The tick count at real time `realMs` (milliseconds from any fixed point, never going
    // back). `lastStepTick` is the tick of the last frame step: a game slower than the chosen
    // speed is not owed a burst of steps later, so game time runs at most one tick ahead of it.
    int32_t ticksAt(int64_t realMs, int32_t lastStepTick);

    // Real milliseconds from `realMs` until the next tick; -1 while paused (nothing to wait for).
    int64_t msToNextTick(int64_t realMs) const;

    // Each of these takes the real time, so that game time up to now runs at the speed it had.
    void togglePause(int64_t realMs);
    bool paused() const { return paused_; }
    // While paused: the next step may run, one and no more.
    void stepOnce(int32_t lastStepTick);

    void faster(int64_t realMs);   // doubles the speed, up to 8 times
    void slower(int64_t realMs);   // halves it, down to a quarter
    int speedExponent() const { return exponent_; }   // speed = 2^exponent
    double speed() const;

private:
    void catchUp(int64_t realMs);

    double gameMs_ = 0;      // game time
    int64_t realMs_ = -1;    // real time of the last reading; -1: none yet
    bool paused_ = false;
    int exponent_ = 0;
};

}  // namespace hopshot
