#include "net/options.h"

#include "meet/protocol.h"

#include <optional>

#ifndef HOPSHOT_VERSION
#define HOPSHOT_VERSION "0.1"
#endif

namespace hopshot {

namespace {

constexpr long kMaxStepLimit = 1000000000;
constexpr double kMinScale = 0.5, kMaxScale = 8;
constexpr long kMinRenderRows = 120, kMaxRenderRows = 4320;

// "1", "3", "134": the player items to check, each digit 1..4 at most once, in any order.
// "0" or an empty value checks none (a game with no view drawn).
std::optional<std::array<bool, 4>> parsePlayers(const std::string& v) {
    std::array<bool, 4> marks{};
    if (v.empty() || v == "0") return marks;
    for (char c : v) {
        if (c < '1' || c > '4' || marks[c - '1']) return std::nullopt;
        marks[c - '1'] = true;
    }
    return marks;
}

std::optional<bool> parseFlag(const std::string& v) {
    if (v == "0") return false;
    if (v == "1") return true;
    return std::nullopt;
}

std::optional<long> parseSteps(const std::string& v) {
    if (v.empty() || v.size() > 10) return std::nullopt;
    long n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n < 1 || n > kMaxStepLimit) return std::nullopt;
    return n;
}

std::optional<int> parsePort(const std::string& v) {
    auto n = parseSteps(v);
    if (!n || *n > 65535) return std::nullopt;
    return int(*n);
}

// "2", "1.5": a scale from 0.5 to 8, in plain decimals.
std::optional<double> parseScale(const std::string& v) {
    if (v.empty() || v.size() > 8 || v.find_first_not_of("0123456789.") != std::string::npos ||
        v.find('.') != v.rfind('.') || v.front() == '.' || v.back() == '.')
        return std::nullopt;
    const double s = std::stod(v);
    if (s < kMinScale || s > kMaxScale) return std::nullopt;
    return s;
}

}  // namespace

std::string parseCommandLine(const std::vector<std::string>& args, CommandLine& out) {
    out = CommandLine{};
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") { out.mode = CommandLine::Mode::Help; return {}; }
        if (a == "--version") { out.mode = CommandLine::Mode::Version; return {}; }
    }

    bool headless = false;
    std::string windowOption;    // the first window option seen, to name it in a conflict
    std::string headlessOption;  // the first option that only a headless run takes
    std::string recordingOption; // the first of --record and --replay
    std::string menuOption;      // the first option that presets a check mark
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (name.rfind("--", 0) != 0) return "unexpected argument '" + name + "'";
        if (size_t eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        auto take = [&]() -> std::optional<std::string> {
            if (value) return value;
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };

        if (name == "--players" || name == "--live" || name == "--small" || name == "--simple" ||
            name == "--wire") {
            auto v = take();
            if (!v) return name + " needs a value";
            if (windowOption.empty()) windowOption = name;
            if (menuOption.empty()) menuOption = name;
            if (name == "--players") {
                auto marks = parsePlayers(*v);
                if (!marks)
                    return "--players takes the players to check, digits 1 to 4 each at most once "
                           "(or 0 for none), not '" + *v + "'";
                out.presets.players = *marks;
                out.presets.playersGiven = true;
                continue;
            }
            auto on = parseFlag(*v);
            if (!on) return name + " takes 0 or 1, not '" + *v + "'";
            if (name == "--live") out.presets.liveCamera = *on;
            if (name == "--small") out.presets.smallScreen = *on;
            if (name == "--simple") out.presets.simpleDisplay = *on;
            if (name == "--wire") out.presets.wireframe = *on;
        } else if (name == "--nosound") {
            if (value) return "--nosound takes no value";
            if (windowOption.empty()) windowOption = name;
            out.sound = false;
        } else if (name == "--fullscreen" || name == "--calm") {
            if (value) return name + " takes no value";
            if (windowOption.empty()) windowOption = name;
            if (name == "--fullscreen") out.screen.fullScreen = true;
            else out.screen.calm = true;
        } else if (name == "--scale") {
            auto v = take();
            if (!v) return "--scale needs a value";
            if (windowOption.empty()) windowOption = name;
            auto s = parseScale(*v);
            if (!s) return "--scale takes a number from 0.5 to 8 (such as 2 or 1.5), not '" + *v + "'";
            out.screen.scale = *s;
            out.screen.scaleGiven = true;
        } else if (name == "--render-height") {
            auto v = take();
            if (!v) return "--render-height needs a value";
            if (windowOption.empty()) windowOption = name;
            auto n = parseSteps(*v);
            if (!n || *n < kMinRenderRows || *n > kMaxRenderRows)
                return "--render-height takes a whole number of rows from 120 to 4320, not '" + *v + "'";
            out.screen.renderRows = int(*n);
        } else if (name == "--headless" || name == "--trace" || name == "--dir") {
            auto v = take();
            if (!v || v->empty()) return name + " needs a file or directory name";
            if (name == "--headless") { headless = true; out.script = *v; }
            if (name == "--dir" && headlessOption.empty()) headlessOption = name;
            if (name == "--trace") out.trace = *v;
            if (name == "--dir") out.dir = *v;
        } else if (name == "--record" || name == "--replay") {
            auto v = take();
            if (!v || v->empty()) return name + " needs a file name";
            if (recordingOption.empty()) recordingOption = name;
            if (name == "--record") out.record = *v;
            else out.replay = *v;
        } else if (name == "--steps") {
            auto v = take();
            if (!v) return "--steps needs a value";
            auto n = parseSteps(*v);
            if (!n) return "--steps takes a whole number from 1 to 1000000000, not '" + *v + "'";
            out.steps = *n;
            out.stepsGiven = true;
            if (headlessOption.empty()) headlessOption = name;
        } else if (name == "--host") {
            // The port is optional: taken when the next word is not an option.
            if (!value && i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) value = args[++i];
            if (value) {
                auto port = parsePort(*value);
                if (!port) return "--host takes a port number from 1 to 65535, not '" + *value + "'";
                out.port = *port;
            }
            if (out.net == CommandLine::Net::Join) return "--host and --join cannot go together";
            out.net = CommandLine::Net::Host;
        } else if (name == "--join") {
            // The address is optional: with none (or an empty one) the game is found on the LAN.
            if (!value && i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) value = args[++i];
            if (out.net == CommandLine::Net::Host) return "--host and --join cannot go together";
            out.net = CommandLine::Net::Join;
            out.address = value.value_or("");
            const std::optional<std::string>& v = value;
            if (!v || v->empty()) continue;
            // Eight characters of the code's alphabet are an invite code, never an address.
            if (auto code = meet::parseCode(*v)) {
                out.address.clear();
                out.code = *code;
            } else if (size_t colon = v->rfind(':'); colon != std::string::npos && v->find(':') == colon) {
                auto port = parsePort(v->substr(colon + 1));
                if (!port) return "--join takes ADDRESS[:PORT] with a port from 1 to 65535, not '" + *v + "'";
                out.port = *port;
                out.address = v->substr(0, colon);
                if (out.address.empty()) return "--join needs the host's address before the port";
            }
        } else if (name == "--meet") {
            auto v = take();
            if (!v || v->empty()) return "--meet needs the meeting service's HOST[:PORT]";
            out.meet = *v;
        } else if (name == "--delay" || name == "--machines" || name == "--test-desync-after") {
            auto v = take();
            if (!v) return name + " needs a value";
            auto n = parseSteps(*v);
            if (name == "--delay") {
                if (!n || *n > 10) return "--delay takes a number of steps from 1 to 10, not '" + *v + "'";
                out.delay = int(*n);
            } else if (name == "--machines") {
                if (!n || *n < 2 || *n > 4) return "--machines takes 2, 3 or 4, not '" + *v + "'";
                out.machines = int(*n);
            } else {
                if (!n) return name + " takes a step number, not '" + *v + "'";
                out.desyncAfter = *n;
            }
        } else {
            return "unknown option '" + args[i] + "'";
        }
    }
    if (out.net == CommandLine::Net::None && (out.delay != 0 || out.desyncAfter != 0))
        return "--delay and --test-desync-after need --host or --join";
    if (out.net != CommandLine::Net::None && !out.replay.empty())
        return "--replay shows a recorded game; it cannot go with --host or --join";

    if (headless && !recordingOption.empty())
        return recordingOption + " is for the window; a headless run plays its script as it is";
    if (!out.record.empty() && !out.replay.empty())
        return "--record and --replay cannot go together: a replay adds nothing to record";
    if (!out.replay.empty() && !menuOption.empty())
        return menuOption + " sets the window's menu; a replay takes its settings from the file";
    if (headless && !windowOption.empty())
        return windowOption + " sets the window's menu, sound or screen; a headless run takes "
               "its settings from the script";
    if (!headless && !headlessOption.empty()) return headlessOption + " needs --headless SCRIPT";
    if (headless) out.mode = CommandLine::Mode::Headless;
    return {};
}

std::string usageText() {
    return "Usage: hopshot [OPTION]...\n"
           "Plays hopshot in a window, or runs a replay script with no window.\n"
           "\n"
           "Window (the menu's check marks to start with):\n"
           "  --players DIGITS   players taking part, e.g. 134 for 1P, 3P and 4P; 0 for none"
           " (default 1)\n"
           "  --live 0|1         live camera (default 1)\n"
           "  --small 0|1        small screen (default 0)\n"
           "  --simple 0|1       simple display: flat shading (default 0)\n"
           "  --wire 0|1         wireframe mode (default 0)\n"
           "  --nosound          open no sound device; every effect is silent\n"
           "  --record FILE      write every game of this run to FILE as a replay script\n"
           "                     (without it the last 20 games are kept in\n"
           "                     $XDG_DATA_HOME/hopshot/replays)\n"
           "  --replay FILE      watch a recorded game: P pause, N one step while paused,\n"
           "                     + and - speed, Esc leaves\n"
           "  --trace OUT        write the state after every frame step to OUT (JSON Lines)\n"
           "\n"
           "Screen (the window can be resized; the picture keeps its shape):\n"
           "  --scale N          open the window N times 640x480 (0.5 to 8, e.g. 2 or 1.5)\n"
           "  --fullscreen       start full screen (F11 toggles it)\n"
           "  --render-height N  draw the 3D view N rows high for the whole 480-row picture\n"
           "                     (at most the size shown; default: as large as shown while the\n"
           "                     game keeps 50 steps a second)\n"
           "  --calm             draw the red flash and the light's flicker with a third of\n"
           "                     their change in brightness\n"
           "The program finds its meshes, sounds and title picture beside itself, else in\n"
           "../share/hopshot, else in ../share/games/hopshot (the Debian package's). Run where\n"
           "it was built, it keeps the high scores in gun3.x beside itself, or in\n"
           "$XDG_DATA_HOME/hopshot/ where it cannot write there; installed, always in\n"
           "$XDG_DATA_HOME/hopshot/.\n"
           "\n"
           "Headless (no window, no sound, a virtual clock):\n"
           "  --headless SCRIPT  run the replay script SCRIPT and print the scores and records\n"
           "  --trace OUT        write the state after every frame step to OUT (JSON Lines)\n"
           "  --dir DIR          program directory holding the high-score file (default: .;\n"
           "                     installed: the installed assets, the high scores as above)\n"
           "  --steps N          stop every game still running after N frame steps (default\n"
           "                     3000, or as far as a recorded game's countdown ticks go)\n"
           "\n"
           "Network play (UDP port 7310 unless given; headless too, with --headless):\n"
           "  --host [PORT]      host a network game that other machines join\n"
           "  --join [ADDRESS[:PORT]]  join the game hosted at ADDRESS; with none, the one\n"
           "                     game that answers when asked on this LAN (UDP 7312)\n"
           "  --join CODE        join the game behind an invite code (through --meet)\n"
           "  --meet HOST[:PORT] the meeting service that hands out invite codes (UDP 7311)\n"
           "  --delay D          plain lockstep: every key D frame steps later, 1 to 10 (default:\n"
           "                     own keys at once, the others' predicted and corrected)\n"
           "  --machines N       headless host: wait for N machines, itself included (default 2)\n"
           "  --test-desync-after STEP  tests only: nudge this machine's game after STEP\n"
           "\n"
           "  --help             show this help and exit\n"
           "  --version          show the version and exit\n"
           "\n"
           "Bad options exit with status 2.\n";
}

std::string versionText() { return std::string("hopshot ") + HOPSHOT_VERSION + "\n"; }

}  // namespace hopshot
