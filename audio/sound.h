// The sound module: the game's eight short effects, each a bank of play buffers that share one
// wave's data and are started in rotation, so that several plays of one effect overlap. The module
// works over an abstract audio service (SDL2_mixer in the program, a recording fake in tests) and
// reaches the window only through MessageBoxes, so it needs no window system of its own.
#pragma once

#include "core/host.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hopshot {

// The format the effects are played in: PCM, 2 channels, 22050 samples a second, 8 bits.
struct WaveFormat {
    uint16_t formatTag = 0;        // 1 = PCM
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;       // bytes per sample frame
    uint16_t bitsPerSample = 0;
};

// The sound device and its buffers. A buffer is a handle the service gives out; a duplicate shares
// its source's data. Every operation reports failure by its result and never throws. Units:
// volume in hundredths of a decibel (0 = full, negative quieter), pan -10000 (left) .. 10000
// (right), frequency in Hz (0 = the wave's own rate), position in bytes from the start.
class AudioService {
public:
    using Buffer = int32_t;
    static constexpr Buffer kNoBuffer = -1;

    virtual ~AudioService() = default;
    virtual bool openDevice() = 0;                 // the default device
    virtual void closeDevice() = 0;
    virtual Buffer createFromFile(const std::string& fileName, const WaveFormat& format) = 0;
    virtual Buffer duplicate(Buffer source) = 0;
    virtual void release(Buffer buffer) = 0;       // an empty handle is ignored
    virtual bool isPlaying(Buffer buffer) = 0;     // the buffer's status: still sounding
    virtual bool stop(Buffer buffer) = 0;
    virtual bool setPosition(Buffer buffer, int32_t position) = 0;
    virtual bool setVolume(Buffer buffer, int32_t volume) = 0;
    virtual bool setPan(Buffer buffer, int32_t pan) = 0;
    virtual bool setFrequency(Buffer buffer, int32_t frequency) = 0;
    virtual bool play(Buffer buffer) = 0;          // once, no looping, without waiting
    virtual std::string lastError() const = 0;     // why the last failing operation failed
};

// What the window shows for the sound module. An empty title leaves the window's own name.
class MessageBoxes {
public:
    enum class Icon { Warning, Critical };
    virtual ~MessageBoxes() = default;
    virtual void show(const std::string& text, const std::string& title, Icon icon) = 0;
};

// One effect: `count` play buffers sharing one wave; buffer 0 is made from the file, the others
// are its duplicates. `next` is the buffer started last and cycles through 0..count-1 for the
// life of the program. A bank that could not be loaded has no buffers and count 0: it is silent.
struct SoundBank {
    std::vector<AudioService::Buffer> buffers;
    int16_t count = 0;
    int16_t next = 0;
};


// The banks' files and play buffers, by bank number (SoundBankId).
struct BankFile {
    const char* fileName;
    int32_t buffers;
};
constexpr std::array<BankFile, kSoundBanks> kBankFiles{{
    {"gun.wav", 4},
    {"hit.wav", 9},
    {"gold.wav", 1},
    {"dam.wav", 4},
    {"gun2.wav", 4},
    {"bomb.wav", 1},
    {"hit2.wav", 9},
    {"time.wav", 1},
}};

// The warning shown when no sound device can be opened.
inline constexpr const char* kNoSoundDeviceText = "DirectSoundは利用できません。";

class Dx7DSndSupport {
public:
    Dx7DSndSupport(AudioService& audio, MessageBoxes& boxes) : audio_(audio), boxes_(boxes) {}

    // -1 when the device is ready, 0 when it cannot be opened (after the warning box). The
    // window handle and the cooperative level (1, normal) have no meaning on this platform.
    int16_t initSound(int32_t windowHandle, int32_t level);
    void releaseSound();
    // n buffers sharing the wave of fileName (taken relative to the current directory). On
    // failure: an empty bank, and *error says why.
    SoundBank loadBank(const std::string& fileName, int32_t n, std::string* error = nullptr);
    // Starts the bank's next buffer from the beginning, cutting it off first if it still sounds.
    // False at the first failing call of the service; the rest of the play is then not done.
    bool playBank(SoundBank& b);
    // Lets go of every buffer; count, next and the table itself stay.
    void releaseBank(SoundBank& b);

    bool deviceReady() const { return soundDevice_; }
    const WaveFormat& waveFormat() const { return waveFormat_; }

private:
    AudioService& audio_;
    MessageBoxes& boxes_;
    bool soundDevice_ = false;   // the device is open: from a successful initSound to releaseSound
    WaveFormat waveFormat_{};
};

// "Play bank k" for the game: the eight banks over the sound module. Silent until loadAll, and a
// bank whose wave could not be loaded stays silent.
class SoundBanks : public SoundOut {
public:
    // Loads banks 0 to 7 from dir (empty: the current directory). Each wave that cannot be
    // loaded is named in a warning box. Returns how many banks loaded.
    int loadAll(Dx7DSndSupport& module, const std::string& dir, MessageBoxes& boxes);
    void releaseAll();   // ReleaseBank on banks 0 to 7, in order

    void play(int bank) override;

    std::array<SoundBank, kSoundBanks>& banks() { return soundBanks_; }

private:
    Dx7DSndSupport* module_ = nullptr;
    std::array<SoundBank, kSoundBanks> soundBanks_{};
};

// The sound of a run without a device (--nosound): every play is ignored.
class NoSound : public SoundOut {
public:
    void play(int) override {}
};

// The program's sound device on SDL2_mixer. Opening it brings up SDL's audio (so that a driver
// that cannot start is the no-device path) and mixes at 22050 Hz, unsigned 8-bit, stereo. A
// buffer is a mixer channel of its own; its wave (one Mix_Chunk) is shared by its duplicates.
std::unique_ptr<AudioService> makeSdlAudio();

}  // namespace hopshot
