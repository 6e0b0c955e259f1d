// The last games kept, each a replay script of its own, so that a great game is never lost:
// a folder of files named by the date and time the game ended and its score, the oldest removed
// once there are more than the folder keeps.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace hopshot {

constexpr int kKeptGames = 20;

// "replays" in the data home (see dataHome). Empty when there is no data home.
std::string keptGamesDir();

// "2026-12-07_110533_score_1234.replay" for a game that ended at local time `when`. `repeat` > 1
// tells apart games that ended in the same second ("..._110533-2_score_...").
std::string keptGameName(std::time_t when, int32_t score, int repeat = 1);

// The kept games in `dir`, oldest first. Other files in the folder are no kept games.
std::vector<std::string> keptGames(const std::string& dir);

// Writes `text` as a new kept game (making the folder when needed), then removes the oldest
// kept games beyond `keep`. On failure returns false and `error` says why; *written gets the
// path of the new file.
bool keepGame(const std::string& dir, const std::string& text, std::time_t when, int32_t score,
              int keep, std::string& error, std::string* written = nullptr);

// Removes what a program cut off while keeping a game (a kill) left in `dir`: the half-written
// ".writing-" files. Run at start. Only those untouched for a minute: another program may be
// keeping a game there at this moment. Returns how many.
int removeWritingLeftovers(const std::string& dir);

}  // namespace hopshot
