// hopshot: the window, or a headless replay run when the command line asks for one.
#include "app/form1.h"
#include "app/gl_view.h"
#include "app/language.h"
#include "app/window_memory.h"
#include "app/net_seat.h"
#include "app/network_dialog.h"
#include "net/net_headless.h"
#include "play/headless.h"
#include "play/kept_games.h"
#include "play/script.h"
#include "app/options.h"
#include "records/program_place.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QIcon>
#include <QMenuBar>
#include <QTimer>
#include <QSocketNotifier>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <iostream>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Qt aborts when it cannot reach a display; say so plainly instead. An explicit platform choice
// (QT_QPA_PLATFORM) is left to Qt.
bool displayReachable(std::string& why) {
    if (std::getenv("QT_QPA_PLATFORM")) return true;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        if (std::getenv("WAYLAND_DISPLAY")) return true;
        why = "DISPLAY is not set";
        return false;
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const bool ok = xcb_connection_has_error(c) == 0;
    xcb_disconnect(c);
    if (!ok) why = std::string("no X server answers at DISPLAY=") + display;
    return ok;
}

// SIGINT, SIGTERM and SIGHUP close the window as its close box does, so the records are saved.
// The handler only writes a byte; the window reads it in its event loop, also during a game.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

void closeOnSignals(QWidget& window) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {}
        window.close();
    });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

// A window destroyed from outside (by the window manager, or a tool that destroys windows) tells
// only through the X server; without this the program would run on with no window.
class DestroyWatch : public QAbstractNativeEventFilter {
public:
    explicit DestroyWatch(hopshot::Form1& window) : window_(window) {}
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        const auto* e = static_cast<const xcb_generic_event_t*>(message);
        if ((e->response_type & 0x7f) != XCB_DESTROY_NOTIFY) return false;
        const auto* d = static_cast<const xcb_destroy_notify_event_t*>(message);
        if (d->window == xcb_window_t(window_.winId())) window_.windowLost();
        return false;
    }

private:
    hopshot::Form1& window_;
};

// A display that goes away (the X server gone, or the client killed there, as xkill does) ends
// the program inside the toolkit with exit(): the close handler still runs then, with nothing
// shown, and the program ends as Quit ends it.
hopshot::Form1* shownWindow = nullptr;

void endWithoutDisplay() {
    if (!shownWindow || shownWindow->ended()) return;
    shownWindow->displayLost();
    std::cout.flush();
    std::_Exit(0);
}

// The window's icon from the icons built into the program, so that it shows as built too.
QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/hicolor/%1x%1/apps/io.github.hopshot.HopShot.png").arg(size),
                     QSize(size, size));
    return icon;
}

}  // namespace

int main(int argc, char** argv) {
    using hopshot::CommandLine;

    CommandLine cl;
    const std::string error = hopshot::parseCommandLine({argv + 1, argv + argc}, cl);
    if (!error.empty()) {
        std::cerr << "hopshot: " << error << "\nTry 'hopshot --help' for the options.\n";
        return 2;
    }
    const hopshot::ProgramPlace place = hopshot::programPlace();
    switch (cl.mode) {
    case CommandLine::Mode::Help: std::cout << hopshot::usageText(); return 0;
    case CommandLine::Mode::Version: std::cout << hopshot::versionText(); return 0;
    case CommandLine::Mode::Headless: {
        hopshot::HeadlessOptions o;
        o.script = cl.script;
        o.trace = cl.trace;
        if (!cl.dir.empty()) {
            o.dir = cl.dir;
        } else if (place.installed) {
            o.dir = place.assets;
            o.recordsInDataHome = true;
        }
        o.stepLimit = cl.stepsGiven ? cl.steps : 0;
        if (cl.net != CommandLine::Net::None) {
            hopshot::NetOptions n;
            n.host = cl.net == CommandLine::Net::Host;
            n.address = cl.address;
            n.port = uint16_t(cl.port);
            n.delay = cl.delay;
            n.machines = cl.machines;
            n.code = cl.code;
            n.meet = cl.meet.empty() ? HOPSHOT_DEFAULT_MEET : cl.meet;
            n.meetGiven = !cl.meet.empty();
            return hopshot::runNetHeadless(o, n, std::cout, std::cerr);
        }
        return hopshot::runHeadless(o, std::cout, std::cerr);
    }
    case CommandLine::Mode::Window: break;
    }

    // A replay that cannot be read or holds a bad line is refused before any window opens.
    hopshot::Script replay;
    if (!cl.replay.empty()) {
        std::string message;
        if (!hopshot::loadScript(cl.replay, replay, message)) {
            std::cerr << "hopshot: " << message << "\n";
            return 2;
        }
    }

    std::string why;
    if (!displayReachable(why)) {
        std::cerr << "hopshot: cannot open the display (" << why
                  << "); the game needs an X display, or --headless SCRIPT to run without one\n";
        return 1;
    }

    hopshot::GLView::setDefaultSurfaceFormat();

    int qtArgc = 1;   // the options above are the game's own; Qt takes its settings from the environment
    QApplication app(qtArgc, argv);
    // The window's class is "hopshot" whatever the program file is called: the menu
    // entry's StartupWMClass names it, and the desktop file name ties the window to the entry.
    QCoreApplication::setApplicationName(QStringLiteral("hopshot"));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.hopshot.HopShot"));
    QApplication::setWindowIcon(programIcon());
    // The words of the window in the player's language (the catalogue lies with the assets).
    hopshot::setWindowLanguage(hopshot::chooseLanguage(hopshot::localeVariables()),
                               QString::fromStdString(place.assets));

    const bool replaying = !cl.replay.empty();
    hopshot::Form1Services services;
    services.sound = cl.sound;
    services.joysticks = !replaying;
    services.records = true;
    services.recordsDir = QString::fromStdString(place.dir);
    services.recordsInDataHome = place.installed;
    hopshot::Form1 window(cl.presets, QString::fromStdString(place.assets), services);
    hopshot::NetworkDialog::setBuildMeet(QStringLiteral(HOPSHOT_DEFAULT_MEET));
    window.setScreen(cl.screen);
    // The size and full screen of the last run, where the command line does not choose them.
    const hopshot::WindowMemory memory(hopshot::windowMemoryPath());
    const hopshot::WindowState remembered = memory.read();
    // A meeting service named on the command line is the network dialog's from now on.
    if (!cl.meet.empty()) memory.writeMeetService(QString::fromStdString(cl.meet));
    bool fullScreen = cl.screen.fullScreen;
    if (!cl.screen.scaleGiven) {
        if (remembered.size.isValid())
            window.resize(remembered.size + QSize(0, window.menuBar()->sizeHint().height()));
        fullScreen = fullScreen || remembered.fullScreen;
    }
    std::string problem;
    if (replaying && !window.startReplay(replay, cl.trace, problem)) {
        std::cerr << "hopshot: " << problem << "\n";
        return 1;
    }
    if (!window.load()) return 1;
    if (cl.net != CommandLine::Net::None) {
        hopshot::NetChoice choice;
        choice.host = cl.net == CommandLine::Net::Host;
        choice.address = cl.address;
        choice.namesPlayers = cl.presets.playersGiven;
        choice.code = cl.code;
        choice.meet = cl.meet.empty() ? HOPSHOT_DEFAULT_MEET : cl.meet;
        choice.meetGiven = !cl.meet.empty();
        choice.port = uint16_t(cl.port);
        choice.delay = cl.delay;
        if (!window.openNetwork(choice)) return 3;
    }
    // Every game is written down: to --record's file, or into the folder of the last games.
    if (!replaying &&
        !window.startRecording({cl.record, cl.record.empty() ? hopshot::keptGamesDir() : "",
                                cl.trace},
                               problem)) {
        std::cerr << "hopshot: " << problem << "\n";
        return 1;
    }
    closeOnSignals(window);
    DestroyWatch destroyWatch(window);
    app.installNativeEventFilter(&destroyWatch);
    shownWindow = &window;
    std::atexit(endWithoutDisplay);
    if (fullScreen) window.showFullScreen();
    else window.show();
    window.activateWindow();   // no window manager may be there to give it the focus
    if (replaying) QTimer::singleShot(0, &window, [&window] { window.runReplay(); });
    const int status = app.exec();
    // The area below the menu bar, whose height may differ from run to run with the fonts.
    memory.write({window.normalGeometry().size() - QSize(0, window.menuBar()->height()),
                  window.isFullScreen()});
    shownWindow = nullptr;
    return status;
}
