#include "number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace tempocalc {
namespace {

struct Rendering {
    double value;
    std::string average;
    std::string tempo;
};

void PrintTo(const Rendering& r, std::ostream* os) {
    *os << exact_text(r.value);
}

class Renders : public testing::TestWithParam<Rendering> {};

TEST_P(Renders, BothTexts) {
    EXPECT_EQ(average_text(GetParam().value), GetParam().average);
    EXPECT_EQ(tempo_text(GetParam().value), GetParam().tempo);
}

INSTANTIATE_TEST_SUITE_P(
    Tempos, Renders,
    testing::Values(Rendering{120.5, "120.5", " 120.5"}, Rendering{120.0, "120.", " 120"},
                    Rendering{60.0 / 0.7, "85.714", " 85.714"}, Rendering{0.6, "0.6", " .6"},
                    Rendering{60.0 / 43200.0, "0.001", " .001"},
                    Rendering{-60.0 / 86399.0, "-0.001", "-.001"}, Rendering{0.0, "0.", " 0"},
                    Rendering{-0.0, "0.", " 0"}, Rendering{-120.25, "-120.25", "-120.25"},
                    Rendering{-2.5, "-2.5", "-2.5"}));

INSTANTIATE_TEST_SUITE_P(RoundingToThreeDecimals, Renders,
                         testing::Values(
                             // Rounds up into the next whole number, carrying through every digit.
                             Rendering{99.9996, "100.", " 100"},
                             Rendering{-99.9996, "-100.", "-100"},
                             Rendering{9999.9999, "10000.", " 10000"},
                             // Negative values that round to zero carry no minus sign.
                             Rendering{-0.0004, "0.", " 0"}, Rendering{-1e-300, "0.", " 0"},
                             Rendering{5e-324, "0.", " 0"},
                             // Exact halves (odd sixteenths) go away from zero.
                             Rendering{0.0625, "0.063", " .063"},
                             Rendering{-0.0625, "-0.063", "-.063"},
                             Rendering{120.1875, "120.188", " 120.188"},
                             Rendering{1.9375, "1.938", " 1.938"}, Rendering{1.9995, "2.", " 2"},
                             // Rounding reads the double's exact value: the double nearest 0.0005
                             // lies just above it, the one nearest 1.0005 just below.
                             Rendering{0.0005, "0.001", " .001"}, Rendering{1.0005, "1.", " 1"},
                             Rendering{0.1235, "0.123", " .123"}));

INSTANTIATE_TEST_SUITE_P(
    LargeNumbersInFull, Renders,
    testing::Values(Rendering{123456.789, "123456.789", " 123456.789"},
                    Rendering{60.0 / 0.005, "12000.", " 12000"},
                    Rendering{1e15, "1000000000000000.", " 1000000000000000"},
                    Rendering{-12345678901.5, "-12345678901.5", "-12345678901.5"},
                    // 2^48 + 1/16 is a half at three decimals with no room for a nudge.
                    Rendering{281474976710656.0625, "281474976710656.063",
                              " 281474976710656.063"}));

TEST(AverageText, UsesTheRegionalSeparatorWhileTheTempoTextKeepsThePoint) {
    EXPECT_EQ(average_text(85.7142857, ","), "85,714");
    EXPECT_EQ(average_text(120.0, ","), "120,");
    EXPECT_EQ(average_text(0.0, ","), "0,");
    EXPECT_EQ(average_text(1.5, "\u066B"), "1\u066B5"); // Arabic decimal separator
    EXPECT_EQ(tempo_text(85.7142857), " 85.714");
}

TEST(AverageText, ShowsEveryDigitOfTheLargestDouble) {
    const std::string text = average_text(std::numeric_limits<double>::max());
    EXPECT_EQ(text.size(), 310u);
    EXPECT_EQ(text.substr(0, 6), "179769");
    EXPECT_EQ(text.back(), '.');
    EXPECT_EQ(tempo_text(-std::numeric_limits<double>::max()).size(), 310u);
}

TEST(Renderings, RefuseWhatIsNotANumber) {
    for (const double bad : {std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(), std::nan("")}) {
        EXPECT_THROW(average_text(bad), std::invalid_argument);
        EXPECT_THROW(tempo_text(bad), std::invalid_argument);
    }
    EXPECT_THROW(average_text(1.0, ""), std::invalid_argument);
}

TEST(AverageValue, ReadsAnAverageTextBackAndNothingElse) {
    for (const double x : {0.0, 120.0, 85.7142857, 0.0625, 12345678.9}) {
        for (const std::string_view separator : {".", ",", "\xD9\xAB"}) {
            const std::string text = average_text(x, separator);
            EXPECT_EQ(average_value(text, separator), std::stod(average_text(x))) << text;
        }
    }
    for (const std::string_view other : {"average", "", "1.2.3", "12,5", "1e5.", " 1."}) {
        EXPECT_FALSE(average_value(other, ".")) << other;
    }
}

} // namespace
} // namespace tempocalc
