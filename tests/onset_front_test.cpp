// Listening's front end on its own: hops of about 11 ms at every rate, the same hops
// however the stream is cut into pieces, stamps where the onsets are, and a stream that
// a NaN or a reset does not spoil.

#include "listen_corpus.h"
#include "onset_front.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace tempocalc {
namespace {

std::vector<OnsetFront::Hop> hopsOf(OnsetFront& front, const std::vector<float>& samples,
                                    std::size_t chunk) {
    std::vector<OnsetFront::Hop> hops;
    for (std::size_t i = 0; i < samples.size(); i += chunk) {
        front.push(samples.data() + i, std::min(chunk, samples.size() - i), hops);
    }
    return hops;
}

void expectSame(const std::vector<OnsetFront::Hop>& a, const std::vector<OnsetFront::Hop>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].sample, b[i].sample);
        EXPECT_EQ(a[i].complexDomain, b[i].complexDomain) << "hop " << i;
        EXPECT_EQ(a[i].energy, b[i].energy) << "hop " << i;
    }
}

corpus::Piece drums(double rate, double seconds = 6) {
    corpus::PieceOptions o;
    o.seed = 5;
    o.sampleRate = rate;
    o.seconds = seconds;
    o.bpm = 100;
    o.timing = 0; // every note on its beat
    o.snrDb = 40;
    return corpus::generate(o);
}

TEST(OnsetFront, HopsOfAboutElevenMillisecondsAtEveryRate) {
    for (const double rate : {8000.0, 22050.0, 44100.0, 48000.0, 96000.0, 192000.0}) {
        OnsetFront front(rate);
        EXPECT_EQ(front.sampleRate(), rate);
        const double ms = static_cast<double>(front.hopSize()) / rate * 1000;
        EXPECT_GE(ms, 5.3) << rate;
        EXPECT_LE(ms, 16) << rate;
    }
    EXPECT_EQ(OnsetFront(48000).hopSize(), 512u);
    EXPECT_EQ(OnsetFront(44100).hopSize(), 512u);
}

TEST(OnsetFront, RefusesARateItCannotUse) {
    for (const double rate : {0.0, -48000.0, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_THROW(OnsetFront{rate}, std::invalid_argument) << rate;
    }
}

TEST(OnsetFront, SameHopsHoweverTheStreamIsCut) {
    const corpus::Piece p = drums(48000, 3);
    OnsetFront whole(48000), odd(48000), single(48000);
    const auto reference = hopsOf(whole, p.samples, p.samples.size());
    ASSERT_GT(reference.size(), 200u);
    expectSame(hopsOf(odd, p.samples, 333), reference);
    expectSame(hopsOf(single, p.samples, 1), reference);
}

TEST(OnsetFront, OneHopForEachHopOfSamplesStampedInOrder) {
    const corpus::Piece p = drums(44100, 3);
    OnsetFront front(44100);
    const auto hops = hopsOf(front, p.samples, 1000);
    const auto hop = static_cast<std::int64_t>(front.hopSize());
    // The first frame is compared with nothing and gives no hop.
    EXPECT_EQ(hops.size(), p.samples.size() / front.hopSize() - 1);
    for (std::size_t i = 0; i < hops.size(); ++i) {
        EXPECT_GE(hops[i].complexDomain, 0);
        EXPECT_GE(hops[i].energy, 0);
        if (i > 0) {
            EXPECT_EQ(hops[i].sample - hops[i - 1].sample, hop);
        }
    }
    EXPECT_GE(hops.front().sample, 0);
}

TEST(OnsetFront, EnergyRisesAtTheBeatsStamp) {
    for (const double rate : {44100.0, 48000.0, 96000.0}) {
        SCOPED_TRACE(rate);
        const corpus::Piece p = drums(rate);
        OnsetFront front(rate);
        const auto hops = hopsOf(front, p.samples, 4096);
        const double hop = static_cast<double>(front.hopSize()) / rate;
        // Around each beat (a kick, a snare, the bass), the hop with the largest rise is
        // stamped near it: a slowly decaying kick may rise most a hop later, never more.
        std::vector<double> off;
        for (std::size_t k = 1; k < p.beats.size(); ++k) {
            const OnsetFront::Hop* best = nullptr;
            for (const auto& h : hops) {
                const double t = static_cast<double>(h.sample) / rate;
                if (std::fabs(t - p.beats[k]) < 0.1 && (!best || h.energy > best->energy)) {
                    best = &h;
                }
            }
            ASSERT_NE(best, nullptr);
            off.push_back(std::fabs(static_cast<double>(best->sample) / rate - p.beats[k]));
            EXPECT_LE(off.back(), 1.5 * hop) << "beat " << k;
        }
        std::sort(off.begin(), off.end());
        EXPECT_LE(off[off.size() / 2], 0.5 * hop);
    }
}

TEST(OnsetFront, QuieterMusicScalesBothValuesAlike) {
    const corpus::Piece p = drums(48000, 3);
    std::vector<float> quieter = p.samples;
    for (float& s : quieter) {
        s *= 0.25f;
    }
    OnsetFront a(48000), b(48000);
    const auto full = hopsOf(a, p.samples, 4096), quiet = hopsOf(b, quieter, 4096);
    ASSERT_EQ(full.size(), quiet.size());
    for (std::size_t i = 0; i < full.size(); ++i) {
        EXPECT_NEAR(quiet[i].complexDomain, full[i].complexDomain * 0.25,
                    1e-4 + 1e-3 * full[i].complexDomain);
        EXPECT_NEAR(quiet[i].energy, full[i].energy * 0.25, 1e-4 + 1e-3 * full[i].energy);
    }
}

TEST(OnsetFront, ANanDoesNotSpoilTheStream) {
    const corpus::Piece p = drums(48000, 3);
    std::vector<float> spoilt = p.samples;
    spoilt[1000] = std::numeric_limits<float>::quiet_NaN();
    spoilt[1001] = std::numeric_limits<float>::infinity();
    OnsetFront front(48000);
    const auto hops = hopsOf(front, spoilt, 4096);
    for (const auto& h : hops) {
        ASSERT_TRUE(std::isfinite(h.complexDomain) && std::isfinite(h.energy)) << h.sample;
    }
    // Some hops later, the same as if it had never been there.
    OnsetFront clean(48000);
    const auto reference = hopsOf(clean, p.samples, 4096);
    EXPECT_EQ(hops.back().energy, reference.back().energy);
}

TEST(OnsetFront, ResetStartsTheStreamAnew) {
    const corpus::Piece p = drums(48000, 2);
    OnsetFront used(48000), fresh(48000);
    hopsOf(used, p.samples, 777);
    std::vector<OnsetFront::Hop> ignored;
    used.push(p.samples.data(), 1234, ignored); // in the middle of a hop
    used.reset();
    expectSame(hopsOf(used, p.samples, 4096), hopsOf(fresh, p.samples, 4096));
}

} // namespace
} // namespace tempocalc
