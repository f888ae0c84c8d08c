#include "tempo_fit.h"

#include "tempo_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

namespace tempocalc {
namespace {

int place(double p) {
    return static_cast<int>(std::lround(p * 6)) % 6;
}

// The least-squares line through (position, time) pairs, one slope with an offset
// for each place within the beat, worked out in two passes.
struct Line {
    double slope = 0, standard_error = 0;
    std::map<int, std::pair<double, double>> means; // by place: mean position, mean time
    double tempo() const { return 60 / slope; }
    double at(double p) const {
        const auto [mp, mt] = means.at(place(p));
        return mt + slope * (p - mp);
    }
};

Line fitted(const std::vector<double>& p, const std::vector<double>& t) {
    std::map<int, std::vector<std::size_t>> places;
    for (std::size_t i = 0; i < p.size(); ++i) {
        places[place(p[i])].push_back(i);
    }
    Line line;
    double spp = 0, spt = 0;
    for (const auto& [at, members] : places) {
        double mp = 0, mt = 0;
        for (const std::size_t i : members) {
            mp += p[i] / static_cast<double>(members.size());
            mt += t[i] / static_cast<double>(members.size());
        }
        line.means[at] = {mp, mt};
        for (const std::size_t i : members) {
            spp += (p[i] - mp) * (p[i] - mp);
            spt += (p[i] - mp) * (t[i] - mt);
        }
    }
    line.slope = spt / spp;
    double ssr = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        ssr += std::pow(t[i] - line.at(p[i]), 2);
    }
    const auto df = static_cast<double>(p.size() - places.size() - 1);
    line.standard_error = 60 * std::sqrt(ssr / df / spp) / (line.slope * line.slope);
    return line;
}

// A player's strikes: note i at start + i * seconds_a_note, each off by a normally
// distributed error (seeded, so that every run sees the same player).
std::vector<double> player(unsigned seed, double seconds_a_note, double jitter, int count,
                           double start = 30000.0) {
    std::mt19937_64 random(seed);
    std::normal_distribution<double> off(0.0, jitter);
    std::vector<double> t;
    for (int i = 0; i < count; ++i) {
        t.push_back(start + i * seconds_a_note + off(random));
    }
    return t;
}

std::vector<double> positions(int count, double beats = 1.0, double from = 0) {
    std::vector<double> p;
    for (int i = 0; i < count; ++i) {
        p.push_back(from + i * beats);
    }
    return p;
}

TempoFit fed(const std::vector<double>& readings, std::int16_t notemode = 0) {
    TempoFit fit;
    for (const double r : readings) {
        fit.add(r, notemode);
    }
    return fit;
}

TEST(TempoFit, HasNoTempoBeforeTwoStrikesAndNoErrorBeforeThree) {
    TempoFit fit;
    EXPECT_EQ(fit.strikes(), 0);
    EXPECT_FALSE(fit.tempo());
    fit.add(100.0, 0);
    EXPECT_FALSE(fit.tempo());
    EXPECT_FALSE(fit.beat());
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
    double jitter, swing; // swing: the share of a beat the first of two eighths lasts
};

class SteadyTaps : public testing::TestWithParam<SteadyCase> {};

// Uneven players whom no rule should touch: the line is the least-squares one, with
// each place in the beat offset on its own (which for quarter notes is none).
TEST_P(SteadyTaps, GiveTheLeastSquaresLineAndItsStandardError) {
    const auto [bpm, notemode, count, jitter, swing] = GetParam();
    const double beats = notemode == 0 ? 1.0 : notemode == 1 ? 0.5 : 1.0 / 3.0;
    std::vector<double> t = player(7, 60.0 / bpm * beats, jitter, count);
    for (std::size_t i = 1; i < t.size(); i += 2) {
        t[i] += swing > 0 ? (swing - 0.5) * 60.0 / bpm : 0.0;
    }
    const TempoFit fit = fed(t, notemode);
    const Line expected = fitted(positions(count, beats), t);
    EXPECT_EQ(fit.strikes(), count);
    EXPECT_NEAR(*fit.tempo(), expected.tempo(), 1e-9 * bpm);
    EXPECT_NEAR(*fit.standard_error(), expected.standard_error, 1e-6 * expected.standard_error);
    EXPECT_NEAR(*fit.tempo(), bpm, 4 * expected.standard_error);
}

INSTANTIATE_TEST_SUITE_P(TempiAndNotes, SteadyTaps,
                         testing::Values(SteadyCase{120, 0, 33, 0.020, 0},
                                         SteadyCase{240, 0, 33, 0.035, 0},
                                         SteadyCase{90, 1, 17, 0.015, 0},
                                         SteadyCase{120, 1, 16, 0.005, 0.75}, // 3:1 swing
                                         SteadyCase{180, 2, 9, 0.010, 0},
                                         SteadyCase{60, 0, 3, 0.020, 0}));

TEST(TempoFit, FollowsAHeldChangeThatTheRulesForSlipsWouldReadAwayAsSlips) {
    // From 120 BPM to a tempo whose strikes fit two or three notes (half, a third of the
    // tempo), a bounce (twice), or lie far between: eight strikes later the line reads it.
    for (const double to : {90.0, 80.0, 72.0, 60.0, 40.0, 180.0, 240.0}) {
        for (int player = 0; player < 10; ++player) {
            TempoFit fit;
            std::mt19937 random(static_cast<unsigned>(player));
            std::normal_distribution<double> jitter(0.0, 0.009);
            double t = 1000.0;
            for (int i = 0; i < 8; ++i, t += 0.5) {
                fit.add(t + jitter(random), 0);
            }
            t += 60.0 / to - 0.5;
            for (int i = 0; i < 8; ++i, t += 60.0 / to) {
                fit.add(t + jitter(random), 0);
            }
            EXPECT_NEAR(*fit.tempo(), to, 0.02 * to) << "player " << player;
        }
    }
}

TEST(TempoFit, AChangeOfNoteValueStartsANewLineAtItsFirstStrike) {
    // Quarters at 120 BPM, a hand off the keys to switch, then eighths of the same
    // beat: however long the switch took, the new line reads 120 from its second strike.
    for (const double gap : {0.25, 0.8, 1.3, 1.9}) {
        TempoFit fit;
        std::mt19937 random(7);
        std::normal_distribution<double> jitter(0.0, 0.008);
        double t = 1000.0;
        for (int i = 0; i < 9; ++i, t += 0.5) {
            fit.add(t + jitter(random), 0);
        }
        t += gap - 0.5;
        for (int i = 0; i < 12; ++i, t += 0.25) {
            fit.add(t + jitter(random), 1);
            EXPECT_EQ(fit.strikes(), i + 1) << gap;
        }
        EXPECT_NEAR(*fit.tempo(), 120.0, 1.0) << gap;
    }
    // Back to the same note value by way of the others is no change.
    TempoFit fit = fed({10.0, 10.5, 11.0});
    fit.add(11.5, 0);
    EXPECT_EQ(fit.strikes(), 4);
}

// A player at 120 BPM with 10 ms of jitter who slips once after twelve beats; the
// line must read every strike at the beat it belongs to.
struct SlipCase {
    const char* name;
    double at;             // where the odd strike falls, in beats; NAN: none
    std::vector<int> gone; // beats the player misses
    int strikes;           // in the line afterwards
};

class Slips : public testing::TestWithParam<SlipCase> {};

TEST_P(Slips, LeaveEachStrikeOnItsBeat) {
    const std::vector<double> t = player(3, 0.5, 0.010, 20);
    std::vector<double> p, kept, readings;
    for (int b = 0; b < 20; ++b) {
        if (std::count(GetParam().gone.begin(), GetParam().gone.end(), b) == 0) {
            readings.push_back(t[static_cast<std::size_t>(b)]);
            p.push_back(b);
            kept.push_back(t[static_cast<std::size_t>(b)]);
        }
        if (b == 12 && !std::isnan(GetParam().at)) {
            readings.push_back(30000.0 + 0.5 * GetParam().at);
        }
    }
    const TempoFit fit = fed(readings);
    EXPECT_EQ(fit.strikes(), GetParam().strikes);
    EXPECT_NEAR(*fit.tempo(), fitted(p, kept).tempo(), 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Players, Slips,
                         testing::Values(SlipCase{"MissedBeat", NAN, {13}, 19},
                                         SlipCase{"TwoMissedBeats", NAN, {13, 14}, 18},
                                         SlipCase{"Bounce", 12.25, {}, 20},
                                         SlipCase{"GhostTapBeforeTheBeat", 12.8, {}, 20},
                                         SlipCase{"MissedBeatEarlyOn", NAN, {6}, 19}),
                         [](const auto& info) { return std::string(info.param.name); });

// A late strike of a steady player: read as two or three notes only when it fits them
// within the line's allowance and the line has six strikes to judge it by.
TEST(TempoFit, LateStrikesAreMissedBeatsOnlyNearTwoOrThreeNotes) {
    const struct {
        int before;   // strikes in the line
        double notes; // after the last of them
        double read_as;
    } cases[] = {{12, 1.55, 1}, {12, 2.0, 2}, {12, 3.0, 3}, {6, 2.0, 2}, {5, 2.0, 1}};
    for (const auto& c : cases) {
        std::vector<double> readings = player(5, 1.0, 0.010, c.before), p = positions(c.before);
        readings.push_back(readings.back() + c.notes);
        p.push_back(c.before - 1 + c.read_as);
        EXPECT_NEAR(*fed(readings).tempo(), fitted(p, readings).tempo(), 1e-9)
            << c.before << " " << c.notes;
    }
}

// Two strikes within one note, the first early on the beat by the given time:
// beyond the line's allowance (4 of its judged spreads, or of the 3 ms floor) they
// are one note and a bounce, and the nearer of the two counts; within it, the early
// one is an uneven note of its own.
TEST(TempoFit, AnEarlyStrikeIsABounceOnlyBeyondTheLinesAllowance) {
    const struct {
        double jitter, first, second; // off the beat; NAN: the player's own strike
        bool first_counts;
    } cases[] = {{0.010, -0.043, NAN, true},
                 {0.010, -0.0516, NAN, false},  // 0.9, 1.1 allowances
                 {0.010, -0.0516, 0.098, true}, // then a bounce
                 {0.001, -0.0129, NAN, true},
                 {0.001, -0.0157, NAN, false}}; // the floor's
    for (const auto& c : cases) {
        const std::vector<double> t = player(1, 0.5, c.jitter, 21);
        std::vector<double> readings(t.begin(), t.end() - 1), expected = readings;
        readings.push_back(30010.0 + c.first);
        readings.push_back(std::isnan(c.second) ? t.back() : 30010.0 + c.second);
        expected.push_back(readings[c.first_counts ? 20 : 21]);
        const TempoFit fit = fed(readings);
        EXPECT_EQ(fit.strikes(), 21) << c.first;
        EXPECT_NEAR(*fit.tempo(), fitted(positions(21), expected).tempo(), 1e-9) << c.first;
    }
}

// At 180 BPM with 35 ms of jitter a slip among the first strikes looks like uneven
// tapping; two strikes later the step it leaves shows (by 4 spreads), and the line
// reads them again.
TEST(TempoFit, ReadsTheLatestStrikesAgainWhenASlipShowsLater) {
    const double beat = 60.0 / 180;
    for (const bool missed : {true, false}) {
        const std::vector<double> t = player(missed ? 9 : 21, beat, 0.035, 14);
        std::vector<double> readings, p, kept;
        for (int b = 0; b < 10; ++b) {
            if (missed && b == 6) {
                continue;
            }
            readings.push_back(t[static_cast<std::size_t>(b)]);
            p.push_back(b);
            kept.push_back(readings.back());
            if (!missed && b == 5) {
                readings.push_back(readings.back() + 0.3 * beat); // an extra tap
            }
        }
        const TempoFit fit = fed(readings);
        EXPECT_EQ(fit.strikes(), static_cast<int>(p.size())) << missed;
        EXPECT_NEAR(*fit.tempo(), fitted(p, kept).tempo(), 1e-9) << missed;
    }
    // A sloppy player at 240 BPM whose latest strikes would fit a note later better
    // by only 3.7 spreads (4 are needed) is read as struck.
    const std::vector<double> t = player(21, 0.25, 0.035, 16);
    const TempoFit fit = fed(t);
    EXPECT_EQ(fit.strikes(), 16);
    EXPECT_NEAR(*fit.tempo(), fitted(positions(16), t).tempo(), 1e-9);
}

// A pause starts a new line when it is over 2 s and over four of the line's notes.
TEST(TempoFit, APauseIsOverTwoSecondsAndFourNotes) {
    const std::vector<double> t = player(4, 1.2, 0.010, 8); // 50 BPM
    for (const auto& [notes, strikes] : {std::pair{3.0, 9}, std::pair{5.0, 1}}) {
        std::vector<double> readings = t, p = positions(8);
        readings.push_back(t.back() + notes * 1.2);
        p.push_back(7 + notes);
        const TempoFit fit = fed(readings);
        EXPECT_EQ(fit.strikes(), strikes) << notes;
        if (strikes > 1) {
            EXPECT_NEAR(*fit.tempo(), fitted(p, readings).tempo(), 1e-9);
        }
    }
    TempoFit fast = fed(player(4, 0.25, 0.005, 8));
    fast.add(30000 + 7 * 0.25 + 1.9, 0); // eight notes, but under 2 s
    EXPECT_EQ(fast.strikes(), 9);
}

// 14 strikes at 120 BPM, then a held change of tempo from the 14th on: the line starts
// again at the 14th strike when the fourth strike from it shows the bend clearly
// enough (F above 40), and reads the new tempo from there, in the player's notes.
TEST(TempoFit, FollowsAChangeOfTempoFromTheSplit) {
    const struct {
        std::int16_t notemode;
        double bpm;
        unsigned seed;
    } cases[] = {{0, 110, 8}, {1, 100, 5}}; // F 47.3 and 84.7 at the fourth strike
    for (const auto& c : cases) {
        const double beats = c.notemode == 0 ? 1.0 : 0.5;
        std::vector<double> t = player(c.seed, 0.5 * beats, 0.010, 18);
        for (std::size_t i = 14; i < t.size(); ++i) {
            t[i] += (i - 13) * (60.0 / c.bpm - 0.5) * beats;
        }
        TempoFit fit;
        for (std::size_t i = 0; i < t.size(); ++i) {
            fit.add(t[i], c.notemode);
            EXPECT_EQ(fit.strikes(), i < 16 ? static_cast<int>(i) + 1 : static_cast<int>(i) - 12)
                << i;
        }
        const std::vector<double> since(t.begin() + 13, t.end());
        const Line expected = fitted(positions(5, beats), since);
        EXPECT_NEAR(*fit.tempo(), expected.tempo(), 1e-9);
        // The split starts the new line in its place within the beat: the fourteenth
        // eighth is an "and", half a beat before the line's next whole beat.
        const double place = std::fmod(13 * beats, 1.0);
        EXPECT_NEAR(*fit.beat(), expected.at(std::floor(place + 4 * beats) - place), 1e-9);
    }
    // One wild tap, 60 ms late, bends a steady player's latest strikes to F 34.2,
    // short of a change: the line keeps them.
    std::vector<double> wild = player(151, 0.5, 0.010, 16);
    wild[11] += 0.060;
    EXPECT_EQ(fed(wild).strikes(), 16);
}

// A mistimed second or third tap, then steady ones: once eight strikes follow the
// first three, those of the three that lie off the later strikes' line (by 0.2 of a
// note or 4 of its judged spreads, whichever is more) are dropped.
struct StartCase {
    double note, jitter; // of the later strikes
    unsigned seed;
    std::vector<double> start; // the first four strikes, in notes
    std::vector<int> dropped;
};

class BadStart : public testing::TestWithParam<StartCase> {};

TEST_P(BadStart, IsDroppedOnceEightStrikesFollow) {
    const auto& [note, jitter, seed, start, dropped] = GetParam();
    std::vector<double> readings, p, kept;
    for (const double at : start) {
        readings.push_back(30 + at * note);
    }
    const std::vector<double> later = player(seed, note, jitter, 7, 30 + (start.back() + 1) * note);
    readings.insert(readings.end(), later.begin(), later.end());
    for (std::size_t i = 0; i < readings.size(); ++i) {
        if (std::count(dropped.begin(), dropped.end(), static_cast<int>(i)) == 0) {
            p.push_back(static_cast<double>(i));
            kept.push_back(readings[i]);
        }
    }
    TempoFit fit = fed(std::vector<double>(readings.begin(), readings.end() - 1));
    EXPECT_EQ(fit.strikes(), 10);
    fit.add(readings.back(), 0);
    EXPECT_EQ(fit.strikes(), static_cast<int>(kept.size()));
    EXPECT_NEAR(*fit.tempo(), fitted(p, kept).tempo(), 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Taps, BadStart,
    testing::Values(StartCase{1.0, 0.010, 2, {0, 1.3, 2, 3}, {1}}, // late
                    StartCase{1.0, 0.010, 2, {0, 1, 1.7, 3}, {2}}, // early
                    StartCase{1.0, 0.010, 2, {0, 0.1, 1, 2}, {0}}, // bounce
                    StartCase{1.0, 0.010, 2, {0, 2, 3, 4}, {0}},   // missed
                    // A sloppy player's spreads allow 277 ms at the second strike.
                    StartCase{0.5, 0.035, 3, {0, 1.6, 2, 3}, {1}},
                    StartCase{0.5, 0.035, 3, {0, 1.3, 2, 3}, {}}));

TEST(TempoFit, BeatIsTheLinesLatestWholeBeat) {
    // Exact strikes at 100 BPM from 86,399 s, across midnight: the beat is a reading
    // of the first strike's day, past 86,400.
    for (const std::int16_t notemode : {0, 1, 2}) {
        const double note = 0.6 / (notemode + 1);
        for (const int count : {2, 5, 6, 7}) {
            TempoFit fit;
            for (int i = 0; i < count; ++i) {
                fit.add(std::fmod(86399.0 + i * note, seconds_per_day), notemode);
            }
            const int whole = (count - 1) / (notemode + 1);
            EXPECT_NEAR(*fit.beat(), 86399.0 + whole * 0.6, 1e-9) << notemode << " " << count;
        }
    }
    // A missed beat counts as its two notes.
    EXPECT_NEAR(*fed({100, 100.6, 101.2, 101.8, 102.4, 103, 104.2}).beat(), 104.2, 1e-9);
    // Jittered players, 20 ms: the line's beat lies closer than the last strike's.
    double line_error = 0, last_error = 0;
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const std::vector<double> t = player(seed, 0.5, 0.020, 17);
        const double truth = 30000 + 16 * 0.5;
        line_error += std::fabs(*fed(t).beat() - truth);
        last_error += std::fabs(t.back() - truth);
        EXPECT_NEAR(*fed(t).beat(), truth, 0.03) << seed;
    }
    EXPECT_LT(line_error, last_error / 1.5);
}

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
    EXPECT_NEAR(*fit.tempo(), expected.tempo(), 1e-9 * expected.tempo());
    EXPECT_NEAR(*fit.standard_error(), expected.standard_error, 1e-6 * expected.standard_error);
    EXPECT_NEAR(*fit.beat(), start + expected.at(p.back()), 1e-6);
}

} // namespace
} // namespace tempocalc
