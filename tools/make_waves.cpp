// make_waves: synthesises the game's eight sound effects and writes them as WAV files.
//
//   cmake --build <dir> --target make_waves && <dir>/tools/make_waves assets
//   (or: g++ -std=c++20 -O2 tools/make_waves.cpp -o make_waves && ./make_waves assets)
//
// Run it from the repository's top and commit what it writes: gun.wav, hit.wav, gold.wav,
// dam.wav, gun2.wav, bomb.wav, hit2.wav and time.wav. Every file is in the game's one effect
// format: PCM, unsigned 8 bits, 2 channels, 22050 samples a second. The noise comes from a
// fixed-seed generator, so running it again without a change here rewrites the same bytes.
//
// Each effect is built from a few layers (pitch-swept tones, filtered noise bursts, partials of a
// bell), each under its own envelope, then finished alike: the DC taken out, a short fade at each
// end so that no play starts or stops with a click, the peak brought to just under full scale,
// and a dither that fades with the sound so that the tails stay smooth in 8 bits.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 22050;                 // samples a second
constexpr double kPi = 3.14159265358979323846;
constexpr double kPeak = 0.9;                // of full scale, after the finish
constexpr double kFadeInSeconds = 0.002;
constexpr double kFadeOutSeconds = 0.025;

using Track = std::vector<double>;

struct Stereo {
    Track l, r;
};

Track silence(double seconds) { return Track(size_t(seconds * kRate), 0.0); }
double timeAt(size_t i) { return double(i) / kRate; }

// One generator for all the noise, seeded once: the files come out the same on every run.
std::mt19937& generator() {
    static std::mt19937 g(20240521u);
    return g;
}
double noise() { return std::uniform_real_distribution<double>(-1.0, 1.0)(generator()); }

// exp-shaped decay reaching 1/e after `tau` seconds, with a linear attack of `attack` seconds
double envelope(double t, double attack, double tau) {
    if (t < 0) return 0;
    const double a = attack > 0 ? std::min(1.0, t / attack) : 1.0;
    return a * std::exp(-t / tau);
}

// an exponential glide from f0 to f1 over `seconds`, then held at f1
double glide(double t, double f0, double f1, double seconds) {
    return f0 * std::pow(f1 / f0, std::clamp(t / seconds, 0.0, 1.0));
}

// A biquad (RBJ cookbook) whose coefficients may change every sample, for swept filters.
class Biquad {
public:
    enum class Kind { LowPass, HighPass, BandPass };
    explicit Biquad(Kind kind) : kind_(kind) {}

    double step(double x, double freq, double q) {
        freq = std::clamp(freq, 10.0, kRate * 0.45);
        const double w = 2 * kPi * freq / kRate;
        const double alpha = std::sin(w) / (2 * q);
        const double c = std::cos(w);
        double b0, b1, b2;
        switch (kind_) {
        case Kind::LowPass: b0 = (1 - c) / 2; b1 = 1 - c; b2 = (1 - c) / 2; break;
        case Kind::HighPass: b0 = (1 + c) / 2; b1 = -(1 + c); b2 = (1 + c) / 2; break;
        default: b0 = alpha; b1 = 0; b2 = -alpha; break;   // band-pass, 0 dB at the centre
        }
        const double a0 = 1 + alpha, a1 = -2 * c, a2 = 1 - alpha;
        const double y = (b0 * x + b1 * x1_ + b2 * x2_ - a1 * y1_ - a2 * y2_) / a0;
        x2_ = x1_; x1_ = x;
        y2_ = y1_; y1_ = y;
        return y;
    }

private:
    Kind kind_;
    double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

// A sine oscillator whose frequency may change every sample.
class Osc {
public:
    explicit Osc(double phase = 0) : phase_(phase) {}
    double sine(double freq) { return std::sin(advance(freq)); }
    // A sawtooth made of its harmonics below the top of the band: bright without aliasing.
    double saw(double freq) {
        const double p = advance(freq);
        double s = 0;
        for (int k = 1; k * freq < kRate * 0.45 && k <= 40; ++k) s += std::sin(k * p) / k;
        return s * (2 / kPi);
    }
    // A square of odd harmonics, band-limited the same way.
    double square(double freq) {
        const double p = advance(freq);
        double s = 0;
        for (int k = 1; k * freq < kRate * 0.45 && k <= 39; k += 2) s += std::sin(k * p) / k;
        return s * (4 / kPi);
    }

private:
    double advance(double freq) {
        const double p = phase_;
        phase_ = std::fmod(phase_ + 2 * kPi * freq / kRate, 2 * kPi);
        return p;
    }
    double phase_;
};

// Slowly wandering random level in -1..1, changing about `rate` times a second (for rumble).
class Wander {
public:
    explicit Wander(double rate) : lp_(Biquad::Kind::LowPass), rate_(rate) {}
    double step() { return std::clamp(lp_.step(noise(), rate_, 0.7) * 4.0, -1.0, 1.0); }

private:
    Biquad lp_;
    double rate_;
};

void mixInto(Track& out, const Track& in, double gain = 1.0, double at = 0.0) {
    const size_t start = size_t(at * kRate);
    if (out.size() < start + in.size()) out.resize(start + in.size(), 0.0);
    for (size_t i = 0; i < in.size(); ++i) out[start + i] += gain * in[i];
}

Track render(double seconds, const std::function<double(double)>& sample) {
    Track t = silence(seconds);
    for (size_t i = 0; i < t.size(); ++i) t[i] = sample(timeAt(i));
    return t;
}

double softClip(double x, double drive) { return std::tanh(x * drive) / std::tanh(drive); }

// ---------------------------------------------------------------------------------------------
// The effects.

// A cannon shot: a bright crack, a thump that drops from 170 to 45 Hz, and a darkening tail of
// noise, lightly driven for punch.
Stereo gunShot() {
    Biquad crackHp(Biquad::Kind::HighPass), tailLp(Biquad::Kind::LowPass);
    Biquad bodyLp(Biquad::Kind::LowPass);
    Osc body;
    Track t = render(0.55, [&](double s) {
        const double crack = crackHp.step(noise(), 1800, 0.7) * envelope(s, 0.0005, 0.012);
        const double thump = body.sine(glide(s, 170, 45, 0.16)) * envelope(s, 0.002, 0.09);
        const double tail =
            tailLp.step(noise(), glide(s, 3500, 250, 0.35), 0.9) * envelope(s, 0.004, 0.13);
        const double grit = bodyLp.step(noise(), 900, 2.0) * envelope(s, 0.001, 0.04);
        return softClip(0.9 * crack + 1.1 * thump + 0.9 * tail + 0.5 * grit, 1.8);
    });
    return {t, t};
}

// A squishy pop: a blip that bends up then falls, a wet band of noise sweeping down with a
// wobble, and a small low body.
Stereo hitPop() {
    Biquad squish(Biquad::Kind::BandPass);
    Osc pop, low;
    Track t = render(0.28, [&](double s) {
        const double f = s < 0.012 ? glide(s, 320, 950, 0.012) : glide(s - 0.012, 950, 180, 0.11);
        const double blip = pop.sine(f) * envelope(s, 0.001, 0.05);
        const double wobble = 0.6 + 0.4 * std::sin(2 * kPi * 38 * s);
        const double wet = squish.step(noise(), glide(s, 2600, 380, 0.16), 3.5) * wobble *
                           envelope(s, 0.003, 0.07) * 2.2;
        const double thud = low.sine(glide(s, 150, 70, 0.08)) * envelope(s, 0.002, 0.045);
        return blip + wet + 0.7 * thud;
    });
    return {t, t};
}

// A splat, the other kill sound: a resonant noise band that opens up and closes again, a dull
// thud and a warbling blip that sinks, longer and lower than the pop.
Stereo hitSplat() {
    Biquad splat(Biquad::Kind::LowPass), hiss(Biquad::Kind::BandPass);
    Osc thud, blip;
    Track t = render(0.34, [&](double s) {
        const double cutoff =
            s < 0.03 ? glide(s, 500, 3200, 0.03) : glide(s - 0.03, 3200, 300, 0.2);
        const double wet = splat.step(noise(), cutoff, 6.0) * envelope(s, 0.004, 0.09) * 0.8;
        const double drops = hiss.step(noise(), 4200, 2.0) * envelope(s - 0.015, 0.002, 0.02) * 0.9;
        const double body = thud.sine(glide(s, 120, 55, 0.1)) * envelope(s, 0.002, 0.06);
        const double vib = 1 + 0.08 * std::sin(2 * kPi * 22 * s);
        const double tone =
            blip.square(glide(s, 640, 140, 0.2) * vib) * envelope(s, 0.005, 0.07) * 0.35;
        return softClip(wet + drops + body + tone, 1.4);
    });
    return {t, t};
}

// The gold hopper: a rising arpeggio of bell tones (C6 E6 G6 C7), then a shimmer over the last,
// each note a little to one side and then the other.
Stereo goldChime() {
    Stereo out{silence(1.0), silence(1.0)};
    const double notes[] = {1046.5, 1318.5, 1568.0, 2093.0};
    const double step = 0.075;   // seconds between notes
    for (int n = 0; n < 4; ++n) {
        const double f = notes[n];
        const double length = 1.0 - n * step;
        Osc p1, p2, p3, p4;
        Track note = render(length, [&](double s) {
            // a bell: the fundamental rings longest, the inharmonic upper partials die fast
            const double top = 4.2 * f < kRate * 0.45 ? p4.sine(4.2 * f) : 0.0;
            return p1.sine(f) * envelope(s, 0.002, 0.28) +
                   0.45 * p2.sine(2 * f) * envelope(s, 0.001, 0.12) +
                   0.2 * p3.sine(3.01 * f) * envelope(s, 0.001, 0.06) +
                   0.12 * top * envelope(s, 0.0005, 0.025);
        });
        const double pan = (n % 2 == 0) ? -0.25 : 0.25;
        mixInto(out.l, note, 0.5 * (1 - pan), n * step);
        mixInto(out.r, note, 0.5 * (1 + pan), n * step);
    }
    Osc a, b;
    Track shimmer = render(0.55, [&](double s) {
        const double trem = 0.5 + 0.5 * std::sin(2 * kPi * 14 * s);
        return (a.sine(3136.0) + 0.6 * b.sine(4186.0)) * trem * envelope(s, 0.03, 0.15) * 0.18;
    });
    mixInto(out.l, shimmer, 1.0, 3 * step + 0.02);
    mixInto(out.r, shimmer, 1.0, 3 * step + 0.02);
    return out;
}

// Damage: a heavy low thud under a crunch of coarse, held noise, the clang of struck armour
// (inharmonic partials that die fast) and a clipped buzz that sinks.
Stereo damageCrunch() {
    Biquad crunchLp(Biquad::Kind::LowPass);
    Osc thud, buzz;
    struct Partial { double freq, gain, tau; Osc osc; };
    Partial clang[] = {{310, 1.0, 0.10, Osc()}, {747, 0.7, 0.07, Osc()}, {1163, 0.5, 0.05, Osc()},
                       {1789, 0.35, 0.035, Osc()}, {2430, 0.25, 0.025, Osc()}};
    double held = 0;
    int holdLeft = 0;
    Track t = render(0.5, [&](double s) {
        // the crunch: noise held for a few samples at a time, as if sampled coarsely
        if (holdLeft-- <= 0) {
            held = noise();
            holdLeft = 3 + int(s * 40);
        }
        const double crunch =
            crunchLp.step(held, glide(s, 5000, 700, 0.25), 0.8) * envelope(s, 0.001, 0.08);
        const double body = thud.sine(glide(s, 95, 38, 0.2)) * envelope(s, 0.003, 0.12) * 1.2;
        const double rasp =
            softClip(buzz.square(glide(s, 80, 45, 0.3)), 2.5) * envelope(s, 0.004, 0.1) * 0.35;
        double metal = 0;
        for (Partial& p : clang) metal += p.gain * p.osc.sine(p.freq) * envelope(s, 0.001, p.tau);
        return softClip(crunch + body + rasp + 0.8 * metal, 2.2);
    });
    return {t, t};
}

// The charged shot: a short rising charge, then two detuned saws sweeping down through a
// resonant filter that follows them, with a fast vibrato: an energy zap.
Stereo chargedZap() {
    Biquad lp(Biquad::Kind::LowPass), lp2(Biquad::Kind::LowPass);
    Osc sawA, sawB, charge, sub;
    const double chargeTime = 0.06;
    Track t = render(0.62, [&](double s) {
        const double rise = s < chargeTime ? charge.sine(glide(s, 400, 2400, chargeTime)) *
                                                 std::min(1.0, s / 0.01) * (1 - s / chargeTime) *
                                                 0.6
                                           : 0.0;
        const double z = std::max(0.0, s - chargeTime * 0.7);
        const double vib = 1 + 0.04 * std::sin(2 * kPi * 31 * z);
        const double f = glide(z, 1900, 130, 0.45) * vib;
        const double saws = 0.5 * (sawA.saw(f) + sawB.saw(f * 1.013));
        const double cutoff = std::min(f * 4.0, 9000.0);
        const double zap =
            lp.step(lp2.step(saws, cutoff, 0.9), cutoff, 3.0) * envelope(z, 0.004, 0.17);
        const double low = sub.sine(f * 0.5) * envelope(z, 0.01, 0.12) * 0.35;
        return rise + zap + low;
    });
    return {t, t};
}

// The bomb: a crack, then a long roar of darkening noise that rolls and rumbles for nearly two
// seconds over a deep falling thump; each side has its own noise, so it fills the stereo field.
Stereo bombBlast() {
    const double length = 1.9;
    Osc thump;
    Track deep = render(length, [&](double s) {
        return thump.sine(glide(s, 70, 28, 0.6)) * envelope(s, 0.004, 0.45);
    });
    Wander roll(9.0);
    Track rolling = render(length, [&](double) { return roll.step(); });   // shared by both sides
    auto side = [&]() {
        Biquad crackHp(Biquad::Kind::HighPass), rumbleLp(Biquad::Kind::LowPass);
        Biquad roarLp(Biquad::Kind::LowPass), roarLp2(Biquad::Kind::LowPass);
        Track t = silence(length);
        for (size_t i = 0; i < t.size(); ++i) {
            const double s = timeAt(i);
            const double crack = crackHp.step(noise(), 1500, 0.7) * envelope(s, 0.0005, 0.02) * 1.2;
            const double cut = glide(s, 4500, 160, 1.2);
            const double roar = roarLp.step(roarLp2.step(noise(), cut, 0.7), cut, 0.9) *
                                envelope(s, 0.01, 0.55) * (0.75 + 0.25 * rolling[i]) * 1.8;
            const double rumble = rumbleLp.step(noise(), 90, 1.2) * envelope(s, 0.05, 0.7) *
                                  (0.6 + 0.4 * rolling[i]) * 3.0;
            t[i] = softClip(crack + roar + rumble + 0.9 * deep[i], 1.6);
        }
        return t;
    };
    Track l = side();
    Track r = side();
    return {l, r};
}

// A countdown tick: a short wooden knock with a clear blip over it, so it is heard over a game.
Stereo clockTick() {
    Biquad knock(Biquad::Kind::BandPass);
    Osc tone, upper, wood;
    Track t = render(0.16, [&](double s) {
        const double click = knock.step(noise(), 3000, 5.0) * envelope(s, 0.0003, 0.004) * 2.5;
        const double body = wood.sine(glide(s, 900, 700, 0.02)) * envelope(s, 0.0005, 0.012) * 0.8;
        const double blip =
            (tone.sine(1760) + 0.3 * upper.sine(3520)) * envelope(s, 0.002, 0.04) * 0.6;
        return click + body + blip;
    });
    return {t, t};
}

// ---------------------------------------------------------------------------------------------
// The finish and the file.

// DC out, faded in and out, peak at kPeak, then to unsigned 8 bits with a dither that follows the
// sound's own level down to nothing, so the last samples are exact silence (128).
std::vector<uint8_t> finish(Stereo s) {
    const size_t n = std::max(s.l.size(), s.r.size());
    s.l.resize(n, 0.0);
    s.r.resize(n, 0.0);
    for (Track* ch : {&s.l, &s.r}) {
        // one-pole DC blocker at about 20 Hz
        double x1 = 0, y1 = 0;
        const double r = 1 - 2 * kPi * 20 / kRate;
        for (double& v : *ch) {
            const double y = v - x1 + r * y1;
            x1 = v;
            y1 = y;
            v = y;
        }
        const size_t in = size_t(kFadeInSeconds * kRate), out = size_t(kFadeOutSeconds * kRate);
        for (size_t i = 0; i < in && i < n; ++i) (*ch)[i] *= 0.5 - 0.5 * std::cos(kPi * i / in);
        for (size_t i = 0; i < out && i < n; ++i)
            (*ch)[n - 1 - i] *= 0.5 - 0.5 * std::cos(kPi * i / out);
    }
    double peak = 0;
    for (size_t i = 0; i < n; ++i) peak = std::max({peak, std::abs(s.l[i]), std::abs(s.r[i])});
    const double gain = peak > 0 ? kPeak * 127.0 / peak : 0.0;

    std::vector<uint8_t> bytes(n * 2);
    std::mt19937 ditherGen(7u);
    std::uniform_real_distribution<double> half(-0.5, 0.5);
    double level = 0;   // the sound's recent level, in 8-bit steps
    for (size_t i = 0; i < n; ++i) {
        const double a = s.l[i] * gain, b = s.r[i] * gain;
        level = std::max(std::max(std::abs(a), std::abs(b)), level * 0.999);
        const double d = std::min(1.0, level / 4.0);   // full dither while the sound is clear
        for (int c = 0; c < 2; ++c) {
            const double v = (c == 0 ? a : b) + d * (half(ditherGen) + half(ditherGen));
            bytes[i * 2 + c] = uint8_t(std::clamp(128 + std::lround(v), 1L, 255L));
        }
    }
    // the fades end at exact silence
    for (size_t i = 0; i < 2 && i < n; ++i) {
        bytes[i * 2] = bytes[i * 2 + 1] = 128;
        bytes[(n - 1 - i) * 2] = bytes[(n - 1 - i) * 2 + 1] = 128;
    }
    return bytes;
}

// little-endian, as RIFF wants
void put16(std::string& out, uint16_t v) {
    out.push_back(char(v & 0xff));
    out.push_back(char(v >> 8));
}
void put32(std::string& out, uint32_t v) {
    put16(out, uint16_t(v & 0xffff));
    put16(out, uint16_t(v >> 16));
}

// RIFF WAVE: the format, the samples, and a note naming this tool in a LIST INFO comment.
bool writeWave(const std::string& path, const std::vector<uint8_t>& samples) {
    const std::string note = "generated by tools/make_waves; do not edit";
    std::string comment = note;
    comment.push_back('\0');
    if (comment.size() % 2) comment.push_back('\0');
    std::string list = "INFO";
    list += "ICMT";
    put32(list, uint32_t(comment.size()));
    list += comment;

    std::string f = "RIFF";
    const size_t dataChunk = 8 + samples.size() + samples.size() % 2;
    put32(f, uint32_t(4 + (8 + 16) + dataChunk + (8 + list.size())));
    f += "WAVE";
    f += "fmt ";
    put32(f, 16);
    put16(f, 1);          // PCM
    put16(f, 2);          // channels
    put32(f, kRate);
    put32(f, kRate * 2);  // bytes a second
    put16(f, 2);          // bytes a sample frame
    put16(f, 8);          // bits a sample
    f += "data";
    put32(f, uint32_t(samples.size()));
    f.append(samples.begin(), samples.end());
    if (samples.size() % 2) f.push_back('\x80');
    f += "LIST";
    put32(f, uint32_t(list.size()));
    f += list;

    std::ofstream out(path, std::ios::binary);
    out.write(f.data(), std::streamsize(f.size()));
    return bool(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_waves DIRECTORY\n");
        return 2;
    }
    const std::string dir = argv[1];
    struct Effect {
        const char* file;
        Stereo (*make)();
    };
    const Effect effects[] = {
        {"gun.wav", gunShot},       {"hit.wav", hitPop},     {"gold.wav", goldChime},
        {"dam.wav", damageCrunch},  {"gun2.wav", chargedZap}, {"bomb.wav", bombBlast},
        {"hit2.wav", hitSplat},     {"time.wav", clockTick},
    };
    for (const Effect& e : effects) {
        const std::vector<uint8_t> bytes = finish(e.make());
        const std::string path = dir + "/" + e.file;
        if (!writeWave(path, bytes)) {
            std::fprintf(stderr, "make_waves: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s: %.2f s\n", path.c_str(), bytes.size() / 2.0 / kRate);
    }
    return 0;
}
