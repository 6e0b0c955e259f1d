// The pace the game holds in its real window over a whole minute: Form1 with the repository's
// meshes, the real GL device painting Picture1, the game on the window's own clock and tick
// pacing, the one-second countdown ticking. Unlike frame_step_bench (which runs steps back to
// back), this asks whether a game keeps its 50 steps a second, and what its slowest step costs.
//
//   xvfb-run -a -s "-screen 0 2048x1600x24" <build>/bench/window_pace_bench [--seconds N]
//                                        [--players 1..4] [--scales 1,2,3] [--render full|auto|ROWS]
//
// By default: one and four players at 640 x 480, then four players with the window at twice and
// three times that (1280 x 960, 1920 x 1440), each drawn at its full size ("full": what drawing
// that size costs) and with the drawn height chosen to keep the pace ("auto": what a player
// gets). The last column is the height the 3D picture was drawn at when the measure ended.
// `--render ROWS` draws at that many rows of the 480-row picture instead (as --render-height).
//
// Each case starts a game with the Start command and ends it after N seconds (60
// by default) the way Esc does; every taking-part player taps fire twice a second, so shells fly,
// hoppers die and blood flies as in play. The countdown is set far up at the first step so that
// the game outlasts the measure.
//
// Timing is taken from outside the game: the window's tick-count reading just before a step and
// the one just after it (Match::stepOnClock reads the clock on both sides of the step) give the
// step's cost, its renders included; the application's dispatch of Picture1's paints gives the
// paint's cost (Mesa's llvmpipe draws on threads of its own, and the paint's read-back of the
// device waits for them).
#include "bench/bench_support.h"
#include "game/game_routine.h"
#include "app/form1.h"
#include "app/gl_view.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <ctime>
#include <string>
#include <vector>

namespace hopshot {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr int kTapEverySteps = 25;   // two taps a second at full pace
constexpr int kTapHoldSteps = 3;     // steps the fire control stays down per tap

using bench::assetsDir;

using bench::processCpuMs;

// Picture1's paints as the application dispatches them: how long each took.
class TimingApp : public QApplication {
public:
    using QApplication::QApplication;
    QObject* watched = nullptr;
    std::vector<double> paintMs;

    bool notify(QObject* receiver, QEvent* event) override {
        if (receiver != watched || event->type() != QEvent::Paint)
            return QApplication::notify(receiver, event);
        const auto t0 = Clock::now();
        const bool done = QApplication::notify(receiver, event);
        paintMs.push_back(Ms(Clock::now() - t0).count());
        return done;
    }
};

// The window, with a stopwatch on the two clock readings around every step.
class TimedForm1 : public Form1 {
public:
    TimedForm1(const WindowPresets& presets, const ScreenOptions& screen, int seconds)
        : Form1(presets, QString::fromStdString(assetsDir())), seconds_(seconds) {
        setScreen(screen);
    }

    std::vector<double> stepMs;   // one per step after the first
    double elapsedMs = 0;         // from the end of the first step to the stop
    double cpuMs = 0;             // CPU time of the whole process over the same span

    int32_t tickCount() override {
        before_ = after_;
        after_ = Clock::now();
        return Form1::tickCount();
    }

    void stepDone() override {
        World& w = game().w;
        if (steps_ == 0) {
            start_ = Clock::now();
            cpuStart_ = processCpuMs();
            w.timeLeft = 32767;   // the countdown keeps ticking, from far above
            QTimer::singleShot(seconds_ * 1000, Qt::PreciseTimer, this, [this] {
                elapsedMs = Ms(Clock::now() - start_).count();
                cpuMs = processCpuMs() - cpuStart_;
                game().w.running = 0;   // as Esc stops it
            });
        } else {
            stepMs.push_back(Ms(after_ - before_).count());
        }
        // The players' taps, as their key handlers would set and clear the fire control.
        const int phase = steps_ % kTapEverySteps;
        for (int p = 0; p < kPlayers; ++p) {
            if (w.playerIn[p] != 1) continue;
            if (phase == 0 && w.fireState[p] == 0) w.fireState[p] = 1;
            if (phase == kTapHoldSteps) w.fireState[p] = 0;
        }
        ++steps_;
    }

private:
    const int seconds_;
    long steps_ = 0;
    Clock::time_point before_, after_, start_;
    double cpuStart_ = 0;
};

struct Case {
    int players = 1;
    double scale = 1;
    bool full = true;   // drawn at the full size shown, whatever it costs
    int rows = 0;       // or at these rows, when above 0
};

struct Row {
    int players = 0;
    QSize window;
    int drawnRows = 0;
    const char* mode = "";
    double seconds = 0;
    size_t steps = 0;
    double stepsPerSecond = 0;
    double medianStepMs = 0, worstStepMs = 0;
    double medianPaintMs = 0, worstPaintMs = 0;
    size_t paints = 0;
    double cpuPercent = 0;
};

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

double worst(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

Row runCase(TimingApp& app, const Case& c, int seconds) {
    const int players = c.players;
    WindowPresets presets;
    for (int p = 0; p < kPlayers; ++p) presets.players[p] = p < players;
    ScreenOptions screen;
    screen.scale = c.scale;
    screen.renderRows = c.rows > 0 ? c.rows : c.full ? int(480 * c.scale + 0.5) : 0;
    TimedForm1 form(presets, screen, seconds);
    form.show();
    form.activateWindow();
    QElapsedTimer clock;
    clock.start();
    while (!form.windowHandle()->isExposed() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    app.watched = form.findChild<GLView*>(QStringLiteral("Picture1"));
    app.paintMs.clear();

    form.findChild<QAction*>(QStringLiteral("スタート"))->trigger();   // on the window's clock
    while (form.playing()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    Row r;
    r.players = players;
    r.seconds = form.elapsedMs / 1000;
    r.steps = form.stepMs.size();
    r.stepsPerSecond = r.seconds > 0 ? double(r.steps) / r.seconds : 0;
    r.medianStepMs = median(form.stepMs);
    r.worstStepMs = worst(form.stepMs);
    r.paints = app.paintMs.size();
    r.medianPaintMs = median(app.paintMs);
    r.worstPaintMs = worst(app.paintMs);
    r.cpuPercent = form.elapsedMs > 0 ? 100 * form.cpuMs / form.elapsedMs : 0;
    r.window = form.centralWidget()->size();
    r.drawnRows = int(static_cast<GLView*>(app.watched)->renderScale() * 480 + 0.5);
    r.mode = c.rows > 0 ? "rows" : c.full ? "full" : "auto";
    app.watched = nullptr;
    return r;
}

}  // namespace
}  // namespace hopshot

int main(int argc, char** argv) {
    int seconds = 60;
    int players = 0;                      // 0: the default cases
    std::vector<double> scales;
    const char* render = nullptr;         // "full", "auto" or both
    int fixedRows = 0;                    // --render ROWS
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--players") && i + 1 < argc) {
            players = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--scales") && i + 1 < argc) {
            for (char* s = std::strtok(argv[++i], ","); s; s = std::strtok(nullptr, ","))
                scales.push_back(std::atof(s));
        } else if (!std::strcmp(argv[i], "--render") && i + 1 < argc &&
                   (!std::strcmp(argv[i + 1], "full") || !std::strcmp(argv[i + 1], "auto"))) {
            render = argv[++i];
        } else if (!std::strcmp(argv[i], "--render") && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
            fixedRows = std::atoi(argv[++i]);
            render = "full";
        } else {
            std::fprintf(stderr, "usage: window_pace_bench [--seconds N] [--players 1..4] "
                                 "[--scales 1,2,3] [--render full|auto|ROWS]\n");
            return 2;
        }
    }
    if (seconds < 1 || players < 0 || players > hopshot::kPlayers) {
        std::fprintf(stderr, "window_pace_bench: seconds must be 1 or more, players 1 to 4\n");
        return 2;
    }
    for (double s : scales)
        if (s < 0.5 || s > 8) {
            std::fprintf(stderr, "window_pace_bench: scales from 0.5 to 8\n");
            return 2;
        }
    std::vector<hopshot::Case> cases;
    if (players == 0 && scales.empty() && !render) {
        cases = {{1, 1, true}, {4, 1, true}, {4, 2, true}, {4, 2, false}, {4, 3, true}, {4, 3, false}};
    } else {
        if (scales.empty()) scales = {1};
        for (double s : scales)
            for (bool full : {true, false}) {
                if (render && (!std::strcmp(render, "full")) != full) continue;
                if (!render && !full && s <= 1) continue;   // at 1:1 the two are one
                cases.push_back({players ? players : 4, s, full, fixedRows});
            }
    }
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "window_pace_bench: needs an X display; run it under xvfb-run -a\n");
        return 1;
    }
    hopshot::GLView::setDefaultSurfaceFormat();
    int qtArgc = 1;
    hopshot::TimingApp app(qtArgc, argv);

    std::printf("%7s %9s %6s %8s %6s %8s %15s %14s %16s %15s %7s %6s %6s\n", "players", "window",
                "render", "seconds", "steps", "steps/s", "median step ms", "worst step ms",
                "median paint ms", "worst paint ms", "paints", "cpu %", "drawn");
    for (const hopshot::Case& c : cases) {
        const hopshot::Row r = hopshot::runCase(app, c, seconds);
        const std::string window = std::to_string(r.window.width()) + "x" + std::to_string(r.window.height());
        std::printf("%7d %9s %6s %8.1f %6zu %8.2f %15.2f %14.2f %16.2f %15.2f %7zu %6.0f %6d\n",
                    r.players, window.c_str(), r.mode, r.seconds, r.steps, r.stepsPerSecond,
                    r.medianStepMs, r.worstStepMs, r.medianPaintMs, r.worstPaintMs, r.paints,
                    r.cpuPercent, r.drawnRows);
        std::fflush(stdout);
    }
    return 0;
}
