#include "press_time.h"

#include <gtest/gtest.h>

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
        Case{"StampsJumpingBackReadOnArrivalAndSoIsTheNextPress",
             taught({{101.0251, 100, 101.0251}, {101.52, 600, 101.52}, {102.03, 1100, 102.021}})},
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

} // namespace
} // namespace tempocalc
