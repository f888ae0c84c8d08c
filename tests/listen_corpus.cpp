#include "listen_corpus.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace tempocalc::corpus {

namespace {

constexpr double twoPi = 2 * std::numbers::pi;

// Our own generator and distributions: the standard library's distributions may differ
// between implementations, and a piece must be the same everywhere.
class Random {
public:
    Random(std::uint64_t seed, std::uint64_t stream)
        : state_(seed * 0x9e3779b97f4a7c15ULL + stream * 0xbf58476d1ce4e5b9ULL + 1) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double between(double low, double high) { return low + (high - low) * uniform(); }
    double normal() {
        if (spare_) {
            spare_ = false;
            return spareValue_;
        }
        const double u = std::max(uniform(), 1e-300), v = uniform();
        const double r = std::sqrt(-2 * std::log(u));
        spareValue_ = r * std::sin(twoPi * v);
        spare_ = true;
        return r * std::cos(twoPi * v);
    }

private:
    std::uint64_t state_;
    bool spare_ = false;
    double spareValue_ = 0;
};

// A second-order section (RBJ's cookbook), for the noise of the snare and the hats.
class Biquad {
public:
    static Biquad bandPass(double rate, double hz, double q) {
        const double w = twoPi * hz / rate, alpha = std::sin(w) / (2 * q);
        return Biquad(alpha, 0, -alpha, 1 + alpha, -2 * std::cos(w), 1 - alpha);
    }
    static Biquad highPass(double rate, double hz, double q) {
        const double w = twoPi * hz / rate, alpha = std::sin(w) / (2 * q), c = std::cos(w);
        return Biquad((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha);
    }
    double operator()(double x) {
        const double y = b0_ * x + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
        x2_ = x1_;
        x1_ = x;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    Biquad(double b0, double b1, double b2, double a0, double a1, double a2)
        : b0_(b0 / a0), b1_(b1 / a0), b2_(b2 / a0), a1_(a1 / a0), a2_(a2 / a0) {}
    double b0_, b1_, b2_, a1_, a2_;
    double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

enum class Voice { kick, snare, hat, openHat, bass, pad };

struct Note {
    Voice voice;
    double time;       // seconds
    double level;      // linear
    double hz = 0;     // bass and pad
    double length = 0; // bass and pad: until the release (seconds)
};

// One cycle of a mellow tone (five harmonics falling off), read with interpolation.
class Table {
public:
    Table() {
        for (std::size_t i = 0; i < size; ++i) {
            double v = 0;
            for (int h = 1; h <= 5; ++h) {
                v += std::sin(twoPi * h * static_cast<double>(i) / size) / h;
            }
            cycle_[i] = v * 0.6;
        }
        cycle_[size] = cycle_[0];
    }
    double operator()(double phase) const { // phase in cycles, >= 0
        const double x = (phase - std::floor(phase)) * size;
        const auto i = static_cast<std::size_t>(x);
        const double f = x - static_cast<double>(i);
        return cycle_[i] + f * (cycle_[i + 1] - cycle_[i]);
    }

private:
    static constexpr std::size_t size = 2048;
    std::array<double, size + 1> cycle_{};
};

class Renderer {
public:
    Renderer(std::vector<double>& out, double rate, std::uint64_t seed)
        : out_(out), rate_(rate), noise_(seed, 7) {}

    void play(const Note& n) {
        switch (n.voice) {
        case Voice::kick:
            kick(n);
            break;
        case Voice::snare:
            snare(n);
            break;
        case Voice::hat:
        case Voice::openHat:
            hat(n, n.voice == Voice::openHat ? 0.11 : 0.025);
            break;
        case Voice::bass:
            tone(n, 0.004, 0.45, 0.03, 1.0);
            break;
        case Voice::pad:
            // Two voices a few cents apart, a slow attack: sustained, no onset of its own.
            tone(n, 0.15, 1e9, 0.25, 1.0017);
            tone(n, 0.15, 1e9, 0.25, 0.9983);
            break;
        }
    }

private:
    // Calls f(i, t) for each sample from `time` for `seconds`, within the buffer.
    template <class F> void over(double time, double seconds, F f) {
        const auto start = static_cast<std::int64_t>(std::ceil(time * rate_));
        const auto end =
            std::min<std::int64_t>(static_cast<std::int64_t>(out_.size()),
                                   static_cast<std::int64_t>((time + seconds) * rate_));
        for (std::int64_t i = std::max<std::int64_t>(start, 0); i < end; ++i) {
            f(static_cast<std::size_t>(i), static_cast<double>(i) / rate_ - time);
        }
    }

    void kick(const Note& n) {
        double phase = 0;
        over(n.time, 0.4, [&](std::size_t i, double t) {
            const double hz = 48 + 110 * std::exp(-t / 0.025);
            phase += hz / rate_;
            const double env = std::min(1.0, t / 0.0008) * std::exp(-t / 0.11);
            out_[i] += n.level * env * std::sin(twoPi * phase);
        });
    }
    void snare(const Note& n) {
        Biquad band = Biquad::bandPass(rate_, 1800, 0.8);
        over(n.time, 0.3, [&](std::size_t i, double t) {
            const double attack = std::min(1.0, t / 0.0005);
            const double rattle = band(noise_.normal()) * std::exp(-t / 0.07);
            const double body = 0.6 * std::sin(twoPi * 185 * t) * std::exp(-t / 0.035);
            out_[i] += n.level * attack * (rattle + body);
        });
    }
    void hat(const Note& n, double decay) {
        Biquad high = Biquad::highPass(rate_, std::min(7000.0, rate_ * 0.4), 0.7);
        over(n.time, decay * 6, [&](std::size_t i, double t) {
            out_[i] +=
                n.level * std::min(1.0, t / 0.0003) * std::exp(-t / decay) * high(noise_.normal());
        });
    }
    void tone(const Note& n, double attack, double decay, double release, double detune) {
        const double hz = n.hz * detune;
        over(n.time, n.length + release * 5, [&](std::size_t i, double t) {
            double env = std::min(1.0, t / attack) * std::exp(-t / decay);
            if (t > n.length) {
                env *= std::exp(-(t - n.length) / release);
            }
            out_[i] += n.level * env * table_(hz * t);
        });
    }

    std::vector<double>& out_;
    double rate_;
    Random noise_;
    Table table_;
};

// Index of the first beat at or after `time`, at a bar line when `bar`.
std::size_t firstBeatFrom(const std::vector<double>& beats, double time, bool bar) {
    std::size_t k = 0;
    while (k < beats.size() && (beats[k] < time || (bar && k % 4 != 0))) {
        ++k;
    }
    return k;
}

} // namespace

double Piece::bpmAt(double time) const {
    if (beats.empty()) {
        return options.bpm;
    }
    const auto it = std::upper_bound(beats.begin(), beats.end(), time);
    const std::size_t k =
        it == beats.begin() ? 0 : static_cast<std::size_t>(it - beats.begin()) - 1;
    return bpms[std::min(k, bpms.size() - 1)];
}

Piece generate(const PieceOptions& o) {
    Piece piece;
    piece.options = o;
    const auto length = static_cast<std::size_t>(o.seconds * o.sampleRate);
    Random player(o.seed, 1), choice(o.seed, 2), noise(o.seed, 3);

    // Where the beats are: the tempo from beat to beat.
    const double expected = std::max(1.0, (o.seconds - o.firstBeat) * o.bpm / 60);
    bool changed = false;
    for (double t = o.firstBeat; t < o.seconds;) {
        const double k = static_cast<double>(piece.beats.size());
        if (!changed && o.changeAt > 0 && o.changeRatio != 1 && t >= o.changeAt) {
            changed = true;
            piece.changeTime = t;
        }
        const double bpm = o.bpm * (1 + (o.rampRatio - 1) * std::min(1.0, k / expected)) *
                           (changed ? o.changeRatio : 1);
        piece.beats.push_back(t);
        piece.bpms.push_back(bpm);
        t += 60 / bpm;
    }
    const std::vector<double>& beats = piece.beats;
    const std::size_t count = beats.size();
    const auto beatTime = [&](double k) { // k in beats, fractions within a beat
        const auto whole = static_cast<std::size_t>(k);
        const double period = 60 / piece.bpms[std::min(whole, count - 1)];
        return (whole < count ? beats[whole] : beats.back() + period * double(whole - count + 1)) +
               (k - static_cast<double>(whole)) * period;
    };

    std::size_t silenceFrom = count, silenceTo = count;
    if (o.silenceAt > 0) {
        silenceFrom = firstBeatFrom(beats, o.silenceAt, true);
        silenceTo = std::min(count, silenceFrom + static_cast<std::size_t>(o.silenceBeats));
        if (silenceFrom < count) {
            piece.silenceStart = beats[silenceFrom];
            piece.silenceEnd = silenceTo < count ? beats[silenceTo] : o.seconds;
        }
    }
    std::size_t halfFrom = count, halfTo = count;
    if (o.halfTimeAt > 0) {
        halfFrom = firstBeatFrom(beats, o.halfTimeAt, true);
        halfTo = std::min(count, halfFrom + 4 * static_cast<std::size_t>(o.halfTimeBars));
        if (halfFrom < count) {
            piece.halfTimeStart = beats[halfFrom];
            piece.halfTimeEnd = halfTo < count ? beats[halfTo] : o.seconds;
        }
    }

    // The song: a pattern, a loop of four chords (roots in semitones above A1), levels.
    const int pattern = o.pattern >= 0 ? o.pattern % 3 : static_cast<int>(choice.next() % 3);
    constexpr std::array<std::array<int, 4>, 4> loops = {
        {{0, 5, 7, 3}, {0, 8, 3, 10}, {0, 3, 5, 7}, {0, 10, 8, 7}}};
    const auto& loop = loops[choice.next() % loops.size()];
    const double offbeat = o.swing ? 2.0 / 3 : 0.5;
    const auto semitone = [](double s) { return 55 * std::pow(2.0, s / 12); };

    std::vector<Note> notes;
    const auto add = [&](Voice v, double beatPosition, double level, double hz = 0,
                         double length = 0) {
        const double t = beatTime(beatPosition) + player.between(-o.timing, o.timing);
        notes.push_back({v, t, level * player.between(0.85, 1.15), hz, length});
    };
    for (std::size_t bar = 0; bar * 4 < count; ++bar) {
        const std::size_t first = bar * 4;
        if (first >= silenceFrom && first < silenceTo) {
            continue;
        }
        const bool half = first >= halfFrom && first < halfTo;
        const int root = loop[bar % 4];
        const double barSeconds = beatTime(double(first + 4)) - beats[first];
        // The pad holds the bar's chord: a soft change at each bar line.
        for (const int interval : {12, 15 + (root % 2), 19}) {
            add(Voice::pad, double(first), 0.05, semitone(root + interval), barSeconds);
        }
        for (int eighth = 0; eighth < 8; ++eighth) {
            const double at = double(first) + double(eighth / 2) + (eighth % 2 ? offbeat : 0.0);
            const bool even = eighth % 2 == 0;
            bool kick = false, snare = false, hat = false, open = false;
            if (half) {
                kick = eighth == 0;
                snare = eighth == 4;
                hat = even;
            } else if (pattern == 0) {
                kick = eighth == 0 || eighth == 4 || (eighth == 5 && choice.uniform() < 0.3);
                snare = eighth == 2 || eighth == 6;
                hat = true;
            } else if (pattern == 1) {
                kick = even;
                snare = eighth == 2 || eighth == 6;
                open = !even;
            } else {
                kick = eighth == 0 || eighth == 3 || eighth == 5;
                snare = eighth == 2 || eighth == 6;
                hat = true;
            }
            if (kick) {
                add(Voice::kick, at, 0.9);
            }
            if (snare) {
                add(Voice::snare, at, 0.45);
            }
            if (hat) {
                add(Voice::hat, at, even ? 0.16 : 0.1);
            }
            if (open) {
                add(Voice::openHat, at, 0.12);
            }
            // The bass: on one, the and of two, three, and four's fifth (half notes in
            // half time).
            const bool bassHere = half ? (eighth == 0 || eighth == 4)
                                       : (eighth == 0 || eighth == 3 || eighth == 4 || eighth == 6);
            if (bassHere) {
                const double span = barSeconds / (half ? 2.0 : 8.0) * (half ? 0.95 : 1.6);
                add(Voice::bass, at, 0.3, semitone(root + (eighth == 6 ? 7 : 0)), span);
            }
        }
    }

    std::vector<double> music(length, 0.0);
    Renderer renderer(music, o.sampleRate, o.seed);
    for (const Note& n : notes) {
        renderer.play(n);
    }
    // The band stops dead at the silence: nothing rings into it.
    if (piece.silenceStart >= 0) {
        const auto from = static_cast<std::size_t>(piece.silenceStart * o.sampleRate);
        const auto to = std::min(
            length, static_cast<std::size_t>((piece.silenceEnd - o.timing) * o.sampleRate));
        const double fade = 0.02 * o.sampleRate;
        for (std::size_t i = from; i < to; ++i) {
            music[i] *= std::max(0.0, 1 - static_cast<double>(i - from) / fade);
        }
    }

    double power = 0;
    std::size_t playing = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / o.sampleRate;
        if (t >= o.firstBeat && !(t >= piece.silenceStart && t < piece.silenceEnd)) {
            power += music[i] * music[i];
            ++playing;
        }
    }
    const double rms = playing ? std::sqrt(power / static_cast<double>(playing)) : 0;
    const double noiseLevel = rms * std::pow(10.0, -o.snrDb / 20);
    double peak = 1e-9;
    for (double& s : music) {
        s += noiseLevel * noise.normal();
        peak = std::max(peak, std::fabs(s));
    }
    piece.samples.resize(length);
    for (std::size_t i = 0; i < length; ++i) {
        piece.samples[i] = static_cast<float>(music[i] * 0.9 / peak);
    }
    return piece;
}

std::string write(const Piece& piece, const std::string& path, Format format, int channels) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(piece.options.sampleRate);
    info.channels = channels;
    switch (format) {
    case Format::wav16:
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        break;
    case Format::wavFloat:
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        break;
    case Format::flac:
        info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        break;
    }
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        return sf_strerror(nullptr);
    }
    std::vector<float> frames;
    constexpr std::size_t block = 4096;
    for (std::size_t i = 0; i < piece.samples.size(); i += block) {
        const std::size_t n = std::min(block, piece.samples.size() - i);
        frames.clear();
        for (std::size_t j = 0; j < n; ++j) {
            frames.insert(frames.end(), static_cast<std::size_t>(channels), piece.samples[i + j]);
        }
        if (sf_writef_float(file, frames.data(), static_cast<sf_count_t>(n)) !=
            static_cast<sf_count_t>(n)) {
            std::string error = sf_strerror(file);
            sf_close(file);
            return error.empty() ? "short write" : error;
        }
    }
    if (sf_close(file) != 0) {
        return "could not close " + path;
    }
    return {};
}

} // namespace tempocalc::corpus
