#include "listen_tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <random>
#include <vector>

// Every allocation of this program is counted, for the hops that must make none.
static std::atomic<long> allocations{0};

void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
// GCC cannot see that this new and this delete go together.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace tempocalc {
namespace {

constexpr double hop_seconds = 512.0 / 48000.0;

// A stretch of music: so many beats at a tempo, played in full, in half time (a strong
// note every other beat), or not at all.
struct Section {
    enum Kind { full, half, silent };
    int beats;
    double bpm;
    Kind kind = full;
    double shift = 0; // beats the section starts late by (its beat moved off the grid)
};

// Onset strength as a front end would give it for a drummer off by up to 15 ms: kick and
// snare strong in both descriptors, hats between the beats strong in the complex-domain
// one only (`hats` of a beat's), and a noise floor under everything. Seeded: every run hears the
// same drummer.
struct Music {
    std::vector<double> beats;    // where the beats are meant to fall, sounding or not
    std::vector<double> sounding; // those played
    std::vector<double> time, complexDomain, energy;
};

Music compose(unsigned seed, const std::vector<Section>& sections, double start = 0.0,
              double hats = 0.45) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> off(-0.015, 0.015);
    std::normal_distribution<double> noise(0.0, 0.06);
    struct Note {
        double at, c, e;
    };
    std::vector<Note> notes;
    Music m;
    double t = start;
    for (const Section& s : sections) {
        const double period = 60 / s.bpm;
        t += s.shift * period;
        for (int i = 0; i < s.beats; ++i, t += period) {
            m.beats.push_back(t);
            if (s.kind == Section::silent || (s.kind == Section::half && i % 2 == 1)) {
                continue;
            }
            m.sounding.push_back(t);
            notes.push_back({t + off(random), 1.0, i % 4 == 0 ? 1.0 : 0.8});
            if (s.kind == Section::full) {
                notes.push_back({t + period / 2 + off(random), hats, 0.1});
            }
        }
    }
    const double end = t + 1;
    for (double h = 0; h < end; h += hop_seconds) {
        double c = 0.06 + std::abs(noise(random)), e = 0.06 + std::abs(noise(random));
        for (const Note& n : notes) {
            if (std::abs(n.at - h) < 0.03) {
                const double shape = std::exp(-0.5 * std::pow((h - n.at) / 0.008, 2));
                c += n.c * shape;
                e += n.e * shape;
            }
        }
        m.time.push_back(h);
        m.complexDomain.push_back(c);
        m.energy.push_back(e);
    }
    return m;
}

struct Strike {
    double at, quarterBeats;
};

// What the tracker said, hop by hop, and the beats it placed.
struct Listening {
    std::vector<double> time;
    std::vector<Heard> heard;
    std::vector<ListenTracker::Beat> beats;
    std::vector<double> decided; // the hop after which each beat came out

    const Heard& at(double t) const {
        const auto i = std::lower_bound(time.begin(), time.end(), t) - time.begin();
        return heard[static_cast<std::size_t>(std::min<std::ptrdiff_t>(i, std::ssize(heard) - 1))];
    }
};

Listening listen(ListenTracker& tracker, const Music& m, std::vector<Strike> strikes = {}) {
    Listening r;
    std::size_t s = 0;
    for (std::size_t i = 0; i < m.time.size(); ++i) {
        for (; s < strikes.size() && strikes[s].at <= m.time[i]; ++s) {
            tracker.strike(strikes[s].at, strikes[s].quarterBeats);
        }
        tracker.hop(m.time[i], m.complexDomain[i], m.energy[i]);
        r.time.push_back(m.time[i]);
        r.heard.push_back(tracker.heard());
        for (const auto& b : tracker.takeBeats()) {
            r.beats.push_back(b);
            r.decided.push_back(m.time[i]);
        }
    }
    return r;
}

// The share of the meant beats in [from, to) with a placed beat within 70 ms, and of the
// placed beats with a meant one: their harmonic mean.
double beatF(const Listening& r, const std::vector<double>& truth, double from, double to) {
    auto hits = [](const std::vector<double>& a, const std::vector<double>& b, double from,
                   double to) {
        int n = 0, hit = 0;
        for (double x : a) {
            if (x < from || x >= to) {
                continue;
            }
            ++n;
            hit +=
                std::any_of(b.begin(), b.end(), [x](double y) { return std::abs(x - y) <= 0.07; });
        }
        return n ? static_cast<double>(hit) / n : 0.0;
    };
    std::vector<double> placed;
    for (const auto& b : r.beats) {
        placed.push_back(b.time);
    }
    const double recall = hits(truth, placed, from, to), precision = hits(placed, truth, from, to);
    return recall + precision > 0 ? 2 * recall * precision / (recall + precision) : 0;
}

// The share of hops in [from, to) whose tempo is within 4 % of `bpm`.
double onTempo(const Listening& r, double bpm, double from, double to) {
    int n = 0, on = 0;
    for (std::size_t i = 0; i < r.time.size(); ++i) {
        if (r.time[i] >= from && r.time[i] < to) {
            ++n;
            on += std::abs(r.heard[i].bpm / bpm - 1) <= 0.04;
        }
    }
    return n ? static_cast<double>(on) / n : 0;
}

std::ptrdiff_t firstIn(const Listening& r, Heard::State state) {
    const auto at = std::find_if(r.heard.begin(), r.heard.end(),
                                 [state](const Heard& h) { return h.state == state; });
    return at == r.heard.end() ? -1 : at - r.heard.begin();
}

// The longest interval between beats placed in [from, to), in beats of `bpm`.
double longestGap(const Listening& r, double bpm, double from, double to) {
    double longest = 0;
    for (std::size_t i = 1; i < r.beats.size(); ++i) {
        if (r.beats[i - 1].time >= from && r.beats[i].time < to) {
            longest = std::max(longest, (r.beats[i].time - r.beats[i - 1].time) * bpm / 60);
        }
    }
    return longest;
}

} // namespace

class TrackerFinds : public ::testing::TestWithParam<double> {};

TEST_P(TrackerFinds, TheTempoAloneAndIsUnsureBeforeItLocks) {
    const double bpm = GetParam();
    ListenTracker tracker(hop_seconds);
    const Music m = compose(11, {{static_cast<int>(bpm / 2), bpm}}, 0.7);
    const Listening r = listen(tracker, m);
    const double end = m.beats.back();

    EXPECT_EQ(r.heard.front().state, Heard::State::searching);
    EXPECT_EQ(r.heard.front().bpm, 0);
    const auto unsure = firstIn(r, Heard::State::unsure), locked = firstIn(r, Heard::State::locked);
    ASSERT_GE(unsure, 0);
    ASSERT_GT(locked, unsure);
    EXPECT_LT(r.time[static_cast<std::size_t>(locked)], 10.0);
    EXPECT_GT(r.heard.back().confidence, r.heard[static_cast<std::size_t>(unsure)].confidence);
    EXPECT_GE(onTempo(r, bpm, 10, end), 0.95);
    EXPECT_GE(beatF(r, m.beats, 10, end), 0.9);
    // Slow tempos' long lags are not heard yet at the start: no octave up in the meantime.
    EXPECT_GE(onTempo(r, bpm, r.time[static_cast<std::size_t>(unsure)], 10), 0.9);
    EXPECT_FALSE(r.heard.back().struck);
}

INSTANTIATE_TEST_SUITE_P(Tempos, TrackerFinds, ::testing::Values(85.0, 100.0, 120.0, 150.0, 178.0));

TEST(TrackerAlone, ReLocksWithinFourSecondsOfAHeldChange) {
    for (const double ratio : {1.1, 0.9}) {
        ListenTracker tracker(hop_seconds);
        const Music m = compose(5, {{40, 120}, {40, 120 * ratio}});
        const Listening r = listen(tracker, m);
        const double change = m.beats[40], end = m.beats.back();
        EXPECT_GE(onTempo(r, 120 * ratio, change + 4, end), 0.95) << ratio;
        EXPECT_GE(beatF(r, m.beats, change + 4, end), 0.95) << ratio;
        EXPECT_EQ(r.at(end).state, Heard::State::locked) << ratio;
    }
}

TEST(TrackerAlone, JumpsToABandThatComesInHalfABeatLate) {
    // The band comes in half a beat late and stays there, with no silence between.
    ListenTracker tracker(hop_seconds);
    const Music m = compose(13, {{32, 110}, {32, 110, Section::full, 0.5}});
    const Listening r = listen(tracker, m);
    const double shift = m.beats[32], end = m.beats.back();
    EXPECT_GE(beatF(r, m.beats, shift - 8, shift), 0.95);
    EXPECT_LT(beatF(r, m.beats, shift, shift + 1.5), 0.5); // the old grid for a beat or two
    EXPECT_GE(beatF(r, m.beats, shift + 6, end), 0.95);
}

TEST(TrackerAlone, KeepsTheOctaveItLockedOnThroughAHalfTimeSection) {
    ListenTracker tracker(hop_seconds);
    const Music m = compose(14, {{48, 120}, {24, 120, Section::half}, {24, 120}});
    const Listening r = listen(tracker, m);
    EXPECT_GE(onTempo(r, 120, m.beats[48], m.beats.back()), 0.95);
    EXPECT_GE(beatF(r, m.beats, m.beats[48], m.beats.back()), 0.95);
}

TEST(TrackerAlone, PlacesEachBeatOnceInOrderLessThanHalfABeatAhead) {
    ListenTracker tracker(hop_seconds);
    const Music m = compose(3, {{40, 132}, {8, 132, Section::silent}, {20, 132}});
    const Listening r = listen(tracker, m);
    ASSERT_GT(r.beats.size(), 60u);
    for (std::size_t i = 0; i < r.beats.size(); ++i) {
        const double half = 30 / r.beats[i].bpm;
        EXPECT_GE(r.beats[i].time, r.decided[i] - 1e-9) << i;
        EXPECT_LT(r.beats[i].time, r.decided[i] + half) << i;
        if (i > 0) {
            EXPECT_GT(r.beats[i].time, r.beats[i - 1].time + half) << i;
        }
    }
}

TEST(TrackerSilence, HoldsTheGridThroughEightBeatsAndPicksItUpWithoutAJump) {
    ListenTracker tracker(hop_seconds);
    const Music m = compose(7, {{32, 110}, {8, 110, Section::silent}, {24, 110}});
    const Listening r = listen(tracker, m);
    const double quiet = m.beats[32], back = m.beats[40], end = m.beats.back();

    EXPECT_EQ(r.at(quiet - 0.1).state, Heard::State::locked);
    EXPECT_EQ(r.at(back - 0.1).state, Heard::State::holding);
    EXPECT_NEAR(r.at(back - 0.1).bpm, 110, 110 * 0.02);
    // The held grid stays on the beats that nobody plays, and goes on through the return.
    EXPECT_GE(beatF(r, m.beats, quiet, back), 0.95);
    EXPECT_GE(beatF(r, m.beats, back, end), 0.95);
    EXPECT_LT(longestGap(r, 110, quiet - 2, end), 1.15);
    EXPECT_EQ(r.at(end).state, Heard::State::locked);
}

TEST(TrackerSilence, FindsTheBeatAnewWhenItComesBackFarFromTheHeldGrid) {
    ListenTracker tracker(hop_seconds);
    // Back half a beat off the held grid.
    const Music m =
        compose(8, {{32, 110}, {8, 110, Section::silent}, {40, 110, Section::full, 0.5}});
    const Listening r = listen(tracker, m);
    const double back = m.beats[40], end = m.beats.back();
    const auto returned = static_cast<std::size_t>(
        std::lower_bound(r.time.begin(), r.time.end(), back) - r.time.begin());
    const bool anew =
        std::any_of(r.heard.begin() + static_cast<std::ptrdiff_t>(returned), r.heard.end(),
                    [](const Heard& h) { return h.state == Heard::State::searching; });
    EXPECT_TRUE(anew);
    EXPECT_GE(beatF(r, m.beats, back + 8, end), 0.9);
    EXPECT_EQ(r.at(end).state, Heard::State::locked);
}

TEST(TrackerStrikes, TwoStrikesSettleTheOctaveThroughAHalfTimeSection) {
    // Hats nearly as strong as the beat: alone, the tracker hears twice the tempo; the
    // player's two strikes say which it is.
    const double bpm = 72;
    const Music m = compose(4, {{24, bpm}, {16, bpm, Section::half}, {16, bpm}}, 0.4, 0.8);
    {
        ListenTracker alone(hop_seconds);
        const Listening r = listen(alone, m);
        ASSERT_GT(onTempo(r, 2 * bpm, 10, m.beats[24]), 0.5) << "no octave left to settle";
    }
    ListenTracker tracker(hop_seconds);
    const Listening r = listen(tracker, m, {{m.beats[1] + 0.012, 1}, {m.beats[2] - 0.01, 1}});
    EXPECT_TRUE(r.heard.back().struck);
    EXPECT_GE(onTempo(r, bpm, m.beats[3], m.beats.back()), 0.98);
    EXPECT_GE(beatF(r, m.beats, m.beats[3], m.beats.back()), 0.95);
}

TEST(TrackerStrikes, EighthNoteStrikesAndNewStrikesWin) {
    const Music m = compose(6, {{60, 100}});
    const double p = 60.0 / 100;
    ListenTracker tracker(hop_seconds);
    // Eighths at the start (100 BPM), later quarters at 93 BPM: the newer strikes win.
    std::vector<Strike> strikes;
    for (int i = 0; i < 4; ++i) {
        strikes.push_back({m.beats[2] + i * p / 2 + (i % 2 ? 0.01 : -0.008), 0.5});
    }
    const double later = m.beats[30];
    for (int i = 0; i < 3; ++i) {
        strikes.push_back({later + i * 60 / 93.0, 1});
    }
    const Listening r = listen(tracker, m, strikes);
    EXPECT_GE(onTempo(r, 100, m.beats[4], later), 0.95);
    EXPECT_NEAR(r.at(later + 2 * 60 / 93.0 + 0.05).bpm, 93, 93 * 0.04);
}

TEST(TrackerStrikes, AStrikeBeforeTheLatestOneIsIgnored) {
    const Music m = compose(2, {{40, 100}});
    ListenTracker tracker(hop_seconds);
    const double b = m.beats[10];
    const Listening r = listen(tracker, m, {{b, 1}, {b - 0.5, 1}, {b + 0.6, 1}, {b + 1.2, 1}});
    EXPECT_TRUE(r.heard.back().struck);
    EXPECT_NEAR(r.at(b + 1.3).bpm, 100, 4);
    EXPECT_GE(beatF(r, m.beats, b + 1.3, m.beats.back()), 0.95);
}

TEST(TrackerStrikes, ResetForgetsTheStrikesAndTheMusic) {
    ListenTracker tracker(hop_seconds);
    const Music first = compose(9, {{40, 100}});
    listen(tracker, first, {{first.beats[2], 1}, {first.beats[3], 1}});
    ASSERT_TRUE(tracker.heard().struck);
    tracker.reset();
    EXPECT_EQ(tracker.heard().state, Heard::State::searching);
    EXPECT_FALSE(tracker.heard().struck);
    EXPECT_TRUE(tracker.takeBeats().empty());
    // 150 BPM lies beyond what the old strikes would let it hear.
    const Music second = compose(10, {{60, 150}});
    const Listening r = listen(tracker, second);
    EXPECT_GE(onTempo(r, 150, 10, second.beats.back()), 0.95);
}

TEST(TrackerInput, AHopAllocatesNothingOnceWarm) {
    ListenTracker tracker(hop_seconds);
    const Music m = compose(15, {{40, 120}, {8, 120, Section::silent}, {40, 96}});
    std::size_t i = 0;
    for (; m.time[i] < 3; ++i) {
        tracker.hop(m.time[i], m.complexDomain[i], m.energy[i]);
    }
    const long before = allocations;
    for (; i < m.time.size(); ++i) {
        tracker.hop(m.time[i], m.complexDomain[i], m.energy[i]);
    }
    EXPECT_EQ(allocations - before, 0);
    EXPECT_GT(tracker.takeBeats().size(), 80u); // nobody took them: they were kept
}

TEST(TrackerInput, DigitalSilenceBeforeTheMusicDoesNotDeafenIt) {
    // Zeros, as from a port that nothing is connected to yet, then the music.
    for (const double lead : {1.5, 6.0}) {
        ListenTracker tracker(hop_seconds);
        for (double t = 0; t < lead; t += hop_seconds) {
            tracker.hop(t, 0, 0);
        }
        EXPECT_EQ(tracker.heard().state, Heard::State::searching) << lead;
        const Music m = compose(16, {{40, 120}});
        for (std::size_t i = 0; m.time[i] < m.beats.back(); ++i) {
            tracker.hop(lead + m.time[i], m.complexDomain[i], m.energy[i]);
        }
        EXPECT_EQ(tracker.heard().state, Heard::State::locked) << lead;
        EXPECT_NEAR(tracker.heard().bpm, 120, 120 * 0.02) << lead;
    }
}

TEST(TrackerInput, HopsThatNeverCameAreHeardAsNothing) {
    // Five seconds of hops lost (a sound server restarted): the grid holds through them
    // at its tempo and picks the music up again where it is.
    ListenTracker tracker(hop_seconds);
    const Music m = compose(17, {{60, 120}});
    const double from = m.beats[30] + 0.1, to = m.beats[40] - 0.1;
    std::vector<double> bpms;
    for (std::size_t i = 0; m.time[i] < m.beats.back(); ++i) {
        if (m.time[i] < from || m.time[i] >= to) {
            tracker.hop(m.time[i], m.complexDomain[i], m.energy[i]);
        }
        if (m.time[i] > m.beats[20]) {
            bpms.push_back(tracker.heard().bpm);
        }
    }
    for (const double bpm : bpms) {
        ASSERT_NEAR(bpm, 120, 120 * 0.01);
    }
    EXPECT_EQ(tracker.heard().state, Heard::State::locked);
    const auto beats = tracker.takeBeats();
    std::vector<double> placed;
    for (const auto& b : beats) {
        placed.push_back(b.time);
    }
    for (std::size_t k = 42; k + 1 < m.beats.size(); ++k) {
        EXPECT_TRUE(std::any_of(placed.begin(), placed.end(),
                                [&](double t) { return std::abs(t - m.beats[k]) < 0.03; }))
            << "beat " << k;
    }
}

TEST(TrackerInput, GarbageNeverCrashesNorMakesNaN) {
    std::mt19937 random(12);
    std::uniform_real_distribution<double> unit(0, 1);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double odd[] = {nan, inf, -inf, -1, 1e300, -1e-300, 0};
    for (const double hop : {hop_seconds, 0.0, -1.0, nan, 1e9}) {
        ListenTracker tracker(hop);
        double t = 0;
        for (int i = 0; i < 6000; ++i) {
            const double pick = unit(random);
            t += pick < 0.05 ? -0.3 : hop_seconds; // now and then the clock goes back
            const double c = pick < 0.2 ? odd[i % 7] : unit(random) + (i % 47 == 0 ? 5 : 0);
            const double e = pick > 0.8 ? odd[(i + 3) % 7] : unit(random) + (i % 47 == 0 ? 5 : 0);
            tracker.hop(pick > 0.97 ? nan : t, c, e);
            if (i % 37 == 0) {
                // Strikes out of order, at odd note values, at odd times.
                tracker.strike(t - unit(random) * 2, i % 3 ? 1 : odd[i % 7]);
                tracker.strike(t + 0.5, i % 5 ? 0.5 : 1e-9);
            }
            const Heard h = tracker.heard();
            ASSERT_TRUE(std::isfinite(h.bpm) && std::isfinite(h.beat) &&
                        std::isfinite(h.confidence));
            ASSERT_GE(h.confidence, 0);
            ASSERT_LE(h.confidence, 1);
            double previous = -inf;
            for (const auto& b : tracker.takeBeats()) {
                ASSERT_TRUE(std::isfinite(b.time) && std::isfinite(b.bpm) && b.bpm > 0);
                ASSERT_GT(b.time, previous);
                previous = b.time;
            }
        }
    }
}

} // namespace tempocalc
