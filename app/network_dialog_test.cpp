// Network play from the window's own menu and dialog: real programs in the X server driven by
// real keys, a game begun by the host's dialog and played in both windows, each failure ending
// in its sentence, and the same between two homes of the home lab by an invite code.
#include "testing/ending_test_support.h"
#include "testing/home_lab.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <fstream>
#include <sstream>

namespace hopshot {
namespace {

using guitest::ProgramDir;
using guitest::sh;
using guitest::shOut;
namespace fs = std::filesystem;

const std::string kDialog = "ネットワーク対戦";   // the dialog's title

uint16_t testPort() { return uint16_t(28000 + (getpid() % 1000) * 8); }

std::vector<unsigned long> windows(const std::string& name) {
    std::vector<unsigned long> ids;
    std::istringstream in(shOut("xdotool search --onlyvisible --name '" + name + "' 2>/dev/null"));
    for (unsigned long id; in >> id;) ids.push_back(id);
    return ids;
}

// A window so named that was not among `known`, within 15 s; 0 if none.
unsigned long newWindow(const std::string& name, const std::vector<unsigned long>& known) {
    unsigned long found = 0;
    guitest::waitFor([&] {
        for (unsigned long id : windows(name))
            if (std::find(known.begin(), known.end(), id) == known.end()) found = id;
        return found != 0;
    }, 15000);
    return found;
}

std::string captionOf(unsigned long window) { return shOut("xdotool getwindowname " + std::to_string(window)); }

// Real keys to `window`, given the focus first, then `typed` typed as text.
bool press(unsigned long window, const std::string& keys, const std::string& typed = "") {
    return guitest::focusWindow(window) && sh("xdotool key --delay 80 " + keys + " >/dev/null 2>&1") &&
           (typed.empty() || sh("xdotool type --delay 40 '" + typed + "' >/dev/null 2>&1"));
}

// One program with its window, from a folder of its own, on this machine or in a lab's place.
struct Window {
    std::unique_ptr<ProgramDir> dir = std::make_unique<ProgramDir>(true);
    std::unique_ptr<proc::Child> own;
    proc::Child* child = nullptr;
    unsigned long window = 0, dialog = 0;

    std::string said() const { return child ? child->out() + child->err() : ""; }

    // Starts it and moves its window to x, so that no two overlap.
    bool open(std::vector<std::string> args, int x, lab::HomeLab* lab = nullptr, const std::string& place = "") {
        args.insert(args.begin(), {"XDG_CONFIG_HOME=" + dir->path("config"), "SDL_AUDIODRIVER=dummy",
                                   dir->path("hopshot"), "--nosound", "--trace", dir->path("trace")});
        const auto known = windows("^HopShot");
        if (lab) {
            child = &lab->run(place, "/usr/bin/env", args, place + "-window");
        } else {
            own = proc::start("/usr/bin/env", args, dir->path("run"));
            child = own.get();
        }
        window = newWindow("^HopShot", known);
        return window && sh("xdotool windowmove " + std::to_string(window) + " " + std::to_string(x) + " 0");
    }
    // The network dialog from the menu's shortcut: ctrl+h hosts, ctrl+j joins.
    bool openDialog(const std::string& key) {
        const auto known = windows(kDialog);
        if (!press(window, "ctrl+" + key)) return false;
        dialog = newWindow(kDialog, known);
        int x = 0, y = 0;
        std::istringstream(shOut("xdotool getwindowgeometry --shell " + std::to_string(window) +
                                 " | sed -n 's/^[XY]=//p' | tr '\\n' ' '")) >> x >> y;
        return dialog && sh("xdotool windowmove " + std::to_string(dialog) + " " + std::to_string(x) + " 520");
    }
    bool hears(const std::string& text) const { return said().find(text) != std::string::npos; }
};

// How a host hosts and how its guest joins, with keys in the dialog.
struct TwoWindows {
    const char* name;
    const char* hostPlace;    // empty: this machine, on loopback; else the lab's place
    const char* guestPlace;
    int symmetric;            // routers giving every destination a new port: 0, router 2, or both
    bool byCode;              // else by address, port testPort()
    bool commandLine;         // hosted by --host --meet, not from the dialog
    const char* guestTypes;   // what the guest types: "CODE", an address, or "" to pick from the LAN
    const char* path;         // what each caption says of machine 2's path
};

TEST(NetDialog, TwoWindowsStartAGameFromTheirDialogs) {
    if (!guitest::app()) GTEST_SKIP() << "no X display";
    const std::string port = std::to_string(testPort());
    const TwoWindows cases[] = {
        {"by address on this machine", "", "", 0, false, false, "127.0.0.1:PORT", "lan"},
        {"by code from the command line", "", "", 0, true, true, "CODE", "lan"},
        {"a game heard on the LAN", "h1", "h1b", 0, false, false, "", "lan"},
        {"by code across two home routers", "h1", "h2", 0, true, false, "CODE", "punched"},
        {"by code through a symmetric router", "h1", "h2", 1, true, false, "CODE", "relayed"},
        // Neither home lets anything in: the host allocates a relay of its own, relay to relay.
        {"by code through two symmetric routers", "h1", "h2", 2, true, false, "CODE", "relayed"},
    };
    // The meeting service on this machine, for the hosts here.
    const std::string here = "127.0.0.1:" + std::to_string(testPort() + 5);
    auto meetHere = proc::start(HOPSHOT_MEET_BINARY, {"--listen", here}, "/tmp/hopshot-dialog-meet2-" + std::to_string(getpid()));
    ASSERT_TRUE(proc::waitUntil([&] { return meetHere->out().find("listening") != std::string::npos; }, 5000));
    for (const TwoWindows& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<lab::HomeLab> lab;
        std::string meet = *c.hostPlace ? "203.0.113.10:7311" : here;
        if (*c.hostPlace) {
            if (!lab::whyNoLab().empty()) {
                std::cout << "[ SKIPPED  ] " << c.name << ": no home lab here (" << lab::whyNoLab() << ")\n";
                continue;
            }
            lab = std::make_unique<lab::HomeLab>(c.symmetric);
            ASSERT_TRUE(lab->ok()) << lab->error();
            std::ofstream(lab->dir() / "secret") << "lab-secret\n";
            fs::permissions(lab->dir() / "secret", fs::perms::owner_read | fs::perms::owner_write);
            ASSERT_NE(lab->startMeet(HOPSHOT_MEET_BINARY, {"--turn", "203.0.113.10:3478", "--turn-secret-file",
                                                           (lab->dir() / "secret").string()}), nullptr);
            ASSERT_TRUE(lab->startRelay("lab-secret"));
        }
        Window host, guest;
        std::vector<std::string> hostArgs;
        if (c.commandLine) hostArgs = {"--host", std::to_string(testPort() + 6), "--meet", meet};
        ASSERT_TRUE(host.open(hostArgs, 0, lab.get(), c.hostPlace)) << host.said();
        ASSERT_TRUE(host.openDialog("h")) << host.said();
        if (!c.commandLine) {
            const bool keyed = c.byCode ? press(host.dialog, "alt+i alt+m ctrl+a", meet)
                                        : press(host.dialog, "alt+a alt+p ctrl+a", port);
            ASSERT_TRUE(keyed);
            ASSERT_TRUE(press(host.dialog, "alt+h"));
        }
        // The code as the host's window shows it, read out to the guest.
        std::string code;
        if (c.byCode) {
            ASSERT_TRUE(guitest::waitFor([&] {
                const std::string caption = captionOf(host.window);
                const size_t at = caption.find("invite code ");
                if (at != std::string::npos) code = caption.substr(at + 12, 8);
                return !code.empty();
            }, 8000)) << host.said();
            EXPECT_TRUE(host.hears("invite code: " + code)) << host.said();
            // The dialog's Copy puts the code on the clipboard, where a player pastes it from.
            guitest::pump(500);   // the dialog shows the code as the caption does
            ASSERT_TRUE(press(host.dialog, "alt+o"));
            EXPECT_TRUE(guitest::waitFor([&] {
                return shOut("timeout 5 xclip -o -selection clipboard 2>/dev/null") == code;
            }, 5000)) << "the clipboard holds no code";
        }

        ASSERT_TRUE(guest.open({}, 640, lab.get(), c.guestPlace)) << guest.said();
        ASSERT_TRUE(guest.openDialog("j")) << guest.said();
        std::string typed = c.guestTypes;
        if (typed == "CODE") typed = code.substr(0, 4) + "-" + code.substr(4);   // as read out
        if (typed.rfind("127.0.0.1:", 0) == 0) typed = "127.0.0.1:" + port;
        if (c.byCode) {
            ASSERT_TRUE(press(guest.dialog, "alt+m ctrl+a", meet));
        }
        if (!typed.empty()) {
            ASSERT_TRUE(press(guest.dialog, "alt+c ctrl+a", typed));
            ASSERT_TRUE(press(guest.dialog, "alt+j"));
        } else {   // the list fills within a round of queries: the one game heard, chosen
            guitest::pump(3000);
            ASSERT_TRUE(press(guest.dialog, "alt+l Home alt+g"));
        }
        EXPECT_TRUE(guitest::waitFor([&] {
            return captionOf(host.window).find("host, 2 machines, players 1 2") != std::string::npos &&
                   captionOf(guest.window).find("guest, 2 machines, players 1 2, " + std::string(c.path)) !=
                       std::string::npos;
        }, 10000)) << captionOf(host.window) << "\n" << captionOf(guest.window) << "\n" << host.said() << guest.said();
        EXPECT_NE(captionOf(host.window).find("machine 2 " + std::string(c.path)), std::string::npos)
            << captionOf(host.window);
        guitest::pump(500);   // the dialogs show what the captions say
        const std::string shot = std::string("net-dialog-") + (*c.hostPlace ? c.path : c.byCode ? "command-line" : "loopback") +
                                 (c.symmetric == 2 ? "-both" : "");
        guitest::keepShot(guitest::grabShown(host.dialog), shot + "-host-dialog");
        guitest::keepShot(guitest::grabShown(guest.dialog), shot + "-guest-dialog");

        // The host's Start begins the game in both windows; the host's Esc ends it in both.
        ASSERT_TRUE(press(host.dialog, "alt+s"));
        guitest::pump(1500);
        ASSERT_TRUE(guitest::focusWindow(host.window) && sh("xdotool keydown Left sleep 0.3 keyup Left"));
        guitest::keepShot(guitest::grabShown(host.window), shot + "-host-game");
        guitest::keepShot(guitest::grabShown(guest.window), shot + "-guest-game");
        ASSERT_TRUE(press(host.window, "Escape"));
        const std::string hostTrace = host.dir->path("trace"), guestTrace = guest.dir->path("trace");
        EXPECT_TRUE(guitest::waitFor([&] {
            const std::string t = proc::slurp(hostTrace);
            return std::count(t.begin(), t.end(), '\n') > 20 && t == proc::slurp(guestTrace);
        }, 10000)) << "the windows' traces differ\n" << host.said() << guest.said();
    }
}

// Each failure of a guest's joining in the dialog: its sentence within its time, and Cancel.
struct Failure {
    const char* name;
    bool hosting;          // hosting by code from the dialog; else joining
    const char* typed;     // what the guest types
    const char* service;   // the meeting service: "live", "silent" or "none" (the field left empty)
    const char* sentence;  // what the dialog (and the standard error) end with; empty: cancelled
    int withinMs;
};

TEST(NetDialog, EachFailureEndsInItsSentenceAndCancelStopsTheAttempt) {
    if (!guitest::app()) GTEST_SKIP() << "no X display";
    const uint16_t base = uint16_t(testPort() + 1);
    const std::string live = "127.0.0.1:" + std::to_string(base), silent = "127.0.0.1:" + std::to_string(base + 1);
    auto meet = proc::start(HOPSHOT_MEET_BINARY, {"--listen", live}, "/tmp/hopshot-dialog-meet-" + std::to_string(getpid()));
    ASSERT_TRUE(proc::waitUntil([&] { return meet->out().find("listening") != std::string::npos; }, 5000));
    // A meeting service that never answers: a bound socket, read by the test.
    const int quiet = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = htons(uint16_t(base + 1));
    ASSERT_EQ(bind(quiet, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    auto heardQuiet = [&] {
        int n = 0;
        char bytes[512];
        while (recv(quiet, bytes, sizeof bytes, 0) > 0) ++n;
        return n;
    };
    Window full, guest;   // a host with all four players taken
    ASSERT_TRUE(full.open({"--host", std::to_string(base + 2), "--players", "1234"}, 640)) << full.said();
    ASSERT_TRUE(guest.open({}, 0)) << guest.said();
    ASSERT_TRUE(guest.openDialog("j"));

    const std::string fullAt = "127.0.0.1:" + std::to_string(base + 2), nobody = "127.0.0.1:" + std::to_string(base + 3);
    const Failure cases[] = {
        {"a wrong code", false, "2222-2222", "live", "This code is unknown or has expired.", 3000},
        {"a meeting service that does not answer", false, "2222-2222", "silent", "does not answer.", 7000},
        {"no meeting service named", false, "2222-2222", "none", "needs a meeting service", 1000},
        {"no host at the address", false, nobody.c_str(), "silent", "no hopshot host answers at ", 8000},
        {"a full host", false, fullAt.c_str(), "silent", "the game is full: all four players are taken", 4000},
        {"cancelled while connecting", false, "2222-2222", "silent", "", 800},
        // An address whose socket never answers ENet's handshake: Cancel ends the handshake too.
        {"cancelled during the handshake", false, silent.c_str(), "silent", "", 800},
        {"hosting where the meeting service does not answer", true, "", "silent", "does not answer.", 7000},
        {"hosting by code with no meeting service", true, "", "none", "ミーティングサービスが要ります", 1000},
    };
    for (const Failure& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = guest.said().size();
        const std::string service = std::string(c.service) == "live" ? live : std::string(c.service) == "none" ? "" : silent;
        ASSERT_TRUE(press(guest.window, c.hosting ? "ctrl+h" : "ctrl+j"));
        ASSERT_TRUE(press(guest.dialog, "alt+m ctrl+a BackSpace", service));
        if (c.hosting) {
            ASSERT_TRUE(press(guest.dialog, "alt+i alt+p ctrl+a", std::to_string(base + 5)));
            ASSERT_TRUE(press(guest.dialog, "alt+h"));
        } else {
            ASSERT_TRUE(press(guest.dialog, "alt+c ctrl+a", c.typed));
            ASSERT_TRUE(press(guest.dialog, "alt+j"));
        }
        const auto asked = std::chrono::steady_clock::now();
        guitest::pump(300);
        guitest::keepShot(guitest::grabShown(guest.dialog), "net-dialog-connecting");
        if (!*c.sentence) {
            guitest::pump(c.withinMs - 300);
            heardQuiet();
            ASSERT_TRUE(press(guest.dialog, "alt+n"));
            guitest::pump(300);
            heardQuiet();   // what was on its way
            guitest::pump(2500);
            EXPECT_EQ(heardQuiet(), 0) << "the attempt went on after Cancel";
            EXPECT_EQ(guest.said().find("hopshot: ", before), std::string::npos) << guest.said();
            guitest::keepShot(guitest::grabShown(guest.dialog), "net-dialog-cancelled");
            continue;
        }
        EXPECT_TRUE(guitest::waitFor([&] { return guest.said().find(c.sentence, before) != std::string::npos; },
                                     c.withinMs + 2000)) << guest.said();
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
        EXPECT_LT(took * 1000, c.withinMs) << "ms to the sentence";
        guitest::keepShot(guitest::grabShown(guest.dialog), std::string("net-dialog-failed-") + c.service);
    }
    close(quiet);
}

}  // namespace
}  // namespace hopshot
