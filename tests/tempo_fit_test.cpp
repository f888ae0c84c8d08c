#include "tempo_fit.h"

#include "tempo_engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

namespace tempocalc {
namespace {

// The least-squares line through (position, time) pairs, worked out in two passes.
struct Line {
    double tempo, standard_error;
};

Line fitted(const std::vector<double>& p, const std::vector<double>& t) {
    const auto n = static_cast<double>(p.size());
    double mp = 0, mt = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        mp += p[i] / n;
        mt += t[i] / n;
    }
    double spp = 0, spt = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        spp += (p[i] - mp) * (p[i] - mp);
        spt += (p[i] - mp) * (t[i] - mt);
    }
    const double s = spt / spp;
    double ssr = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const double r = t[i] - mt - s * (p[i] - mp);
        ssr += r * r;
    }
    return {60 / s, 60 * std::sqrt(ssr / (n - 2) / spp) / (s * s)};
}

// Taps around a beat grid with a fixed pattern of small offsets, as a player's are.
std::vector<double> taps(double start, double seconds_a_note, int count) {
    std::vector<double> t;
    for (int i = 0; i < count; ++i) {
        t.push_back(start + i * seconds_a_note + 0.012 * std::sin(i * 2.1));
    }
    return t;
}

TEST(TempoFit, HasNoTempoBeforeTwoStrikesAndNoErrorBeforeThree) {
    TempoFit fit;
    EXPECT_EQ(fit.strikes(), 0);
    EXPECT_FALSE(fit.tempo());
    fit.add(100.0, 0);
    EXPECT_FALSE(fit.tempo());
    fit.add(100.5, 0);
    EXPECT_NEAR(*fit.tempo(), 120.0, 1e-9);
    EXPECT_FALSE(fit.standard_error());
    fit.add(101.0, 0);
    EXPECT_EQ(fit.strikes(), 3);
    EXPECT_NEAR(*fit.standard_error(), 0.0, 1e-6);
}

struct SteadyCase {
    double bpm;
    std::int16_t notemode;
    int strikes;
};

class SteadyTaps : public testing::TestWithParam<SteadyCase> {};

TEST_P(SteadyTaps, GiveTheLeastSquaresLineAndItsStandardError) {
    const auto [bpm, notemode, count] = GetParam();
    const double beats = notemode == 0 ? 1.0 : notemode == 1 ? 0.5 : 1.0 / 3.0;
    const std::vector<double> t = taps(30000.0, 60.0 / bpm * beats, count);
    std::vector<double> p;
    TempoFit fit;
    for (int i = 0; i < count; ++i) {
        fit.add(t[static_cast<std::size_t>(i)], notemode);
        p.push_back(i * beats);
    }
    const Line expected = fitted(p, t);
    EXPECT_EQ(fit.strikes(), count);
    EXPECT_NEAR(*fit.tempo(), expected.tempo, 1e-9 * expected.tempo);
    EXPECT_NEAR(*fit.standard_error(), expected.standard_error, 1e-6 * expected.standard_error);
}

INSTANTIATE_TEST_SUITE_P(TempiAndNotes, SteadyTaps,
                         testing::Values(SteadyCase{120, 0, 33}, SteadyCase{90, 1, 17},
                                         SteadyCase{180, 2, 9}, SteadyCase{60, 0, 3}));

TEST(TempoFit, MixedNoteValuesTakeEffectAtTheStrikeTheyAreStruckAs) {
    // Quarters at 100 BPM, then eighths and twelfths of the same beat.
    TempoFit fit;
    double t = 1000.0;
    const std::int16_t modes[] = {0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 0};
    for (const std::int16_t mode : modes) {
        t += 0.6 * (mode == 0 ? 1.0 : mode == 1 ? 0.5 : 1.0 / 3.0);
        fit.add(t, mode);
    }
    EXPECT_EQ(fit.strikes(), 11);
    EXPECT_NEAR(*fit.tempo(), 100.0, 1e-9);
}

TEST(TempoFit, CountsOnAcrossMidnight) {
    TempoFit fit;
    for (int i = 0; i < 8; ++i) {
        fit.add(std::fmod(seconds_per_day - 2.0 + 0.5 * i, seconds_per_day), 0);
    }
    EXPECT_EQ(fit.strikes(), 8);
    EXPECT_NEAR(*fit.tempo(), 120.0, 1e-9);
}

// Steady taps at 120 BPM with something odd at the given tap.
struct SlipCase {
    const char* name;
    std::vector<double> readings;
    int strikes; // in the line afterwards
};

class Slips : public testing::TestWithParam<SlipCase> {};

TEST_P(Slips, LeaveTheTempoAsSteadyTapsGiveIt) {
    TempoFit fit;
    for (const double r : GetParam().readings) {
        fit.add(r, 0);
    }
    EXPECT_EQ(fit.strikes(), GetParam().strikes);
    ASSERT_TRUE(fit.tempo());
    EXPECT_NEAR(*fit.tempo(), 120.0, 1e-9);
}

std::vector<double> beats(std::initializer_list<double> at) {
    std::vector<double> r;
    for (const double b : at) {
        r.push_back(500.0 + 0.5 * b);
    }
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Players, Slips,
    testing::Values(SlipCase{"MissedBeat", beats({0, 1, 2, 3, 4, 6, 7, 8}), 8},
                    SlipCase{"TwoMissedBeats", beats({0, 1, 2, 3, 4, 7, 8, 9}), 8},
                    SlipCase{"ExtraTap", beats({0, 1, 2, 3, 4, 4.3, 5, 6}), 7},
                    SlipCase{"PauseStartsANewLine", beats({0, 1, 2, 3, 20, 21, 22}), 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TempoFit, MissedBeatsAreTwoOrThreeNotesWithinAQuarter) {
    const struct {
        double at; // the beat of the strike after 0 to 4
        double expected_position;
    } cases[] = {{5.45, 5}, {5.55, 6}, {6.0, 6}, {6.4, 6}, {6.6, 7}, {7.7, 7}, {7.8, 5}};
    for (const auto& c : cases) {
        TempoFit fit;
        std::vector<double> p{0, 1, 2, 3, 4}, t;
        for (const double r : beats({0, 1, 2, 3, 4, c.at})) {
            fit.add(r, 0);
            t.push_back(r);
        }
        // Off their grid, the strike counts at the position it is read as.
        p.push_back(c.expected_position);
        EXPECT_NEAR(*fit.tempo(), fitted(p, t).tempo, 1e-9) << c.at;
    }
}

TEST(TempoFit, LongGapWithOneStrikeStartsAgainButNotWithinItsNotes) {
    TempoFit fit;
    fit.add(100.0, 0);
    fit.add(102.5, 0); // over 2 s with only one strike
    EXPECT_EQ(fit.strikes(), 1);
    fit.add(104.4, 0);
    fit.add(106.3, 0);
    fit.add(108.5, 0); // slow, but within four of the line's notes
    EXPECT_EQ(fit.strikes(), 4);
    EXPECT_NEAR(*fit.tempo(), fitted({0, 1, 2, 3}, {0, 1.9, 3.8, 6.0}).tempo, 1e-9);
}

// A mistimed second or third tap, then sixteen steady ones at 120 BPM.
class BadStart : public testing::TestWithParam<std::vector<double>> {};

TEST_P(BadStart, NeverLocksTheLineOut) {
    TempoFit fit;
    for (const double r : GetParam()) {
        fit.add(r, 0);
    }
    const double last = GetParam().back();
    for (int i = 1; i <= 16; ++i) {
        fit.add(last + 0.5 * i, 0);
    }
    EXPECT_NEAR(*fit.tempo(), 120.0, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Taps, BadStart,
                         testing::Values(std::vector<double>{0, 0.05, 0.5, 1.0}, // bounce
                                         std::vector<double>{0, 0.5, 0.55, 1.0}, // bounce
                                         std::vector<double>{0, 1.0, 1.5, 2.0},  // missed
                                         std::vector<double>{0, 0.5, 1.5, 2.0},  // missed
                                         std::vector<double>{0, 0.8, 1.0, 1.5},  // late
                                         std::vector<double>{0, 0.2, 0.45, 0.7}, // rushed
                                         std::vector<double>{0, 0.25, 0.5, 1.0, 1.5}
                                         // twice as fast
                                         ));

TEST(TempoFit, RefusesBadInputAndKeepsItsLine) {
    TempoFit fit;
    fit.add(10.0, 0);
    fit.add(10.5, 0);
    for (const double reading : {-1.0, 86400.5, std::nan(""), HUGE_VAL}) {
        EXPECT_THROW(fit.add(reading, 0), std::invalid_argument) << reading;
    }
    for (const std::int16_t notemode : {-1, 3}) {
        try {
            fit.add(11.0, notemode);
            ADD_FAILURE() << "accepted notemode " << notemode;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(std::to_string(notemode)), std::string::npos);
        }
    }
    EXPECT_EQ(fit.strikes(), 2);
    EXPECT_NEAR(*fit.tempo(), 120.0, 1e-9);
    fit.reset();
    EXPECT_EQ(fit.strikes(), 0);
    EXPECT_FALSE(fit.tempo());
}

TEST(TempoFit, StaysExactOverAHundredThousandStrikesAcrossMidnight) {
    TempoFit fit;
    std::mt19937_64 random(3);
    std::normal_distribution<double> jitter(0.0, 0.02);
    const double start = seconds_per_day - 20000.0;
    std::vector<double> p, t;
    for (int i = 0; i < 100'000; ++i) {
        const double at = start + 0.5 * i + jitter(random);
        fit.add(std::fmod(at, seconds_per_day), 0);
        p.push_back(i);
        t.push_back(at - start);
    }
    const Line expected = fitted(p, t);
    EXPECT_EQ(fit.strikes(), 100'000);
    EXPECT_NEAR(*fit.tempo(), expected.tempo, 1e-9 * expected.tempo);
    EXPECT_NEAR(*fit.standard_error(), expected.standard_error, 1e-6 * expected.standard_error);
}

} // namespace
} // namespace tempocalc
