// What the tests of the program's start and end share: a program directory of their own (the
// assets, and a copy of the program itself when it runs as a child), the program started there
// with its own environment, the windows a child shows, and message boxes compared with the box
// the program should show, drawn here by the same toolkit on the same screen.
#pragma once

#include "testing/gui_test_support.h"

#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <sys/stat.h>

#include <map>
#include <optional>
#include <utility>

namespace hopshot::guitest {

namespace fs = std::filesystem;

// A directory holding the meshes, the waves and the title picture, and with withProgram a copy of
// the program beside them: the high-score file it reads and writes is this directory's own.
class ProgramDir {
public:
    explicit ProgramDir(bool withProgram) {
        static int serial = 0;
        dir_ = fs::temp_directory_path() /
               ("hopshot-ending-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        // The repository's assets when the test runner names them, else the copies beside the
        // program (but never a high-score file someone left there).
        const char* assets = std::getenv("HOPSHOT_ASSETS");
        const fs::path from = assets && *assets ? fs::path(assets)
                                                : fs::path(programDir().toStdString());
        for (const auto& entry : fs::directory_iterator(from)) {
            const std::string ext = entry.path().extension().string();
            if (entry.path().filename() == "gun3.x") continue;
            if (ext == ".x" || ext == ".wav" || ext == ".bmp")
                fs::copy_file(entry.path(), dir_ / entry.path().filename());
        }
        if (withProgram) fs::copy_file(programPath(), dir_ / "hopshot");
    }
    ~ProgramDir() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    ProgramDir(const ProgramDir&) = delete;
    ProgramDir& operator=(const ProgramDir&) = delete;

    std::string path() const { return dir_.string(); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    QString qpath() const { return QString::fromStdString(dir_.string()); }

    void write(const std::string& name, const std::string& text) const {
        std::ofstream(dir_ / name, std::ios::binary) << text;
    }
    std::string read(const std::string& name) const { return Child::slurp(path(name)); }
    // Identifies the file that stands at name now: a file written anew is another one.
    ino_t inode(const std::string& name) const {
        struct stat st{};
        return ::stat(path(name).c_str(), &st) == 0 ? st.st_ino : 0;
    }

    // Starts the copy of the program with args; env sets variables (an empty value unsets one).
    std::unique_ptr<Child> start(const std::vector<std::string>& args,
                                 const std::map<std::string, std::string>& env = {}) const {
        static int serial = 0;
        auto child = std::make_unique<Child>();
        const std::string stem = path("run-" + std::to_string(++serial));
        child->outPath = stem + ".out";
        child->errPath = stem + ".err";

        std::vector<std::string> argStore{path("hopshot")};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argStore) argv.push_back(a.data());
        argv.push_back(nullptr);

        std::vector<std::string> envStore;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            if (!env.count(name) && name != "XDG_CONFIG_HOME") envStore.push_back(entry);
        }
        for (const auto& [name, value] : env)
            if (!value.empty()) envStore.push_back(name + "=" + value);
        // The window's size is remembered only where a test asks for it.
        if (!env.count("XDG_CONFIG_HOME")) envStore.push_back("XDG_CONFIG_HOME=" + stem + ".config");
        std::vector<char*> envp;
        for (auto& e : envStore) envp.push_back(e.data());
        envp.push_back(nullptr);

        spawnInto(*child, argv, envp);
        return child;
    }

private:
    fs::path dir_;
};

// The windows a child shows, by id and title, in the X server's stacking order.
inline std::vector<std::pair<unsigned long, std::string>> shownWindows(const Child& child) {
    const std::string pid = std::to_string(child.pid);
    // xdotool also lists windows without an owner (the root); keep the child's own.
    const std::string list = shOut(
        "for w in $(xdotool search --onlyvisible --pid " + pid + " --name '' 2>/dev/null); do "
        "[ \"$(xdotool getwindowpid $w 2>/dev/null)\" = " + pid + " ] && "
        "echo \"$w $(xdotool getwindowname $w)\"; done");
    std::vector<std::pair<unsigned long, std::string>> out;
    std::istringstream lines(list);
    for (std::string line; std::getline(lines, line);) {
        const size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        out.emplace_back(std::stoul(line.substr(0, space)), line.substr(space + 1));
    }
    return out;
}

// The first shown window of the child whose title is `title`; waits up to timeoutMs for one.
inline std::optional<unsigned long> waitForWindow(const Child& child, const std::string& title,
                                                  int timeoutMs) {
    std::optional<unsigned long> found;
    waitFor([&] {
        for (const auto& [id, name] : shownWindows(child))
            if (name == title) found = id;
        return found.has_value();
    }, timeoutMs);
    return found;
}

inline QImage grabShown(unsigned long window) {
    return QGuiApplication::primaryScreen()->grabWindow(window).toImage();
}

// Keeps a picture for a person to look at, when HOPSHOT_SHOTS names a directory.
inline void keepShot(const QImage& image, const std::string& name) {
    const char* dir = std::getenv("HOPSHOT_SHOTS");
    if (!dir || !*dir) return;
    fs::create_directories(dir);
    image.save(QString::fromStdString((fs::path(dir) / (name + ".png")).string()));
}

// A message box as the program should show it: the same kind of box, made here and shown on the
// same screen. What matters for the comparison is everything above its buttons (whose focus frame
// depends on which window has the keyboard).
struct ExpectedBox {
    QImage picture;
    int buttonsTop = 0;
};

inline ExpectedBox expectedBox(QMessageBox::Icon icon, const QString& title, const QString& text) {
    QMessageBox box(icon, title, text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.show();
    waitFor([&] { return box.windowHandle() && box.windowHandle()->isExposed(); }, 5000);
    pump(200);   // painted
    ExpectedBox e;
    e.picture = grabShown(box.winId());
    e.buttonsTop = box.button(QMessageBox::Ok)->mapTo(&box, QPoint(0, 0)).y();
    box.hide();
    return e;
}

// The child's box shows what the expected one does: the same size, the same picture above the
// buttons.
inline bool looksLike(const QImage& shown, const ExpectedBox& e) {
    if (shown.isNull() || shown.size() != e.picture.size()) return false;
    const QRect top(0, 0, shown.width(), e.buttonsTop);
    return shown.copy(top).convertToFormat(QImage::Format_RGB32) ==
           e.picture.copy(top).convertToFormat(QImage::Format_RGB32);
}

// Waits until the child's window shows the expected box; the last picture taken goes to `shown`.
inline bool showsBox(unsigned long window, const ExpectedBox& e, QImage& shown, int timeoutMs) {
    return waitFor([&] {
        shown = grabShown(window);
        return looksLike(shown, e);
    }, timeoutMs);
}

}  // namespace hopshot::guitest
