// The command line: the window's check marks and screen, a headless run, network play. Plain
// standard C++ with no Qt in it: it is read before any window or display is asked for.
#pragma once

#include "play/script.h"

#include <array>
#include <string>
#include <vector>

namespace hopshot {


// The check marks the window's menu starts with. The defaults are the menu's own.
struct WindowPresets {
    std::array<bool, 4> players{true, false, false, false};   // "１Ｐ".."４Ｐ"
    bool playersGiven = false;   // --players was given (a guest without it takes a free player)
    bool liveCamera = true;
    bool smallScreen = false;
    bool simpleDisplay = false;
    bool wireframe = false;
};

// How the window shows the game: none of it touches the rules or what they draw.
struct ScreenOptions {
    double scale = 1;         // the window opens this many times 640 x 480 (0.5 to 8)
    bool scaleGiven = false;  // --scale was given: it wins over the size of the last run
    bool fullScreen = false;  // opens full screen (F11 toggles it)
    int renderRows = 0;       // rows of the 480-row picture the 3D view is drawn at; 0: automatic
    bool calm = false;        // the red flash and the light's flicker at a third of their change
};

struct CommandLine {
    enum class Mode { Window, Headless, Help, Version };
    Mode mode = Mode::Window;
    WindowPresets presets;              // Window only
    bool sound = true;                  // Window only: false plays every bank silently
    ScreenOptions screen;               // Window only
    std::string script;                 // Headless: the replay script to run
    std::string trace;                  // where the state trace goes; empty = none
    std::string record;                 // Window: the file the whole run is recorded to
    std::string replay;                 // Window: the recording to show instead of playing
    std::string dir;                    // Headless: the program directory; empty = current
    long steps = kDefaultStepLimit;     // Headless: the step limit
    bool stepsGiven = false;            // --steps was given: it bounds every game, ticks or not

    // Network play, in the window or headless.
    enum class Net { None, Host, Join };
    Net net = Net::None;
    std::string address;                // Join: the host's address; empty: find it on the LAN
    std::string code;                   // Join: the host's invite code instead
    std::string meet;                   // the meeting service's HOST[:PORT]; empty: the build's
    int port = 7310;                    // Host: the port to open; Join: the host's port
    int delay = 0;                      // plain lockstep delay in steps, 1..10; 0: predict
    int machines = 2;                   // headless host: machines to wait for, itself included
};

// Parses the arguments after the program's name. Returns what is wrong with them, or an empty
// string when they are good. --help and --version win over anything else on the line.
std::string parseCommandLine(const std::vector<std::string>& args, CommandLine& out);

std::string usageText();     // every option, one line each
std::string versionText();   // "hopshot" and the version, one line

}  // namespace hopshot
