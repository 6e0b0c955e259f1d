// The command line: menu check marks to start the window with, or a headless replay run.
// Plain standard C++ so that it is tested without a display.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace hopshot {

constexpr long kDefaultStepLimit = 3000;   // frame steps a headless run may take: one whole game

// The check marks the window's menu starts with. The defaults are the menu's own.
struct WindowPresets {
    std::array<bool, 4> players{true, false, false, false};   // "１Ｐ".."４Ｐ"
    bool liveCamera = true;
    bool smallScreen = false;
    bool simpleDisplay = false;
    bool wireframe = false;
};

struct CommandLine {
    enum class Mode { Window, Headless, Help, Version };
    Mode mode = Mode::Window;
    WindowPresets presets;              // Window only
    bool sound = true;                  // Window only: false plays every bank silently
    std::string script;                 // Headless: the replay script to run
    std::string trace;                  // where the state trace goes; empty = none
    std::string record;                 // Window: the file the whole run is recorded to
    std::string replay;                 // Window: the recording to show instead of playing
    std::string dir;                    // Headless: the program directory; empty = current
    long steps = kDefaultStepLimit;     // Headless: the step limit
};

// Parses the arguments after the program's name. Returns what is wrong with them, or an empty
// string when they are good. --help and --version win over anything else on the line.
std::string parseCommandLine(const std::vector<std::string>& args, CommandLine& out);

std::string usageText();     // every option, one line each
std::string versionText();   // "hopshot" and the version, one line

}  // namespace hopshot
