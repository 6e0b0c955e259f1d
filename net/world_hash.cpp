#include "net/world_hash.h"

namespace hopshot {

namespace {

struct Fnv {
    uint64_t h = 1469598103934665603ull;
    void bytes(const void* p, size_t n) {
        const auto* b = static_cast<const unsigned char*>(p);
        for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
    }
    template <class T> void add(const T& v) { bytes(&v, sizeof v); }
};

}  // namespace

uint64_t worldHash(const World& w, uint64_t draws) {
    Fnv f;
    f.add(w.running);
    f.add(w.bloodBudget);
    f.add(w.timeLeft);
    f.add(w.flashTimer);
    f.add(w.flickerTimer);
    f.add(w.bombX);
    f.add(w.bombZ);
    f.add(w.bombSpin);
    f.add(w.score);
    for (const auto* t : {&w.tankHeading, &w.gunElevation, &w.playerIn, &w.shellX, &w.shellY,
                          &w.shellZ, &w.shellVX, &w.shellVY, &w.shellVZ, &w.shellKind, &w.steerX,
                          &w.steerY, &w.fireState, &w.charge, &w.damageTimer})
        f.add(*t);
    for (const auto* t : {&w.hopperX, &w.hopperY, &w.hopperZ, &w.hopperVY}) f.add(*t);
    for (const auto* t : {&w.bloodX, &w.bloodY, &w.bloodZ, &w.bloodVX, &w.bloodVY, &w.bloodVZ})
        f.add(*t);
    f.add(draws);
    return f.h;
}

}  // namespace hopshot
