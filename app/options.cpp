#include "app/options.h"

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

// Which other options an option cannot go with: the first of each kind is named in a refusal.
enum class Kind {
    Any,        // goes with anything (--trace, --headless, network play)
    Menu,       // presets a check mark of the window's menu
    Window,     // the window's sound or screen
    Recording,  // --record and --replay, the window's
    Headless,   // needs --headless
};

// What an option does with its value: `v` is null for an option that takes none, and for an
// optional value not given. Returns what is wrong with the value, or an empty string.
using Take = std::string (*)(const std::string& name, const std::string* v, CommandLine& out);

struct Option {
    const char* name;
    enum class Value { None, Needed, Optional } value;
    Kind kind;
    Take take;
    // Said when a needed value is missing, and then an empty one is missing too. Null: "NAME
    // needs a value", and an empty value is for take to judge.
    const char* missing = nullptr;
};

template <bool WindowPresets::*Mark>
std::string takeMark(const std::string& name, const std::string* v, CommandLine& out) {
    auto on = parseFlag(*v);
    if (!on) return name + " takes 0 or 1, not '" + *v + "'";
    out.presets.*Mark = *on;
    return {};
}

// A name (a file, a folder, a service's address), kept as it is.
template <std::string CommandLine::*File>
std::string takeFile(const std::string&, const std::string* v, CommandLine& out) {
    out.*File = *v;
    return {};
}

std::string takePlayers(const std::string&, const std::string* v, CommandLine& out) {
    auto marks = parsePlayers(*v);
    if (!marks)
        return "--players takes the players to check, digits 1 to 4 each at most once "
               "(or 0 for none), not '" + *v + "'";
    out.presets.players = *marks;
    out.presets.playersGiven = true;
    return {};
}

std::string takeNoSound(const std::string&, const std::string*, CommandLine& out) {
    out.sound = false;
    return {};
}

std::string takeFullScreen(const std::string&, const std::string*, CommandLine& out) {
    out.screen.fullScreen = true;
    return {};
}

std::string takeCalm(const std::string&, const std::string*, CommandLine& out) {
    out.screen.calm = true;
    return {};
}

std::string takeScale(const std::string&, const std::string* v, CommandLine& out) {
    auto s = parseScale(*v);
    if (!s) return "--scale takes a number from 0.5 to 8 (such as 2 or 1.5), not '" + *v + "'";
    out.screen.scale = *s;
    out.screen.scaleGiven = true;
    return {};
}

std::string takeRenderHeight(const std::string&, const std::string* v, CommandLine& out) {
    auto n = parseSteps(*v);
    if (!n || *n < kMinRenderRows || *n > kMaxRenderRows)
        return "--render-height takes a whole number of rows from 120 to 4320, not '" + *v + "'";
    out.screen.renderRows = int(*n);
    return {};
}

std::string takeHeadless(const std::string&, const std::string* v, CommandLine& out) {
    out.mode = CommandLine::Mode::Headless;
    out.script = *v;
    return {};
}

std::string takeSteps(const std::string&, const std::string* v, CommandLine& out) {
    auto n = parseSteps(*v);
    if (!n) return "--steps takes a whole number from 1 to 1000000000, not '" + *v + "'";
    out.steps = *n;
    out.stepsGiven = true;
    return {};
}

std::string takeHost(const std::string&, const std::string* v, CommandLine& out) {
    if (v) {
        auto port = parsePort(*v);
        if (!port) return "--host takes a port number from 1 to 65535, not '" + *v + "'";
        out.port = *port;
    }
    if (out.net == CommandLine::Net::Join) return "--host and --join cannot go together";
    out.net = CommandLine::Net::Host;
    return {};
}

std::string takeJoin(const std::string&, const std::string* v, CommandLine& out) {
    if (out.net == CommandLine::Net::Host) return "--host and --join cannot go together";
    out.net = CommandLine::Net::Join;
    // The address is optional: with none (or an empty one) the game is found on the LAN.
    out.address = v ? *v : "";
    if (!v || v->empty()) return {};
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
    return {};
}

std::string takeDelay(const std::string&, const std::string* v, CommandLine& out) {
    auto n = parseSteps(*v);
    if (!n || *n > 10) return "--delay takes a number of steps from 1 to 10, not '" + *v + "'";
    out.delay = int(*n);
    return {};
}

std::string takeMachines(const std::string&, const std::string* v, CommandLine& out) {
    auto n = parseSteps(*v);
    if (!n || *n < 2 || *n > 4) return "--machines takes 2, 3 or 4, not '" + *v + "'";
    out.machines = int(*n);
    return {};
}

using V = Option::Value;

// Every option but --help and --version. A new one is a row here, a take function and a line of
// the usage text.
const Option kOptions[] = {
    {"--players", V::Needed, Kind::Menu, takePlayers},
    {"--live", V::Needed, Kind::Menu, takeMark<&WindowPresets::liveCamera>},
    {"--small", V::Needed, Kind::Menu, takeMark<&WindowPresets::smallScreen>},
    {"--simple", V::Needed, Kind::Menu, takeMark<&WindowPresets::simpleDisplay>},
    {"--wire", V::Needed, Kind::Menu, takeMark<&WindowPresets::wireframe>},
    {"--nosound", V::None, Kind::Window, takeNoSound},
    {"--scale", V::Needed, Kind::Window, takeScale},
    {"--fullscreen", V::None, Kind::Window, takeFullScreen},
    {"--render-height", V::Needed, Kind::Window, takeRenderHeight},
    {"--calm", V::None, Kind::Window, takeCalm},
    {"--record", V::Needed, Kind::Recording, takeFile<&CommandLine::record>, "--record needs a file name"},
    {"--replay", V::Needed, Kind::Recording, takeFile<&CommandLine::replay>, "--replay needs a file name"},
    {"--trace", V::Needed, Kind::Any, takeFile<&CommandLine::trace>, "--trace needs a file or directory name"},
    {"--headless", V::Needed, Kind::Any, takeHeadless, "--headless needs a file or directory name"},
    {"--dir", V::Needed, Kind::Headless, takeFile<&CommandLine::dir>, "--dir needs a file or directory name"},
    {"--steps", V::Needed, Kind::Headless, takeSteps},
    {"--host", V::Optional, Kind::Any, takeHost},
    {"--join", V::Optional, Kind::Any, takeJoin},
    {"--meet", V::Needed, Kind::Any, takeFile<&CommandLine::meet>, "--meet needs the meeting service's HOST[:PORT]"},
    {"--delay", V::Needed, Kind::Any, takeDelay},
    {"--machines", V::Needed, Kind::Any, takeMachines},
};

const Option* findOption(const std::string& name) {
    for (const Option& o : kOptions)
        if (name == o.name) return &o;
    return nullptr;
}

}  // namespace

std::string parseCommandLine(const std::vector<std::string>& args, CommandLine& out) {
    out = CommandLine{};
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") { out.mode = CommandLine::Mode::Help; return {}; }
        if (a == "--version") { out.mode = CommandLine::Mode::Version; return {}; }
    }

    std::string windowOption;    // the first menu, sound or screen option, to name it in a conflict
    std::string menuOption;      // the first option that presets a check mark
    std::string recordingOption; // the first of --record and --replay
    std::string headlessOption;  // the first option that only a headless run takes
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (name.rfind("--", 0) != 0) return "unexpected argument '" + name + "'";
        if (size_t eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        const Option* o = findOption(name);
        if (!o) return "unknown option '" + args[i] + "'";
        switch (o->value) {
        case V::None:
            if (value) return name + " takes no value";
            break;
        case V::Optional:   // taken when the next word is not an option
            if (!value && i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) value = args[++i];
            break;
        case V::Needed:
            if (!value && i + 1 < args.size()) value = args[++i];
            if (!value || (o->missing && value->empty()))
                return o->missing ? o->missing : name + " needs a value";
            break;
        }
        auto first = [&](std::string& seen) {
            if (seen.empty()) seen = name;
        };
        if (o->kind == Kind::Menu) first(menuOption);
        if (o->kind == Kind::Menu || o->kind == Kind::Window) first(windowOption);
        if (o->kind == Kind::Recording) first(recordingOption);
        if (o->kind == Kind::Headless) first(headlessOption);
        if (std::string error = o->take(name, value ? &*value : nullptr, out); !error.empty())
            return error;
    }
    if (out.net == CommandLine::Net::None && out.delay != 0) return "--delay needs --host or --join";
    if (out.net != CommandLine::Net::None && !out.replay.empty())
        return "--replay shows a recorded game; it cannot go with --host or --join";

    const bool headless = out.mode == CommandLine::Mode::Headless;
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
           "\n"
           "  --help             show this help and exit\n"
           "  --version          show the version and exit\n"
           "\n"
           "Bad options exit with status 2.\n";
}

std::string versionText() { return std::string("hopshot ") + HOPSHOT_VERSION + "\n"; }

}  // namespace hopshot
