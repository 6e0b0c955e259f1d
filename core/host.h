// What the game routine needs from the window, and nothing more. The Qt window implements it for
// play; the headless shell implements it on a virtual clock with a replay script; tests fake it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace scene { class Window; }

namespace hopshot {

// The menu items whose check marks the game setup reads.
enum class MenuItem { Player1, Player2, Player3, Player4, LiveCamera, SmallScreen, SimpleDisplay, Wireframe };

enum class Label { Time, Score };   // Label1 (time) and Label2 (score)

enum class RecordKind { Solo, Coop };   // the record a game beat: one player's, or the players' share

class Host {
public:
    virtual ~Host() = default;
    virtual bool checked(MenuItem item) const = 0;
    virtual void setCaption(Label label, const std::string& text) = 0;
    virtual void show3DView() = 0;              // show Picture1, hide Image1
    virtual void showTitle() = 0;               // hide Picture1, show Image1
    virtual void clearWindowSurface() = 0;      // whatever was drawn on the window itself
    virtual scene::Window* picture1() = 0;      // what the clipper binds to; null: no picture
    virtual int32_t tickCount() = 0;            // milliseconds since start-up divided by 20
    // The record prompt ("NewRecord!"): the game is over and waits until the holder's name is
    // given to nameRecord (game/lifecycle.h), the text typed or empty when cancelled, at once or
    // once the player has answered. The game's teardown comes after the answer.
    virtual void askRecordName(RecordKind kind) = 0;
    virtual void stepDone() {}                  // after each frame step, on the front end's clock
};

// The sound banks by number, in the order the window loads them and the rules play them.
enum SoundBankId : int {
    kGunBank = 0,       // "gun.wav": a shell fired
    kHitBank = 1,       // "hit.wav": a hopper killed (even chance with kHit2Bank)
    kGoldBank = 2,      // "gold.wav": the gold hopper killed
    kDamageBank = 3,    // "dam.wav": a hopper reached a tank
    kChargedBank = 4,   // "gun2.wav": a charged shot fired
    kBombBank = 5,      // "bomb.wav": the bomb set off
    kHit2Bank = 6,      // "hit2.wav": a hopper killed, the other half of the chance
    kTimeBank = 7,      // "time.wav": a countdown tick with 1 to 9 seconds left
};
constexpr int kSoundBanks = 8;

// Where "play bank k" goes. The sound module implements it; without a device it is silent.
class SoundOut {
public:
    virtual ~SoundOut() = default;
    virtual void play(int bank) = 0;
};

// Where sounds go when none may be heard (a step run again): each bank is counted, not played.
class MutedSound : public SoundOut {
public:
    void play(int bank) override {
        if (bank >= 0 && bank < kSoundBanks) ++dropped[bank];
    }
    int total() const {
        int n = 0;
        for (int d : dropped) n += d;
        return n;
    }
    std::array<int, kSoundBanks> dropped{};   // by bank
};

}  // namespace hopshot
