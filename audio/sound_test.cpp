#include "audio/sound.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <thread>

#include <unistd.h>

namespace hopshot {
namespace {

// An audio service that only keeps a log of what it was asked. A buffer sounds from its play
// until the test says it has ended.
class FakeAudio : public AudioService {
public:
    std::vector<std::string> log;
    std::set<Buffer> sounding;
    bool deviceFails = false;
    std::set<std::string> missingFiles;
    int duplicatesLeft = 1000;        // duplicates that succeed before one fails
    std::string failingCall;          // "setPan", ...: that call fails
    WaveFormat formatGiven{};
    std::set<Buffer> released;

    bool openDevice() override { log.push_back("open"); return !deviceFails; }
    void closeDevice() override { log.push_back("close"); }
    Buffer createFromFile(const std::string& fileName, const WaveFormat& format) override {
        log.push_back("create " + fileName);
        formatGiven = format;
        if (missingFiles.count(fileName)) return kNoBuffer;
        return next_++;
    }
    Buffer duplicate(Buffer source) override {
        log.push_back("duplicate " + std::to_string(source));
        if (duplicatesLeft-- <= 0) return kNoBuffer;
        return next_++;
    }
    void release(Buffer b) override {
        log.push_back("release " + std::to_string(b));
        released.insert(b);
    }
    bool isPlaying(Buffer b) override { return call("isPlaying", b) && sounding.count(b); }
    bool stop(Buffer b) override { sounding.erase(b); return call("stop", b); }
    bool setPosition(Buffer b, int32_t v) override { return call("setPosition", b, v); }
    bool setVolume(Buffer b, int32_t v) override { return call("setVolume", b, v); }
    bool setPan(Buffer b, int32_t v) override { return call("setPan", b, v); }
    bool setFrequency(Buffer b, int32_t v) override { return call("setFrequency", b, v); }
    bool play(Buffer b) override {
        if (!call("play", b)) return false;
        sounding.insert(b);
        return true;
    }
    std::string lastError() const override { return "the fake said no"; }

    std::vector<std::string> take() {
        std::vector<std::string> out;
        out.swap(log);
        return out;
    }
    // the buffers played, in order
    std::vector<int> plays() const {
        std::vector<int> out;
        for (const std::string& e : log)
            if (e.rfind("play ", 0) == 0) out.push_back(std::stoi(e.substr(5)));
        return out;
    }

private:
    bool call(const std::string& name, Buffer b, int32_t v = INT32_MIN) {
        const std::string value = v == INT32_MIN ? "" : " " + std::to_string(v);
        log.push_back(name + " " + std::to_string(b) + value);
        return name != failingCall;
    }
    Buffer next_ = 100;   // buffer handles need not be small numbers
};

struct Box {
    std::string text, title;
    MessageBoxes::Icon icon;
};

class RecordedBoxes : public MessageBoxes {
public:
    std::vector<Box> shown;
    void show(const std::string& text, const std::string& title, Icon icon) override {
        shown.push_back({text, title, icon});
    }
};

struct Module {
    FakeAudio audio;
    RecordedBoxes boxes;
    Dx7DSndSupport sound{audio, boxes};
    Module() { EXPECT_EQ(sound.initSound(0, 1), -1); }

    // a bank of n whose buffers are 0..n-1 in the log (handles are 100, 101, ...)
    SoundBank bank(int n) {
        SoundBank b = sound.loadBank("x.wav", n);
        audio.log.clear();
        return b;
    }
};

std::vector<int> indexesOf(const SoundBank& b, const std::vector<int>& handles) {
    std::vector<int> out;
    for (int h : handles)
        out.push_back(int(std::find(b.buffers.begin(), b.buffers.end(), h) - b.buffers.begin()));
    return out;
}

TEST(SoundBank, PlaysRotateFromBufferOneAndWrapThroughZero) {
    struct Case { int count, plays; std::vector<int> buffers; };
    const Case cases[] = {
        {4, 5, {1, 2, 3, 0, 1}},
        {1, 3, {0, 0, 0}},
        {9, 10, {1, 2, 3, 4, 5, 6, 7, 8, 0, 1}},
        {2, 3, {1, 0, 1}},
    };
    for (const Case& c : cases) {
        Module m;
        SoundBank b = m.bank(c.count);
        for (int i = 0; i < c.plays; ++i) EXPECT_TRUE(m.sound.playBank(b));
        EXPECT_EQ(indexesOf(b, m.audio.plays()), c.buffers) << "bank of " << c.count;
        EXPECT_EQ(b.next, c.buffers.back());
    }
}

TEST(SoundBank, OnlyABufferStillSoundingIsStoppedAndRewoundThenTheControlsResetInOrder) {
    struct Case { bool sounding; std::vector<std::string> calls; };
    const Case cases[] = {
        {false, {"isPlaying 101", "setVolume 101 0", "setPan 101 0", "setFrequency 101 0",
                 "play 101"}},
        {true, {"isPlaying 101", "stop 101", "setPosition 101 0", "setVolume 101 0", "setPan 101 0",
                "setFrequency 101 0", "play 101"}},
    };
    for (const Case& c : cases) {
        Module m;
        SoundBank b = m.bank(4);
        if (c.sounding) m.audio.sounding.insert(101);
        m.sound.playBank(b);
        EXPECT_EQ(m.audio.take(), c.calls) << (c.sounding ? "sounding" : "silent");
    }
}

TEST(SoundBank, ABankOfOnePlayedAgainWhileSoundingIsCutOffAndRestarted) {
    Module m;
    SoundBank b = m.bank(1);
    m.sound.playBank(b);
    m.audio.log.clear();
    m.sound.playBank(b);   // the first play has not ended
    EXPECT_EQ(m.audio.take(),
              (std::vector<std::string>{"isPlaying 100", "stop 100", "setPosition 100 0",
                                        "setVolume 100 0", "setPan 100 0", "setFrequency 100 0",
                                        "play 100"}));
}

TEST(SoundBank, AFailingCallEndsThePlayThereButTheRotationHasMoved) {
    Module m;
    SoundBank b = m.bank(4);
    m.audio.failingCall = "setPan";
    EXPECT_FALSE(m.sound.playBank(b));
    EXPECT_EQ(m.audio.take(),
              (std::vector<std::string>{"isPlaying 101", "setVolume 101 0", "setPan 101 0"}));
    EXPECT_EQ(b.next, 1);
}

TEST(SoundBank, LoadMakesBufferZeroFromTheFileAndTheRestAsItsDuplicates) {
    Module m;
    m.audio.log.clear();
    SoundBank b = m.sound.loadBank("gun.wav", 4);
    EXPECT_EQ(m.audio.take(), (std::vector<std::string>{"create gun.wav", "duplicate 100",
                                                         "duplicate 100", "duplicate 100"}));
    EXPECT_EQ(b.buffers, (std::vector<AudioService::Buffer>{100, 101, 102, 103}));
    EXPECT_EQ(b.count, 4);
    EXPECT_EQ(b.next, 0);
    const WaveFormat& f = m.audio.formatGiven;   // the effects' one format
    EXPECT_EQ(f.formatTag, 1);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.samplesPerSec, 22050u);
    EXPECT_EQ(f.avgBytesPerSec, 44100u);
    EXPECT_EQ(f.blockAlign, 2);
    EXPECT_EQ(f.bitsPerSample, 8);
}

TEST(SoundBank, AFileThatCannotBeLoadedGivesASilentBankAndSaysWhy) {
    Module m;
    m.audio.missingFiles = {"gone.wav"};
    std::string error;
    SoundBank b = m.sound.loadBank("gone.wav", 4, &error);
    EXPECT_TRUE(b.buffers.empty());
    EXPECT_EQ(b.count, 0);
    EXPECT_EQ(error, "the fake said no");
    m.audio.log.clear();
    EXPECT_FALSE(m.sound.playBank(b));
    EXPECT_TRUE(m.audio.log.empty());
}

TEST(SoundBank, AFailedDuplicateGivesBackTheBuffersAlreadyMade) {
    Module m;
    m.audio.duplicatesLeft = 2;
    std::string error;
    SoundBank b = m.sound.loadBank("hit.wav", 9, &error);
    EXPECT_EQ(b.count, 0);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(m.audio.released, (std::set<AudioService::Buffer>{100, 101, 102}));
}

TEST(SoundBank, ReleaseEmptiesEveryBufferAndKeepsCountAndNext) {
    Module m;
    SoundBank b = m.bank(4);
    m.sound.playBank(b);
    m.sound.playBank(b);
    m.sound.releaseBank(b);
    EXPECT_EQ(m.audio.released, (std::set<AudioService::Buffer>{100, 101, 102, 103}));
    EXPECT_EQ(b.buffers, std::vector<AudioService::Buffer>(4, AudioService::kNoBuffer));
    EXPECT_EQ(b.count, 4);
    EXPECT_EQ(b.next, 2);
    m.audio.log.clear();
    EXPECT_FALSE(m.sound.playBank(b));   // nothing left to play
    EXPECT_TRUE(m.audio.plays().empty());
}

TEST(SoundModule, NoDeviceShowsTheWarningThenReleasesAndFails) {
    FakeAudio audio;
    audio.deviceFails = true;
    RecordedBoxes boxes;
    Dx7DSndSupport sound(audio, boxes);
    EXPECT_EQ(sound.initSound(0, 1), 0);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "DirectSoundは利用できません。");
    EXPECT_EQ(boxes.shown[0].title, "");
    EXPECT_EQ(boxes.shown[0].icon, MessageBoxes::Icon::Warning);
    EXPECT_FALSE(sound.deviceReady());
    EXPECT_EQ(sound.waveFormat().samplesPerSec, 0u);   // left as it was
}

TEST(SoundModule, ADeviceOpensWithoutABoxAndClosesOnRelease) {
    Module m;
    EXPECT_TRUE(m.boxes.shown.empty());
    EXPECT_TRUE(m.sound.deviceReady());
    m.sound.releaseSound();
    EXPECT_FALSE(m.sound.deviceReady());
    EXPECT_EQ(m.audio.log.back(), "close");
}

TEST(SoundBanks, AMissingWaveIsNamedInABoxAndOnlyThatBankIsSilent) {
    Module m;
    m.audio.missingFiles = {"snd/gold.wav"};
    SoundBanks banks;
    EXPECT_EQ(banks.loadAll(m.sound, "snd", m.boxes), 7);
    ASSERT_EQ(m.boxes.shown.size(), 1u);
    EXPECT_NE(m.boxes.shown[0].text.find("gold.wav"), std::string::npos);
    const std::vector<int> counts = {4, 9, 0, 4, 4, 1, 9, 1};
    for (int k = 0; k < kSoundBanks; ++k)
        EXPECT_EQ(banks.banks()[size_t(k)].count, counts[size_t(k)]) << k;

    m.audio.log.clear();
    banks.play(2);
    EXPECT_TRUE(m.audio.log.empty());
    banks.play(7);
    banks.play(0);
    EXPECT_EQ(m.audio.plays(),
              (std::vector<int>{banks.banks()[7].buffers[0], banks.banks()[0].buffers[1]}));
}

TEST(SoundBanks, SilentBeforeLoadingAndAfterRelease) {
    Module m;
    SoundBanks banks;
    banks.play(0);   // nothing loaded: nothing to reach
    banks.loadAll(m.sound, "", m.boxes);
    banks.releaseAll();
    m.audio.log.clear();
    for (int k = 0; k < kSoundBanks; ++k) banks.play(k);
    EXPECT_TRUE(m.audio.plays().empty());
}

// ---------------------------------------------------------------------------------------------
// The real device, on SDL's disk and dummy drivers and one that does not exist.

std::filesystem::path assetsDir() {
    if (const char* dir = std::getenv("HOPSHOT_ASSETS")) return dir;
    return std::filesystem::path(__FILE__).parent_path().parent_path() / "assets";
}

std::vector<uint8_t> readAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The wave's samples as SDL reads them (unsigned 8 bits, interleaved).
std::vector<uint8_t> samplesOf(const std::filesystem::path& p) {
    SDL_AudioSpec spec;
    Uint8* data = nullptr;
    Uint32 length = 0;
    if (!SDL_LoadWAV(p.c_str(), &spec, &data, &length)) return {};
    std::vector<uint8_t> out(data, data + length);
    SDL_FreeWAV(data);
    return out;
}

void waitWhilePlaying(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (Mix_Playing(-1) > 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

class RealSound : public ::testing::Test {
protected:
    void useDriver(const char* driver) { setenv("SDL_AUDIODRIVER", driver, 1); }
    void TearDown() override {
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
    }

    std::unique_ptr<AudioService> audio = makeSdlAudio();
    RecordedBoxes boxes;
    Dx7DSndSupport sound{*audio, boxes};
};

TEST_F(RealSound, APlayedBankReachesTheDeviceSampleForSample) {
    const std::filesystem::path out = std::filesystem::temp_directory_path() /
                                      ("hopshot-disk-audio-" + std::to_string(getpid()) + ".raw");
    useDriver("disk");
    setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
    const std::filesystem::path wave = assetsDir() / "gun.wav";
    const std::vector<uint8_t> expected = samplesOf(wave);
    ASSERT_GT(expected.size(), 8000u) << wave;

    ASSERT_EQ(sound.initSound(0, 1), -1) << audio->lastError();
    SoundBank b = sound.loadBank(wave.string(), 4);
    ASSERT_EQ(b.count, 4) << audio->lastError();
    ASSERT_TRUE(sound.playBank(b));
    waitWhilePlaying(std::chrono::seconds(3));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sound.releaseBank(b);
    sound.releaseSound();

    const std::vector<uint8_t> heard = readAll(out);
    std::filesystem::remove(out);
    ASSERT_GT(heard.size(), expected.size());
    // A stretch from the middle of the wave turns up whole in what the device was given: mixed
    // at full volume, centred and at its own rate, a lone play comes out as its own samples.
    const auto middle = expected.begin() + 4000;
    const auto found = std::search(heard.begin(), heard.end(), middle, middle + 4000);
    EXPECT_NE(found, heard.end());
    EXPECT_GT(std::count_if(heard.begin(), heard.end(), [](uint8_t v) { return v != 128; }), 1000);
}

TEST_F(RealSound, TenQuickPlaysOfNineBuffersOverlapNineAtMost) {
    useDriver("dummy");
    ASSERT_EQ(sound.initSound(0, 1), -1) << audio->lastError();
    SoundBank b = sound.loadBank((assetsDir() / "hit.wav").string(), 9);
    ASSERT_EQ(b.count, 9) << audio->lastError();
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(sound.playBank(b));
    EXPECT_EQ(Mix_Playing(-1), 9);
    for (AudioService::Buffer buf : b.buffers) EXPECT_TRUE(audio->isPlaying(buf)) << buf;
    sound.releaseBank(b);
    EXPECT_EQ(Mix_Playing(-1), 0);
    sound.releaseSound();
}

TEST_F(RealSound, BanksShareOneWaveAndEachBufferIsAChannelOfItsOwn) {
    useDriver("dummy");
    ASSERT_EQ(sound.initSound(0, 1), -1) << audio->lastError();
    SoundBank gun = sound.loadBank((assetsDir() / "gun.wav").string(), 4);
    SoundBank gold = sound.loadBank((assetsDir() / "gold.wav").string(), 1);
    ASSERT_EQ(gun.count, 4);
    ASSERT_EQ(gold.count, 1);
    std::set<AudioService::Buffer> channels(gun.buffers.begin(), gun.buffers.end());
    channels.insert(gold.buffers[0]);
    EXPECT_EQ(channels.size(), 5u);
    EXPECT_GE(Mix_AllocateChannels(-1), 5);
    // a channel shows its wave once it has played it
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(sound.playBank(gun));
    ASSERT_TRUE(sound.playBank(gold));
    ASSERT_NE(Mix_GetChunk(gun.buffers[0]), nullptr);
    for (AudioService::Buffer c : gun.buffers)
        EXPECT_EQ(Mix_GetChunk(c), Mix_GetChunk(gun.buffers[0]));
    EXPECT_NE(Mix_GetChunk(gold.buffers[0]), Mix_GetChunk(gun.buffers[0]));
    sound.releaseBank(gun);
    sound.releaseBank(gold);
    sound.releaseSound();
}

TEST_F(RealSound, AnUnreadableWaveIsAFailedLoad) {
    useDriver("dummy");
    ASSERT_EQ(sound.initSound(0, 1), -1) << audio->lastError();
    std::string error;
    SoundBank b = sound.loadBank("/nonexistent/gun.wav", 4, &error);
    EXPECT_EQ(b.count, 0);
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(sound.playBank(b));
    sound.releaseSound();
}

int openDescriptors() {
    return int(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator()));
}

// A short file that is no RIFF wave made the mixer fail without closing it: each such load kept
// a descriptor (and its buffers). Every failed load gives them back.
TEST_F(RealSound, AShortWaveThatIsNoRiffLeavesNoFileOpen) {
    useDriver("dummy");
    ASSERT_EQ(sound.initSound(0, 1), -1) << audio->lastError();
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("hopshot-waves-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const int before = openDescriptors();
    for (int size = 0; size <= 16; ++size) {
        const std::filesystem::path wave = dir / ("short" + std::to_string(size) + ".wav");
        std::ofstream(wave, std::ios::binary) << std::string("NOTAWAVEFILEATALL").substr(0, size_t(size));
        for (int load = 0; load < 3; ++load) {
            std::string error;
            EXPECT_EQ(sound.loadBank(wave.string(), 1, &error).count, 0) << size;
            EXPECT_FALSE(error.empty()) << size;
        }
    }
    EXPECT_EQ(openDescriptors(), before);
    std::filesystem::remove_all(dir);
    sound.releaseSound();
}

TEST_F(RealSound, ADriverThatCannotOpenIsTheNoDevicePath) {
    useDriver("nonexistent");
    EXPECT_EQ(sound.initSound(0, 1), 0);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, kNoSoundDeviceText);
    EXPECT_EQ(boxes.shown[0].icon, MessageBoxes::Icon::Warning);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
    EXPECT_EQ(sound.loadBank((assetsDir() / "gun.wav").string(), 4).count, 0);
}

}  // namespace
}  // namespace hopshot
