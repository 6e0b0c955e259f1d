// The cost of one frame step, against the 20 ms a tick gives it: the game's own frameStep with
// the real picture (the window's GL device, Picture1 showing what the device drew), with the
// meshes of the assets and the hoppers in play; and the same step with no picture at all.
//
//   xvfb-run -a -s "-screen 0 2048x1600x24" <build>/bench/frame_step_bench
//
// Each iteration is one frame step followed by the part of the yield that handles what the step
// asked for (Picture1's paint, which copies the device's picture into its GL window), without
// the yield's wait for the next tick. Counters: steps_per_s; the step's own part (step_ms: the
// game and the GL calls) and the paint's part (paint_ms: Mesa's llvmpipe draws on threads of its
// own, and the paint waits for them); cpu_ms, the CPU time of all the process's threads a step,
// and main_cpu_ms, the main thread's share of it; paints per step; hoppers in play. The budget
// is 20 ms a step on two cores. FourPlayersAtScale/N draws four players with the window N times
// 640 x 480, every pixel of it (the big screen's cost): CPU times measure the work even when
// other programs share the cores, where wall times do not.
#include "bench/bench_support.h"
#include "game/game_routine.h"
#include "app/form1.h"
#include "app/gl_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <QWindow>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>

namespace hopshot {
namespace {

// Steps run before measuring, so that hoppers have come into play and the shells' frames have
// moved; about four seconds of a game.
constexpr int kWarmUpSteps = 200;

using bench::assetsDir;

int hoppersInPlay(const World& w) {
    int n = 0;
    for (int i = 0; i < kHoppers; ++i)
        if (w.hopperX[i] != kIdleX) ++n;
    return n;
}

using bench::processCpuMs;

// Counts Picture1's paints.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// The window with a game set up in it, its countdown stopped so that the game never ends.
struct WindowGame {
    explicit WindowGame(const WindowPresets& presets, double scale = 1)
        : form(presets, QString::fromStdString(assetsDir())) {
        ScreenOptions screen;
        screen.scale = scale;
        screen.renderRows = int(480 * scale + 0.5);   // every pixel: the cost of the full size
        form.setScreen(screen);
        form.show();
        QElapsedTimer clock;
        clock.start();
        while (!form.windowHandle()->isExposed() && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        form.findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
        picture = form.findChild<QWidget*>(QStringLiteral("Picture1"));
        picture->installEventFilter(&paints);
        gameSetup(form.game());
        for (int i = 0; i < kWarmUpSteps; ++i) {
            frameStep(form.game());
            QCoreApplication::processEvents();
        }
    }
    ~WindowGame() {
        form.game().w.running = 0;
        releaseScene(form.game());
    }

    Form1 form;
    QWidget* picture = nullptr;
    PaintCounter paints;
};

WindowPresets players(std::array<bool, 4> in) {
    WindowPresets p;
    p.players = in;
    return p;
}

void runWindowed(benchmark::State& state, const WindowPresets& presets, double scale = 1) {
    WindowGame game(presets, scale);
    Game& g = game.form.game();
    using Clock = std::chrono::steady_clock;
    Clock::duration inStep{}, inPaint{};
    const int paintsBefore = game.paints.paints;
    long hoppers = 0;
    const double cpuBefore = processCpuMs(), mainBefore = threadCpuMs();
    for (auto _ : state) {
        const auto t0 = Clock::now();
        frameStep(g);
        const auto t1 = Clock::now();
        QCoreApplication::processEvents();   // the yield's work: Picture1's paint
        inPaint += Clock::now() - t1;
        inStep += t1 - t0;
        hoppers += hoppersInPlay(g.w);
    }
    const double n = double(state.iterations());
    state.counters["cpu_ms"] = (processCpuMs() - cpuBefore) / n;
    state.counters["main_cpu_ms"] = (threadCpuMs() - mainBefore) / n;
    using ms = std::chrono::duration<double, std::milli>;
    state.counters["steps_per_s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
    state.counters["step_ms"] = ms(inStep).count() / n;
    state.counters["paint_ms"] = ms(inPaint).count() / n;
    state.counters["paints_per_step"] = (game.paints.paints - paintsBefore) / n;
    state.counters["hoppers"] = hoppers / n;
}

void FourPlayers(benchmark::State& state) { runWindowed(state, players({true, true, true, true})); }

void FourPlayersAtScale(benchmark::State& state) {
    runWindowed(state, players({true, true, true, true}), double(state.range(0)));
}

void OnePlayer(benchmark::State& state) { runWindowed(state, players({true, false, false, false})); }

void ThreePlayersWithOverview(benchmark::State& state) {
    WindowPresets p = players({true, true, true, false});
    p.liveCamera = true;
    runWindowed(state, p);
}

void FourPlayersWireframe(benchmark::State& state) {
    WindowPresets p = players({true, true, true, true});
    p.wireframe = true;
    runWindowed(state, p);
}

class Silence : public SoundOut {
public:
    void play(int) override {}
};

void FourPlayersNoPicture(benchmark::State& state) {
    bench::NoPicture host;
    Silence sound;
    Game g(host, sound, assetsDir());
    gameSetup(g);
    for (int i = 0; i < kWarmUpSteps; ++i) frameStep(g);
    long hoppers = 0;
    for (auto _ : state) {
        frameStep(g);
        hoppers += hoppersInPlay(g.w);
    }
    state.counters["steps_per_s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["hoppers"] = double(hoppers) / double(state.iterations());
}

BENCHMARK(FourPlayers)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(FourPlayersAtScale)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(OnePlayer)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(ThreePlayersWithOverview)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(FourPlayersWireframe)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(FourPlayersNoPicture)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

}  // namespace
}  // namespace hopshot

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "frame_step_bench: needs an X display; run it under xvfb-run -a\n");
        return 1;
    }
    hopshot::GLView::setDefaultSurfaceFormat();
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
