// An X server of a test's own (Xvfb), with a window manager in it when the test needs one
// (openbox: full screen needs one), and the program started on it. Nothing else shares it: no
// other test's windows, focus or pointer.
#pragma once

#include "testing/gui_test_support.h"

#include <algorithm>
#include <QImage>

#include <signal.h>

namespace hopshot::guitest {

class PrivateDisplay {
public:
    PrivateDisplay(int width, int height, bool windowManager) {
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        std::vector<std::string> args{"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", screen,
                                      "-nolisten", "tcp"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&xvfb_, argv[0], &actions, nullptr, argv.data(), environ) != 0) xvfb_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        // Xvfb writes its display number once it is ready.
        std::string number;
        char c;
        while (xvfb_ > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty()) return;
        name = ":" + number;
        if (windowManager) {
            wm_ = start({"/usr/bin/openbox", "--sm-disable"});
            for (int i = 0; i < 100 && !sh(env() + "xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null"
                                                   " | grep -q 'window id'"); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    ~PrivateDisplay() {
        wm_.reset();
        if (xvfb_ > 0) {
            kill(xvfb_, SIGTERM);
            waitpid(xvfb_, nullptr, 0);
        }
    }

    bool ok() const { return !name.empty(); }
    std::string env() const { return "DISPLAY=" + name + " "; }

    // A program on this display, its output in files; the rest of the environment is the test's.
    std::unique_ptr<Child> start(const std::vector<std::string>& args,
                                 const std::vector<std::string>& extraEnv = {},
                                 const std::string& dir = {}) const {
        static int serial = 0;
        auto child = std::make_unique<Child>();
        const std::string stem = (std::filesystem::temp_directory_path() /
                                  ("hopshot-x-" + std::to_string(getpid()) + "-" +
                                   std::to_string(++serial))).string();
        child->outPath = stem + ".out";
        child->errPath = stem + ".err";
        std::vector<std::string> store = args;
        std::vector<char*> argv;
        for (auto& a : store) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envStore{"DISPLAY=" + name};
        envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
        // The window's size is remembered in a config folder of this run's own.
        if (std::none_of(extraEnv.begin(), extraEnv.end(), [](const std::string& e) {
                return e.rfind("XDG_CONFIG_HOME=", 0) == 0;
            }))
            envStore.push_back("XDG_CONFIG_HOME=" + stem + ".config");
        for (char** e = environ; *e; ++e) {
            const std::string var(*e);
            bool replaced = false;
            for (const std::string& mine : envStore)
                if (var.substr(0, var.find('=') + 1) == mine.substr(0, mine.find('=') + 1))
                    replaced = true;
            if (!replaced) envStore.push_back(var);
        }
        std::vector<char*> envp;
        for (auto& e : envStore) envp.push_back(e.data());
        envp.push_back(nullptr);
        const std::filesystem::path here = std::filesystem::current_path();
        if (!dir.empty()) std::filesystem::current_path(dir);
        spawnInto(*child, argv, envp);
        if (!dir.empty()) std::filesystem::current_path(here);
        return child;
    }

    // The visible HopShot window of a program on this display; 0 if none appears in time.
    unsigned long windowOf(const Child& child) const {
        const std::string id = shOut(env() + "timeout 15 xdotool search --sync --onlyvisible --pid " +
                                     std::to_string(child.pid) + " --name '^HopShot$' | head -1");
        return id.empty() ? 0 : std::stoul(id);
    }

    // The window's size and place on the screen, as the X server has it (the client area,
    // without any frame a window manager puts round it).
    QRect geometryOf(unsigned long window) const {
        const std::string g = shOut(env() + "xwininfo -id " + std::to_string(window) +
                                    " | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}"
                                    " /Width:/{w=$2} /Height:/{h=$2} END{print x, y, w, h}'");
        int x = 0, y = 0, w = 0, h = 0;
        std::istringstream(g) >> x >> y >> w >> h;
        return {x, y, w, h};
    }

    // What the screen shows now.
    QImage screenshot(const std::string& path) const {
        if (!sh(env() + "import -window root png:" + path)) return {};
        return QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_RGB32);
    }

    std::string name;   // ":N"

private:
    pid_t xvfb_ = -1;
    std::unique_ptr<Child> wm_;
};

}  // namespace hopshot::guitest
