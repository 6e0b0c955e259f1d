// The program's own folder, its assets, and whether it is installed: where it may write.
#pragma once

#include <string>

namespace hopshot {

// Where the program stands. As built, its meshes, waves and title picture are beside it, and so
// is what it writes. Installed (the assets in ../share/hopshot, or in ../share/games/hopshot as
// Debian keeps a game's data beside /usr/games), it writes only in the data home:
// its own folder may be one on the PATH, and even where the player can write there, a high-score
// file does not belong among programs. Found neither way, the assets are looked for beside it
// all the same, where each missing file is named.
struct ProgramPlace {
    std::string dir;      // the program's own folder
    std::string assets;   // its meshes, waves and title picture
    bool installed = false;
};

// Read from /proc/self/exe.
ProgramPlace programPlace();

// The same for a program in dir ("." when empty).
ProgramPlace programPlaceOf(const std::string& dir);

// The folder the program keeps its own data in, wherever it is installed: $XDG_DATA_HOME/hopshot
// when that is an absolute path, else ~/.local/share/hopshot. Empty when neither variable says
// where.
std::string dataHome();

}  // namespace hopshot
