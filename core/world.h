// Every table and scalar of the game, by its own name. The window owns one World for the life
// of the program; the game setup refills most of it at the start of each game and the rules of
// the frame step read and write it directly.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace hopshot {

constexpr int kPlayers = 4;      // players 1..4 are indexes 0..3
constexpr int kHoppers = 21;     // 0..18 ordinary, 19 small, 20 gold
constexpr int kBlood   = 101;    // blood particles
constexpr int kSmallHopper = 19;
constexpr int kGoldHopper  = 20;

constexpr int16_t kIdleX   = -5000;  // x of an idle entry (hopper, projectile, particle, bomb)
constexpr int16_t kTankZ   = -400;   // the row of tanks along the field
constexpr int16_t kTankY   = 20;     // height of a tank's frames
constexpr int16_t kRunning = -1;     // value of `running` while a game runs
constexpr int16_t kFallLimit = -9;   // hoppers and blood: gravity stops at a speed of -10

// x of player p's tank: -300, -100, 100, 300.
constexpr int tankX(int p) { return p * 200 - 300; }

struct World {
    // --- scalars; the setup sets those it names, the rest carry over from game to game ---
    int16_t running = 0;        // -1 while the frame loop runs, else 0
    int32_t lastTick = 0;       // tick count (ms / 20) at the end of the last frame step
    int16_t bloodBudget = 0;    // particles still to launch in the current burst; not reset
    int16_t timeLeft = 0;       // seconds left; 60 at setup
    int16_t flashTimer = 0;     // red-sky flash, player passes left; 0 = none
    int16_t flickerTimer = 0;   // light flicker, player passes left; 0 = none
    int16_t liveCamera = 0;     // copy of "ライブカメラ" at setup, 1 or 0
    int16_t smallScreen = 0;    // copy of "小さい画面" at setup, 1 or 0
    int16_t bombX = 0;          // -5000 = no bomb
    int16_t bombZ = 0;          // 0 while there is no bomb
    int16_t bombSpin = 0;       // degrees 0..360, kept from one bomb to the next
    int32_t score = 0;          // the one score all players share
    int32_t hiScoreSolo = 0;    // best one-player score; kept for the life of the program
    int32_t hiScoreCoop = 0;    // best score divided by the players taking part
    std::string hiNameSolo;     // holders of the two records (UTF-8)
    std::string hiNameCoop;

    // --- per player, 0..3; reset by the setup except shellKind, steerX, steerY ---
    std::array<int16_t, kPlayers> tankHeading{};   // degrees 20..160; 90 = down the field (+z)
    std::array<int16_t, kPlayers> gunElevation{};  // degrees 0..80
    std::array<int16_t, kPlayers> playerIn{};      // 1 = takes part in this game
    std::array<int16_t, kPlayers> shellX{};        // the one projectile; -5000 = none
    std::array<int16_t, kPlayers> shellY{};
    std::array<int16_t, kPlayers> shellZ{};
    std::array<int16_t, kPlayers> shellVX{};       // units a step
    std::array<int16_t, kPlayers> shellVY{};
    std::array<int16_t, kPlayers> shellVZ{};
    std::array<int16_t, kPlayers> shellKind{};     // 0 shell, 1 charged shot
    std::array<int16_t, kPlayers> steerX{};        // -1 left, 0, 1 right
    std::array<int16_t, kPlayers> steerY{};        // -1 up (gun down), 0, 1 down (gun up)
    std::array<int16_t, kPlayers> fireState{};     // 0 idle, 1 pressed, 2 fired and still held
    std::array<int16_t, kPlayers> charge{};        // steps the fire control has been held
    std::array<int16_t, kPlayers> damageTimer{};   // camera-jolt passes left

    // --- hoppers, 0..20; the setup parks them but keeps hopperVY ---
    std::array<int16_t, kHoppers> hopperX{};   // -5000 = idle
    std::array<int16_t, kHoppers> hopperY{};   // height above the ground
    std::array<int16_t, kHoppers> hopperZ{};   // 450 far end .. -450 near end
    std::array<int16_t, kHoppers> hopperVY{};  // units a step, up positive; kept from game to game

    // --- blood particles, 0..100; freed by the setup ---
    std::array<int16_t, kBlood> bloodX{};      // -5000 = free
    std::array<int16_t, kBlood> bloodY{};
    std::array<int16_t, kBlood> bloodZ{};
    std::array<int16_t, kBlood> bloodVX{};     // units a step
    std::array<int16_t, kBlood> bloodVY{};
    std::array<int16_t, kBlood> bloodVZ{};

    bool operator==(const World&) const = default;
};

// Players taking part: the sum of playerIn, worked out afresh wherever it is needed.
int takingPart(const World& w);

}  // namespace hopshot
