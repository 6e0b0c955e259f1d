#include "audio/sound.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <cmath>

namespace hopshot {

namespace {

constexpr uint16_t kPcm = 1;
constexpr uint16_t kEffectChannels = 2;
constexpr uint32_t kEffectRate = 22050;   // samples a second
constexpr uint16_t kEffectBits = 8;

}  // namespace

// The window handle and the level only mattered to a device shared between windows; here the
// device belongs to the program.
int16_t Dx7DSndSupport::initSound(int32_t, int32_t) {
    if (!audio_.openDevice()) {
        boxes_.show(kNoSoundDeviceText, "", MessageBoxes::Icon::Warning);
        releaseSound();
        return 0;
    }
    soundDevice_ = true;
    waveFormat_.formatTag = kPcm;
    waveFormat_.channels = kEffectChannels;
    waveFormat_.samplesPerSec = kEffectRate;
    waveFormat_.bitsPerSample = kEffectBits;
    waveFormat_.blockAlign = kEffectChannels * kEffectBits / 8;
    waveFormat_.avgBytesPerSec = waveFormat_.blockAlign * kEffectRate;
    return -1;
}

void Dx7DSndSupport::releaseSound() {
    if (soundDevice_) audio_.closeDevice();
    soundDevice_ = false;
}

// Buffer 0 holds the wave; the others share its data, so a bank of nine costs one copy.
SoundBank Dx7DSndSupport::loadBank(const std::string& fileName, int32_t n, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return SoundBank{};
    };
    if (n < 1 || n > INT16_MAX) return fail("a bank needs 1 to 32767 buffers");
    SoundBank b;
    b.buffers.assign(size_t(n), AudioService::kNoBuffer);
    b.buffers[0] = audio_.createFromFile(fileName, waveFormat_);
    if (b.buffers[0] == AudioService::kNoBuffer) return fail(audio_.lastError());
    for (int32_t i = 1; i < n; ++i) {
        b.buffers[size_t(i)] = audio_.duplicate(b.buffers[0]);
        if (b.buffers[size_t(i)] == AudioService::kNoBuffer) {
            const std::string why = audio_.lastError();
            releaseBank(b);   // the channels made so far go back to the device
            return fail(why);
        }
    }
    b.count = int16_t(n);
    b.next = 0;
    return b;
}

// The rotation runs first, so the first play after loading uses buffer 1 (0 in a bank of one).
// Only a buffer that still sounds is stopped and rewound; then the three controls go back to
// neutral, whatever anything else left on them, and the buffer plays once.
bool Dx7DSndSupport::playBank(SoundBank& b) {
    if (b.count <= 0 || b.buffers.size() < size_t(b.count)) return false;   // never loaded
    b.next = int16_t((b.next + 1) % b.count);
    const AudioService::Buffer buf = b.buffers[size_t(b.next)];
    if (buf == AudioService::kNoBuffer) return false;   // released
    if (audio_.isPlaying(buf)) {
        if (!audio_.stop(buf)) return false;
        if (!audio_.setPosition(buf, 0)) return false;
    }
    if (!audio_.setVolume(buf, 0)) return false;      // full volume
    if (!audio_.setPan(buf, 0)) return false;         // centre
    if (!audio_.setFrequency(buf, 0)) return false;   // the wave's own rate
    return audio_.play(buf);
}

void Dx7DSndSupport::releaseBank(SoundBank& b) {
    for (AudioService::Buffer& buf : b.buffers) {
        if (buf != AudioService::kNoBuffer) audio_.release(buf);
        buf = AudioService::kNoBuffer;
    }
}

int SoundBanks::loadAll(Dx7DSndSupport& module, const std::string& dir, MessageBoxes& boxes) {
    module_ = &module;
    int loaded = 0;
    for (int k = 0; k < kSoundBanks; ++k) {
        const std::string name = kBankFiles[size_t(k)].fileName;
        const std::string path = dir.empty() ? name : dir + "/" + name;
        std::string error;
        soundBanks_[size_t(k)] = module.loadBank(path, kBankFiles[size_t(k)].buffers, &error);
        if (soundBanks_[size_t(k)].count > 0) {
            ++loaded;
            continue;
        }
        boxes.show("効果音 \"" + name + "\" を読み込めません。\n" + error, "",
                   MessageBoxes::Icon::Warning);
    }
    return loaded;
}

void SoundBanks::releaseAll() {
    if (!module_) return;
    for (SoundBank& b : soundBanks_) module_->releaseBank(b);
}

// An effect that cannot be played is simply not heard: the failure stops here.
void SoundBanks::play(int bank) {
    if (!module_ || bank < 0 || bank >= kSoundBanks) return;
    module_->playBank(soundBanks_[size_t(bank)]);
}

// ---------------------------------------------------------------------------------------------
// The device on SDL2_mixer.

namespace {

constexpr int kMixChunkFrames = 512;   // sample frames mixed at a time: about 23 ms of delay

// hundredths of a decibel (0 = full) to the mixer's 0..MIX_MAX_VOLUME
int mixerVolume(int32_t volume) {
    if (volume >= 0) return MIX_MAX_VOLUME;
    return int(std::lround(MIX_MAX_VOLUME * std::pow(10.0, volume / 2000.0)));
}

// the attenuation of the far side of a pan, in the mixer's 0..255
Uint8 panSide(int32_t pan) {
    return Uint8(std::lround(255 * std::pow(10.0, -std::abs(pan) / 2000.0)));
}

class SdlAudio final : public AudioService {
public:
    ~SdlAudio() override { closeDevice(); }

    bool openDevice() override {
        if (open_) return true;
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            error_ = SDL_GetError();
            return false;
        }
        // No format change allowed: SDL converts for the hardware if it must, and the mixer
        // always works in the effects' own format.
        if (Mix_OpenAudioDevice(int(kEffectRate), AUDIO_U8, kEffectChannels, kMixChunkFrames,
                                nullptr, 0) != 0) {
            error_ = Mix_GetError();
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        open_ = true;
        return true;
    }

    void closeDevice() override {
        if (!open_) return;
        Mix_HaltChannel(-1);
        channels_.clear();   // frees the waves
        Mix_CloseAudio();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        open_ = false;
    }

    // The mixer converts a wave in any other format to the device's, which is the effects' own.
    // The file is opened here rather than by the mixer, which would report a file it cannot open
    // only as a missing source: the player's box then says which file and why. It is closed
    // here too: asked to close it, the mixer leaves a file of 4 to 11 bytes that is no RIFF
    // wave open (and its descriptor) when it fails.
    Buffer createFromFile(const std::string& fileName, const WaveFormat&) override {
        if (!open_) return failed("no sound device");
        SDL_RWops* file = SDL_RWFromFile(fileName.c_str(), "rb");
        if (!file) return failed(SDL_GetError());
        Mix_Chunk* chunk = Mix_LoadWAV_RW(file, 0);
        const std::string why = chunk ? std::string() : Mix_GetError();
        SDL_RWclose(file);
        if (!chunk) return failed(why);
        return claimChannel(std::shared_ptr<Mix_Chunk>(chunk, Mix_FreeChunk));
    }

    Buffer duplicate(Buffer source) override {
        if (!valid(source)) return failed("no such buffer");
        return claimChannel(channels_[size_t(source)].wave);
    }

    void release(Buffer buffer) override {
        if (!valid(buffer)) return;
        Mix_HaltChannel(buffer);
        channels_[size_t(buffer)].wave.reset();   // the last one out frees the wave
    }

    bool isPlaying(Buffer buffer) override { return valid(buffer) && Mix_Playing(buffer) != 0; }

    bool stop(Buffer buffer) override {
        if (!valid(buffer)) return failedCall("no such buffer");
        Mix_HaltChannel(buffer);
        return true;
    }

    // A channel always plays its wave from the start, so a rewind has nothing to do.
    bool setPosition(Buffer buffer, int32_t position) override {
        if (!valid(buffer)) return failedCall("no such buffer");
        if (position != 0) return failedCall("a buffer can only be rewound to its start");
        return true;
    }

    bool setVolume(Buffer buffer, int32_t volume) override {
        if (!valid(buffer)) return failedCall("no such buffer");
        Mix_Volume(buffer, mixerVolume(volume));
        return true;
    }

    // Centre (255, 255) takes the panning effect off the channel altogether.
    bool setPan(Buffer buffer, int32_t pan) override {
        if (!valid(buffer)) return failedCall("no such buffer");
        const Uint8 left = pan > 0 ? panSide(pan) : 255;
        const Uint8 right = pan < 0 ? panSide(pan) : 255;
        if (Mix_SetPanning(buffer, left, right) == 0) return failedCall(Mix_GetError());
        return true;
    }

    // Every wave plays at its own rate; only that can be asked for.
    bool setFrequency(Buffer buffer, int32_t frequency) override {
        if (!valid(buffer)) return failedCall("no such buffer");
        if (frequency != 0) return failedCall("a buffer plays at its wave's own rate only");
        return true;
    }

    bool play(Buffer buffer) override {
        if (!valid(buffer)) return failedCall("no such buffer");
        if (Mix_PlayChannel(buffer, channels_[size_t(buffer)].wave.get(), 0) != buffer)
            return failedCall(Mix_GetError());
        return true;
    }

    std::string lastError() const override { return error_; }

private:
    // One mixer channel per buffer, reserved for it from load to release. A free entry has no wave.
    struct Channel {
        std::shared_ptr<Mix_Chunk> wave;
    };

    bool valid(Buffer buffer) const {
        return open_ && buffer >= 0 && size_t(buffer) < channels_.size() &&
               channels_[size_t(buffer)].wave;
    }

    Buffer failed(const std::string& why) {
        error_ = why;
        return kNoBuffer;
    }
    bool failedCall(const std::string& why) {
        error_ = why;
        return false;
    }

    // Banks are loaded once, at start, so growing the mixer's channel table one at a time is fine.
    Buffer claimChannel(std::shared_ptr<Mix_Chunk> wave) {
        size_t i = 0;
        while (i < channels_.size() && channels_[i].wave) ++i;
        if (i == channels_.size()) {
            channels_.emplace_back();
            if (Mix_AllocateChannels(int(channels_.size())) != int(channels_.size())) {
                channels_.pop_back();
                return failed("the mixer has no more channels");
            }
        }
        channels_[i].wave = std::move(wave);
        Mix_Volume(int(i), MIX_MAX_VOLUME);
        return Buffer(i);
    }

    bool open_ = false;
    std::vector<Channel> channels_;
    std::string error_;
};

}  // namespace

std::unique_ptr<AudioService> makeSdlAudio() { return std::make_unique<SdlAudio>(); }

}  // namespace hopshot
