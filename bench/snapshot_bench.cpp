// What a correction of a network game's prediction costs: saving the game after a step, putting
// it back, and running steps again unseen and unheard. A four-player game with every effect
// going at once (a rolling bomb, the red flash, the flicker, every view shaking, every player
// charging: the most draws and frame moves a step can make). No display needed:
//
//   <build>/bench/snapshot_bench
//
// The goal: a run-again of 8 steps (restore, then 8 silent steps) well under 2 ms.
#include "bench/bench_support.h"
#include "game/game_routine.h"
#include "game/snapshot.h"

#include <benchmark/benchmark.h>

namespace hopshot {
namespace {

using bench::NoPicture;

constexpr int kWarmUpSteps = 200;   // hoppers in play, shells in flight
constexpr int kRunAgainSteps = 8;

// Four players some way into a game, then every effect set going.
struct BusyGame {
    BusyGame() {
        gameSetup(g);
        for (int i = 0; i < kWarmUpSteps; ++i) frameStep(g);
        World& w = g.w;
        w.bombX = 0;
        w.bombZ = -400;
        w.flashTimer = 100;
        w.flickerTimer = 100;
        for (int p = 0; p < kPlayers; ++p) {
            w.damageTimer[p] = 30;
            w.fireState[p] = 2;
            w.charge[p] = 30;
            w.steerX[p] = 1;
        }
    }
    NoPicture host;
    MutedSound sound;
    Game g{host, sound, bench::assetsDir()};
};

void Save(benchmark::State& state) {
    BusyGame b;
    GameSnapshot snapshot;
    for (auto _ : state) {
        save(b.g, snapshot);
        benchmark::DoNotOptimize(snapshot);
    }
}

void SaveAndRestore(benchmark::State& state) {
    BusyGame b;
    GameSnapshot snapshot;
    for (auto _ : state) {
        save(b.g, snapshot);
        restore(b.g, snapshot);
        benchmark::ClobberMemory();
    }
}

// Each iteration runs from the same saved step, so every one is the busy case.
void SilentStep(benchmark::State& state) {
    BusyGame b;
    GameSnapshot snapshot;
    save(b.g, snapshot);
    MutedSound muted;
    for (auto _ : state) {
        state.PauseTiming();
        restore(b.g, snapshot);
        state.ResumeTiming();
        silentFrameStep(b.g, muted);
    }
}

// What a correction costs: the saved step put back and 8 steps run again unseen and unheard,
// saving after each as a network game would.
void RunAgain8Steps(benchmark::State& state) {
    BusyGame b;
    GameSnapshot from, each;
    save(b.g, from);
    MutedSound muted;
    for (auto _ : state) {
        restore(b.g, from);
        for (int s = 0; s < kRunAgainSteps; ++s) {
            silentFrameStep(b.g, muted);
            save(b.g, each);
        }
    }
    state.counters["sounds_dropped"] =
        benchmark::Counter(muted.total(), benchmark::Counter::kAvgIterations);
}

BENCHMARK(Save)->Unit(benchmark::kMicrosecond);
BENCHMARK(SaveAndRestore)->Unit(benchmark::kMicrosecond);
BENCHMARK(SilentStep)->Unit(benchmark::kMicrosecond);
BENCHMARK(RunAgain8Steps)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace hopshot

BENCHMARK_MAIN();
