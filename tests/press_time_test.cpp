#include "press_time.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace tempocalc {
namespace {

struct Press {
    double arrival;
    std::uint64_t stampMs;
    double reading;
};

struct Case {
    const char* name;
    std::vector<Press> presses;
};

class PressTimeFilterCases : public testing::TestWithParam<Case> {};

TEST_P(PressTimeFilterCases, ReadsEachPressAsExpected) {
    PressTimeFilter filter;
    for (const Press& p : GetParam().presses) {
        EXPECT_NEAR(filter.reading(p.arrival, p.stampMs), p.reading, 1e-7) << p.arrival;
    }
}

// Two presses on time teach the offset: 99.0004 s between the stamps and our clock.
std::vector<Press> taught(std::vector<Press> then) {
    then.insert(then.begin(), {{100.0004, 1000, 100.0004}, {100.5007, 1500, 100.5007}});
    return then;
}

constexpr std::uint64_t wrapsAt = std::uint64_t{1} << 32;

INSTANTIATE_TEST_SUITE_P(
    PressTime, PressTimeFilterCases,
    testing::Values(
        Case{"DelayedArrivalReadAtItsStampPlusOneMs", taught({{101.0251, 2000, 101.0014}})},
        Case{"ArrivalEarlierThanStampPlusOneMsKept", taught({{101.0009, 2000, 101.0009}})},
        Case{"StampedBeforeThePreviousPressReadOnArrival", taught({{100.5100, 1496, 100.5100}})},
        Case{"StampZeroReadOnArrivalAndEstimateStartsAgain",
             taught({{101.0251, 0, 101.0251}, {101.52, 2500, 101.52}, {102.03, 3000, 102.021}})},
        Case{
            "StampsJumpingBackReadOnArrivalThenAtTheNewOffsetFromTheSecondPress",
            taught({{101.0251, 100, 101.0251}, {101.54, 600, 101.5261}, {102.03, 1100, 102.0261}})},
        Case{"LoneFarOffsetsThatDisagreeLeaveTheEstimateAlone", taught({{103.0004, 2000, 101.0014},
                                                                        {103.2, 2300, 101.3014},
                                                                        {103.52, 4500, 103.5014}})},
        Case{"StampsJumpingAheadReadOnArrivalThenAtTheNewOffset",
             taught({{101.03, 5000, 101.03}, {101.52, 5500, 101.52}, {102.04, 6000, 102.021}})},
        Case{"StampCounterWrapsAt32Bits",
             {{100.0004, wrapsAt - 1000, 100.0004},
              {100.5007, wrapsAt - 500, 100.5007},
              {101.0251, 1, 101.0024}}},
        Case{"AcrossMidnightReadOnEitherSide",
             {{86398.9904, 1000, 86398.9904},
              {86399.4907, 1500, 86399.4907},
              {0.0151, 2000, 86399.9914},
              {0.4952, 2500, 0.4914}}}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// Seeded uneven taps at 120 BPM, a third of them reaching the program 4-35 ms late, with
// stamps of other bases and rates; the reading stays within 2.5 ms of when the press
// reached an idle program, and never goes backwards.
struct Stamps {
    const char* name;
    double base; // seconds
    double rate; // stamp seconds per second of ours
};

class PressTimeFilterUnderLoad : public testing::TestWithParam<Stamps> {};

TEST_P(PressTimeFilterUnderLoad, ReadsEveryPressWithinTwoAndAHalfMs) {
    std::mt19937 random(7);
    std::normal_distribution<double> jitter(0, 0.015);
    std::uniform_real_distribution<double> unit(0, 1);
    PressTimeFilter filter;
    double last = 0;
    for (int k = 0; k < 400; ++k) {
        const double pressed = 1000 + 0.5 * k + jitter(random);
        const double idle = pressed + 0.0003 + 0.0002 * unit(random);
        const double arrival = unit(random) < 0.3 ? idle + 0.004 + 0.031 * unit(random) : idle;
        const auto stamp = static_cast<std::uint64_t>(
            std::floor((GetParam().base + pressed * GetParam().rate) * 1000));
        const double reading = filter.reading(arrival, stamp % wrapsAt);
        EXPECT_NEAR(reading, idle, 0.0025) << k;
        EXPECT_GE(reading, last) << k;
        last = reading;
    }
}

INSTANTIATE_TEST_SUITE_P(
    PressTime, PressTimeFilterUnderLoad,
    testing::Values(Stamps{"OurBase", 0, 1}, Stamps{"BaseAheadThatWraps", 4'293'867, 1},
                    Stamps{"DriftingFast", 5000, 1.0001}, Stamps{"DriftingSlow", 5000, 0.9999}),
    [](const testing::TestParamInfo<Stamps>& info) { return info.param.name; });

// Seeded uneven taps (3 % of the period off the beat), all but the first few reaching
// the program 4-35 ms late a third of the time, as on a busy machine.
struct Tap {
    double pressed; // when the key went down, on our clock
    double arrival;
};

std::vector<Tap> unevenTaps(double period, double seconds, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> jitter(0, 0.03 * period);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Tap> taps;
    for (int k = 0; k * period < seconds; ++k) {
        const double pressed = 1000 + period * k + jitter(random);
        const double idle = pressed + 0.0003 + 0.0002 * unit(random);
        const bool late = unit(random) < 0.3 && k >= 4;
        taps.push_back({pressed, late ? idle + 0.004 + 0.031 * unit(random) : idle});
    }
    return taps;
}

// The input system's clock: 5000 s ahead of ours, counting whole milliseconds.
std::uint64_t stampOf(double pressed, double clockMoved = 0) {
    return static_cast<std::uint64_t>(std::floor((5000 + pressed + clockMoved) * 1000));
}

constexpr double twelfthNotesAt120 = 60.0 / 120 / 3;
constexpr double twelfthNotesAt180 = 60.0 / 180 / 3;

struct HoldUp {
    const char* name;
    double period;  // seconds between taps
    double seconds; // how long the window's thread is held up
};

class PressTimeFilterHeldUp : public testing::TestWithParam<HoldUp> {};

TEST_P(PressTimeFilterHeldUp, ReadsEveryQueuedPressAtItsOwnStamp) {
    std::vector<Tap> taps = unevenTaps(GetParam().period, 30, 11);
    // Every press due while the thread is held comes through, in order, as it returns.
    const double from = 1010;
    const double to = from + GetParam().seconds;
    int queued = 0;
    for (Tap& t : taps) {
        if (t.arrival >= from && t.arrival < to) {
            t.arrival = to + 20e-6 * ++queued;
        }
    }
    ASSERT_GE(queued, static_cast<int>(GetParam().seconds / GetParam().period) - 1);

    PressTimeFilter filter;
    double last = 0;
    for (std::size_t k = 0; k < taps.size(); ++k) {
        const double reading = filter.reading(taps[k].arrival, stampOf(taps[k].pressed));
        EXPECT_NEAR(reading, taps[k].pressed, 0.002) << k;
        EXPECT_GT(reading, last) << k;
        last = reading;
    }
}

INSTANTIATE_TEST_SUITE_P(
    PressTime, PressTimeFilterHeldUp,
    testing::Values(HoldUp{"OneSecondAndAFifthAt120", 0.5, 1.2},
                    HoldUp{"FiveSecondsAt120", 0.5, 5.0},
                    HoldUp{"OneSecondAndAFifthInTwelfthNotes", twelfthNotesAt120, 1.2},
                    HoldUp{"FiveSecondsInTwelfthNotes", twelfthNotesAt120, 5.0},
                    HoldUp{"FiveSecondsInTwelfthNotesAt180", twelfthNotesAt180, 5.0}),
    [](const testing::TestParamInfo<HoldUp>& info) { return info.param.name; });

struct ClockJump {
    const char* name;
    double period;
    double seconds; // how far the stamps move for good: ahead, or back where negative
};

class PressTimeFilterClockJump : public testing::TestWithParam<ClockJump> {};

// Across the jump no interval is off by more than the jump, beyond the lateness of its
// own presses; from the second press on each press is read at its stamp again, on a late
// press's offset until one since the jump came on time.
TEST_P(PressTimeFilterClockJump, NoticedWithinTwoPressesAndNoIntervalOffByMore) {
    const double jump = GetParam().seconds;
    const std::vector<Tap> taps = unevenTaps(GetParam().period, 30, 13);
    PressTimeFilter filter;
    std::size_t jumpedAt = 0;
    bool onTimeSinceJump = false;
    struct {
        double pressed, reading, lateness;
    } previous{};
    for (std::size_t k = 0; k < taps.size(); ++k) {
        const Tap& t = taps[k];
        const bool jumped = t.pressed >= 1010;
        if (jumped && jumpedAt == 0) {
            jumpedAt = k;
        }
        const double lateness = t.arrival - t.pressed;
        onTimeSinceJump = onTimeSinceJump || (jumped && lateness < 0.001);

        const double reading = filter.reading(t.arrival, stampOf(t.pressed, jumped ? jump : 0));
        EXPECT_LE(reading, t.arrival) << k;
        if (!jumped || (k > jumpedAt && onTimeSinceJump)) {
            EXPECT_NEAR(reading, t.pressed, 0.002) << k;
        } else if (k > jumpedAt) {
            EXPECT_NEAR(reading, t.pressed, 0.037) << k;
        }
        if (k > 0) {
            const double error = (reading - previous.reading) - (t.pressed - previous.pressed);
            EXPECT_LE(std::fabs(error),
                      std::fabs(jump) + 0.002 + std::max(lateness, previous.lateness))
                << k;
            EXPECT_GT(reading, previous.reading) << k;
        }
        previous = {t.pressed, reading, lateness};
    }
    ASSERT_GT(jumpedAt, 4u);
}

INSTANTIATE_TEST_SUITE_P(
    PressTime, PressTimeFilterClockJump,
    testing::Values(ClockJump{"BackThreeSecondsAt120", 0.5, -3},
                    ClockJump{"AheadThreeSecondsAt120", 0.5, 3},
                    ClockJump{"BackThreeSecondsInTwelfthNotes", twelfthNotesAt120, -3},
                    ClockJump{"BackLessThanAnIntervalAt40", 1.5, -1.2},
                    ClockJump{"AheadLessThanAnIntervalAt40", 1.5, 1.2}),
    [](const testing::TestParamInfo<ClockJump>& info) { return info.param.name; });

} // namespace
} // namespace tempocalc
