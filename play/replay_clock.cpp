#include "play/replay_clock.h"

#include <algorithm>
#include <cmath>

namespace hopshot {

double ReplayClock::speed() const { return std::ldexp(1.0, exponent_); }

void ReplayClock::catchUp(int64_t realMs) {
    if (realMs_ >= 0 && !paused_ && realMs > realMs_) gameMs_ += double(realMs - realMs_) * speed();
    if (realMs_ < 0 || realMs > realMs_) realMs_ = realMs;
}

int32_t ReplayClock::ticksAt(int64_t realMs, int32_t lastStepTick) {
    catchUp(realMs);
    gameMs_ = std::min(gameMs_, double(lastStepTick + 2) * kTickMs - 1);
    return int32_t(gameMs_ / kTickMs);
}

int64_t ReplayClock::msToNextTick(int64_t realMs) const {
    if (paused_) return -1;
    double game = gameMs_;
    if (realMs_ >= 0 && realMs > realMs_) game += double(realMs - realMs_) * speed();
    const double left = (std::floor(game / kTickMs) + 1) * kTickMs - game;
    return std::max<int64_t>(1, int64_t(std::ceil(left / speed())));
}

void ReplayClock::togglePause(int64_t realMs) {
    catchUp(realMs);
    paused_ = !paused_;
}

void ReplayClock::stepOnce(int32_t lastStepTick) {
    if (!paused_) return;
    gameMs_ = std::max(gameMs_, double(lastStepTick + 1) * kTickMs);
}

void ReplayClock::faster(int64_t realMs) {
    catchUp(realMs);
    exponent_ = std::min(exponent_ + 1, kFastest);
}

void ReplayClock::slower(int64_t realMs) {
    catchUp(realMs);
    exponent_ = std::max(exponent_ - 1, kSlowest);
}

}  // namespace hopshot
