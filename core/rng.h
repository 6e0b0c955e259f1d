// The one random generator of the program: never seeded, never reseeded, shared by every game of
// a run, so a run replays exactly. A draw is uniform in [0, 1).
#pragma once

#include <cstdint>
#include <random>

namespace hopshot {

class Rng {
public:
    double draw() {
        ++draws_;
        return gen_() / 4294967296.0;
    }
    uint64_t draws() const { return draws_; }   // draws taken since the program started

private:
    std::mt19937 gen_;   // default seed 5489
    uint64_t draws_ = 0;
};

}  // namespace hopshot
