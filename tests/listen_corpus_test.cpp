// The corpus that listening's tests and benchmark trust: its beats where the options put
// them, its noise at the level asked, its silence silent but for the noise, the same
// samples for the same seed, and files that read back as written.

#include "listen_corpus.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace tempocalc::corpus {
namespace {

PieceOptions plain(double bpm, double seconds = 20) {
    PieceOptions o;
    o.seed = 3;
    o.bpm = bpm;
    o.seconds = seconds;
    o.firstBeat = 1.1;
    return o;
}

double rms(const Piece& p, double from, double to) {
    const auto a = static_cast<std::size_t>(from * p.options.sampleRate);
    const auto b = std::min(p.samples.size(), static_cast<std::size_t>(to * p.options.sampleRate));
    double sum = 0;
    for (std::size_t i = a; i < b; ++i) {
        sum += double(p.samples[i]) * p.samples[i];
    }
    return b > a ? std::sqrt(sum / double(b - a)) : 0;
}

double db(double ratio) {
    return 20 * std::log10(ratio);
}

TEST(ListenCorpus, BeatsAtTheTempoFromTheFirstBeatToTheEnd) {
    for (const double bpm : {60.0, 123.0, 200.0}) {
        const Piece p = generate(plain(bpm));
        ASSERT_FALSE(p.beats.empty());
        EXPECT_DOUBLE_EQ(p.beats.front(), 1.1);
        EXPECT_LT(p.beats.back(), p.seconds());
        EXPECT_GT(p.beats.back() + 60 / bpm, p.seconds());
        EXPECT_EQ(p.bpms.size(), p.beats.size());
        for (std::size_t k = 1; k < p.beats.size(); ++k) {
            EXPECT_NEAR(p.beats[k] - p.beats[k - 1], 60 / bpm, 1e-9);
        }
        EXPECT_EQ(p.samples.size(), static_cast<std::size_t>(20 * 48000));
    }
}

TEST(ListenCorpus, AHeldChangeFromTheFirstBeatAfterItsTime) {
    PieceOptions o = plain(120, 30);
    o.changeAt = 12.3;
    o.changeRatio = 0.9;
    const Piece p = generate(o);
    ASSERT_GE(p.changeTime, 12.3);
    EXPECT_LT(p.changeTime, 12.3 + 0.5);
    for (std::size_t k = 1; k < p.beats.size(); ++k) {
        const double expected = p.beats[k - 1] < p.changeTime ? 0.5 : 0.5 / 0.9;
        EXPECT_NEAR(p.beats[k] - p.beats[k - 1], expected, 1e-9) << "beat " << k;
    }
    EXPECT_DOUBLE_EQ(p.bpmAt(p.changeTime + 0.01), 108);
    EXPECT_DOUBLE_EQ(p.bpmAt(p.changeTime - 0.01), 120);
}

TEST(ListenCorpus, ARampReachesItsTempoAtTheEnd) {
    PieceOptions o = plain(100, 40);
    o.rampRatio = 1.08;
    const Piece p = generate(o);
    EXPECT_NEAR(p.bpms.front(), 100, 1e-9);
    EXPECT_NEAR(p.bpms.back(), 108, 0.3);
    for (std::size_t k = 1; k < p.bpms.size(); ++k) {
        EXPECT_GE(p.bpms[k], p.bpms[k - 1]);
    }
}

TEST(ListenCorpus, NoiseAtTheLevelAsked) {
    for (const double snr : {10.0, 25.0}) {
        PieceOptions o = plain(110);
        o.snrDb = snr;
        o.firstBeat = 3;
        const Piece p = generate(o);
        // Before the first beat there is only the noise (the first notes may come 15 ms
        // early).
        EXPECT_NEAR(db(rms(p, 3, 20) / rms(p, 0, 2.9)), snr, 1.5) << snr;
    }
}

TEST(ListenCorpus, SilenceHasOnlyTheNoise) {
    PieceOptions o = plain(120, 30);
    o.silenceAt = 10;
    o.snrDb = 30;
    const Piece p = generate(o);
    ASSERT_GE(p.silenceStart, 10);
    // Eight beats, from a bar's one.
    EXPECT_NEAR(p.silenceEnd - p.silenceStart, 4.0, 1e-9);
    const auto first = std::find(p.beats.begin(), p.beats.end(), p.silenceStart);
    ASSERT_NE(first, p.beats.end());
    EXPECT_EQ((first - p.beats.begin()) % 4, 0);
    const double music = rms(p, 2, p.silenceStart);
    const double inside = rms(p, p.silenceStart + 0.05, p.silenceEnd - 0.05);
    EXPECT_NEAR(db(music / inside), 30, 2);
    EXPECT_NEAR(db(rms(p, p.silenceEnd, p.silenceEnd + 4) / music), 0, 3);
}

TEST(ListenCorpus, HalfTimeKeepsTheBeatsAndQuietensTheBackBeat) {
    PieceOptions o = plain(100, 30);
    o.halfTimeAt = 8;
    o.halfTimeBars = 4;
    o.pattern = 0;
    o.timing = 0;
    o.snrDb = 60;
    const Piece p = generate(o);
    ASSERT_GT(p.halfTimeStart, 8);
    EXPECT_NEAR(p.halfTimeEnd - p.halfTimeStart, 16 * 0.6, 1e-9);
    // The beats go on at the tempo; what changes is that two and four lose the snare.
    for (std::size_t k = 1; k < p.beats.size(); ++k) {
        EXPECT_NEAR(p.beats[k] - p.beats[k - 1], 0.6, 1e-9);
    }
    const auto around = [&](double t) { return rms(p, t, t + 0.08); };
    double normal = 0, half = 0;
    int n = 0, h = 0;
    for (std::size_t k = 1; k < p.beats.size(); k += 2) { // two and four
        if (p.beats[k] >= p.halfTimeStart && p.beats[k] < p.halfTimeEnd) {
            half += around(p.beats[k]);
            ++h;
        } else if (p.beats[k] < p.halfTimeStart) {
            normal += around(p.beats[k]);
            ++n;
        }
    }
    ASSERT_GT(n, 0);
    ASSERT_GT(h, 0);
    EXPECT_LT(half / h, 0.7 * normal / n);
}

TEST(ListenCorpus, SameSeedSameSamplesAnotherSeedAnother) {
    PieceOptions o = plain(140, 5);
    const Piece a = generate(o), b = generate(o);
    EXPECT_EQ(a.samples, b.samples);
    o.seed = 4;
    EXPECT_NE(generate(o).samples, a.samples);
}

TEST(ListenCorpus, FilesReadBackAsWritten) {
    const Piece p = generate(plain(90, 3));
    char folder[] = "/tmp/listen_corpus_test.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const struct {
        Format format;
        int channels;
        const char* name;
        double step;
    } cases[] = {{Format::wav16, 1, "a.wav", 2.0 / 32768},
                 {Format::flac, 2, "b.flac", 2.0 / 32768},
                 {Format::wavFloat, 2, "c.wav", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = std::string(folder) + "/" + c.name;
        ASSERT_EQ(write(p, path, c.format, c.channels), "");
        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(info.samplerate, 48000);
        EXPECT_EQ(info.channels, c.channels);
        ASSERT_EQ(info.frames, static_cast<sf_count_t>(p.samples.size()));
        std::vector<float> frames(p.samples.size() * static_cast<std::size_t>(c.channels));
        EXPECT_EQ(sf_readf_float(file, frames.data(), info.frames), info.frames);
        sf_close(file);
        double worst = 0;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            worst = std::max(worst, std::fabs(double(frames[i]) -
                                              p.samples[i / static_cast<std::size_t>(c.channels)]));
        }
        EXPECT_LE(worst, c.step);
    }
    EXPECT_NE(write(p, std::string(folder) + "/missing/d.wav"), "");
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace tempocalc::corpus
