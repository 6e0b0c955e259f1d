// What the window tests share: the application object (only where there is an X display), real
// input through xdotool, the close request a window manager sends, and running the program
// itself as a child process.
#pragma once

#include "app/gl_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>

#include <xcb/xcb.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace hopshot::guitest {

// The one application object of the test process, made on first use; null without a display,
// and the window tests then skip (run them under xvfb-run).
inline QApplication* app() {
    static QApplication* instance = nullptr;
    const char* display = std::getenv("DISPLAY");
    if (!instance && display && *display) {
        static int argc = 1;
        static char name[] = "shell_tests";
        static char* argv[] = {name, nullptr};
        GLView::setDefaultSurfaceFormat();
        instance = new QApplication(argc, argv);
    }
    return instance;
}

// The program under test and the directory it loads its pictures and meshes from.
inline std::string programPath() { return HOPSHOT_BINARY; }
inline QString programDir() {
    return QString::fromStdString(std::filesystem::path(programPath()).parent_path().string());
}

// The repository's assets (HOPSHOT_ASSETS, as ctest sets it), else the program's directory.
inline QString assetsDir() {
    const char* dir = std::getenv("HOPSHOT_ASSETS");
    return dir && *dir ? QString::fromUtf8(dir) : programDir();
}

// Runs the window's events until pred holds or timeoutMs has passed; returns pred().
inline bool waitFor(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    while (!pred()) {
        if (clock.elapsed() >= timeoutMs) return pred();
        wake.start(10);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

inline void pump(int ms) { waitFor([] { return false; }, ms); }

inline bool sh(const std::string& command) { return std::system(command.c_str()) == 0; }

// Standard output of a shell command, trailing newline dropped.
inline std::string shOut(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[256];
        while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

inline bool focusWindow(unsigned long window) {
    return sh("timeout 10 xdotool windowfocus --sync " + std::to_string(window));
}

// Shows a window and gives it the keyboard, as a window manager would on a click.
inline bool showAndFocus(QWidget& window) {
    window.show();
    window.activateWindow();
    return waitFor([&] { return window.windowHandle()->isExposed(); }, 5000) &&
           focusWindow(window.winId()) && waitFor([&] { return window.isActiveWindow(); }, 5000);
}

// A real click at a point of the screen.
inline bool clickAt(QPoint global) {
    return sh("xdotool mousemove --sync " + std::to_string(global.x()) + " " +
              std::to_string(global.y()) + " click 1");
}

// What the close box does: the window manager asks the window to close (WM_DELETE_WINDOW).
inline bool sendCloseRequest(uint32_t window) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    auto atom = [c](const char* name) {
        xcb_intern_atom_reply_t* r =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(r);
        return a;
    };
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = window;
    ev.type = atom("WM_PROTOCOLS");
    ev.data.data32[0] = atom("WM_DELETE_WINDOW");
    ev.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
    // A round trip before letting go, so the server has taken the request (as XCloseDisplay does).
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
    return true;
}

// The program as a child process, its output in files.
struct Child {
    pid_t pid = -1;
    std::string outPath, errPath;
    int status = -1;   // as from waitpid, once it has ended

    std::string out() const { return slurp(outPath); }
    std::string err() const { return slurp(errPath); }
    static std::string slurp(const std::string& path) {
        std::ifstream f(path);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    bool reaped = false;   // its end was taken once: asking again would wait for nothing

    // Waits for the end; false if it is still running after timeoutMs.
    bool waitEnd(int timeoutMs) {
        for (int waited = 0; waited <= timeoutMs; waited += 20) {
            if (reaped || waitpid(pid, &status, WNOHANG) == pid) return reaped = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    bool exitedWith(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

    ~Child() {
        if (pid > 0 && !reaped && waitpid(pid, &status, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
    }
};

// Starts argv[0] with that environment, its output and errors going to the child's files.
inline void spawnInto(Child& child, const std::vector<char*>& argv, const std::vector<char*>& envp) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, child.outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, child.errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
}

// Starts the program with args, its environment without the variables in `unset`.
inline std::unique_ptr<Child> startProgram(const std::vector<std::string>& args,
                                           const std::vector<std::string>& unset = {}) {
    static int serial = 0;
    auto child = std::make_unique<Child>();
    const std::string stem = (std::filesystem::temp_directory_path() /
                              ("hopshot-" + std::to_string(getpid()) + "-" +
                               std::to_string(++serial)))
                                 .string();
    child->outPath = stem + ".out";
    child->errPath = stem + ".err";

    std::vector<std::string> argStore{programPath()};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    // Each run remembers its window in a config folder of its own: no size carries over from
    // another test's run.
    std::vector<char*> envp;
    std::vector<std::string> dropped = unset;
    dropped.push_back("XDG_CONFIG_HOME");
    for (char** e = environ; *e; ++e) {
        bool keep = true;
        for (const std::string& name : dropped)
            if (std::strncmp(*e, name.c_str(), name.size()) == 0 && (*e)[name.size()] == '=')
                keep = false;
        if (keep) envp.push_back(*e);
    }
    static std::vector<std::string> configHomes;   // alive while the children may read them
    configHomes.push_back("XDG_CONFIG_HOME=" + stem + ".config");
    envp.push_back(configHomes.back().data());
    envp.push_back(nullptr);

    spawnInto(*child, argv, envp);
    return child;
}

// The shown window of a child program; 0 if none appears in time.
inline unsigned long windowOf(const Child& child) {
    const std::string id = shOut("timeout 15 xdotool search --sync --onlyvisible --pid " +
                                 std::to_string(child.pid) + " --name '^HopShot$' | head -1");
    return id.empty() ? 0 : std::stoul(id);
}

}  // namespace hopshot::guitest
