// The one random generator of the program: never seeded, never reseeded, shared by every game of
// a run, so a run replays exactly. A draw is uniform in [0, 1).
#pragma once

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

namespace hopshot {

class Rng {
public:
    double draw() {
        ++draws_;
        if (!forced_.empty()) {
            double r = forced_.front();
            forced_.pop_front();
            return r;
        }
        return gen_() / 4294967296.0;
    }
    uint64_t draws() const { return draws_; }   // draws taken since the program started

    // The generator as it stands after n draws since the program started: later draws go on
    // from there. Going back restarts the generator from its seed (a network guest that has
    // played more games alone than its host).
    void advanceTo(uint64_t n) {
        advanceTo(n, [] { return true; });
    }
    // The same a few million draws at a time, asking `goOn` in between: false from it stops
    // there (the generator stays where it got to) and the call returns false.
    template <class GoOn>
    bool advanceTo(uint64_t n, GoOn&& goOn) {
        if (n < draws_) {
            gen_ = std::mt19937();
            draws_ = 0;
        }
        constexpr uint64_t kChunk = uint64_t{1} << 22;
        while (n - draws_ > kChunk) {
            gen_.discard(kChunk);
            draws_ += kChunk;
            if (!goOn()) return false;
        }
        gen_.discard(n - draws_);
        draws_ = n;
        return true;
    }

    // The generator whole, to be put back exactly as it stood (a game run again from a saved
    // step): its state, its draw count and the forced values still waiting. Saving into the same
    // Saved again reuses its buffers.
    struct Saved {
        std::mt19937 gen;
        uint64_t draws = 0;
        std::vector<double> forced;
    };
    void save(Saved& out) const {
        out.gen = gen_;
        out.draws = draws_;
        out.forced.assign(forced_.begin(), forced_.end());
    }
    void restore(const Saved& in) {
        gen_ = in.gen;
        draws_ = in.draws;
        forced_.assign(in.forced.begin(), in.forced.end());
    }

    // Tests: the next draws return these values, in order, instead of the generator's.
    void force(std::initializer_list<double> values) { forced_.insert(forced_.end(), values); }
    size_t forcedLeft() const { return forced_.size(); }

private:
    std::mt19937 gen_;   // default seed 5489
    uint64_t draws_ = 0;
    std::deque<double> forced_;
};

}  // namespace hopshot
