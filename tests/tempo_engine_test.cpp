#include "tempo_engine.h"

#include "number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace tempocalc {
namespace {

constexpr std::int16_t one = 1;

// Runs f, which must throw RunTimeError, and returns the error's number.
template <typename F> int run_time_error_of(F&& f) {
    try {
        f();
    } catch (const RunTimeError& e) {
        return e.number();
    }
    ADD_FAILURE() << "no RunTimeError";
    return 0;
}

TEST(RunTimeError, CarriesItsNumberAndDescription) {
    EXPECT_EQ(RunTimeError(11).number(), 11);
    EXPECT_STREQ(RunTimeError(11).what(), "Division by zero");
    EXPECT_STREQ(RunTimeError(6).what(), "Overflow");
}

struct NoteCase {
    std::int16_t notemode;
    double divisor;
    double tempo_of_half_second;
};

void PrintTo(const NoteCase& c, std::ostream* os) {
    *os << "notemode " << c.notemode;
}

class TempoByNoteValue : public testing::TestWithParam<NoteCase> {};

TEST_P(TempoByNoteValue, ScalesToQuarterNoteBeatsAndStoresTheDivisor) {
    TempoState s;
    s.notemode = GetParam().notemode;
    const double tt = 0.5;
    EXPECT_EQ(tempo(s, tt, one), GetParam().tempo_of_half_second);
    EXPECT_EQ(s.divisor, GetParam().divisor);
}

INSTANTIATE_TEST_SUITE_P(Notes, TempoByNoteValue,
                         testing::Values(NoteCase{0, 60.0, 120.0}, NoteCase{1, 30.0, 60.0},
                                         NoteCase{2, 20.0, 40.0}));

TEST(Tempo, DividesTwiceInOrderBitForBit) {
    // For these intervals 60 / tt differs from 1 / (tt / 60) in the last bit.
    TempoState s;
    for (const double tt : {1.62, 0.251, 1.704, 1.499}) {
        const double expected = 1.0 / (tt / 60.0);
        ASSERT_NE(expected, 60.0 / tt);
        EXPECT_EQ(tempo(s, tt, one), expected) << tt;
    }
    const std::int16_t three = 3;
    EXPECT_EQ(tempo(s, 1.62, three), 3.0 / (1.62 / 60.0));
}

TEST(Tempo, NegativeIntervalGivesNegativeTempo) {
    TempoState s;
    EXPECT_DOUBLE_EQ(tempo(s, -86399.0, one), -60.0 / 86399.0);
}

struct FailingTempo {
    const char* name;
    std::int16_t notemode;
    double divisor;
    double tt;
    int error;
};

void PrintTo(const FailingTempo& c, std::ostream* os) {
    *os << c.name;
}

class TempoFails : public testing::TestWithParam<FailingTempo> {};

TEST_P(TempoFails, WithTheRunTimeErrorOfTheFailingDivision) {
    const auto& c = GetParam();
    TempoState s;
    s.notemode = c.notemode;
    s.divisor = c.divisor;
    EXPECT_EQ(run_time_error_of([&] { tempo(s, c.tt, one); }), c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, TempoFails,
    testing::Values(FailingTempo{"ZeroInterval", 0, 0, 0.0, 11},
                    // tt / 60 underflows to zero, and 1 / 0 divides by zero.
                    FailingTempo{"UnderflowingInterval", 0, 0, 1e-323, 11},
                    // tt / 60 is tiny but not zero: 1 / it overflows.
                    FailingTempo{"OverflowingTempo", 0, 0, 1e-310, 6},
                    // An unknown note mode on a fresh state divides by a divisor of 0.
                    FailingTempo{"NoDivisorYet", 9, 0, 0.5, 11},
                    FailingTempo{"ZeroByZero", 9, 0, 0.0, 6},
                    FailingTempo{"NotANumber", 0, 0, std::nan(""), 6}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Tempo, ZeroIntervalStillSetsTheDivisor) {
    TempoState s;
    s.notemode = 2;
    EXPECT_THROW(tempo(s, 0.0, one), RunTimeError);
    EXPECT_EQ(s.divisor, 20.0);
}

// Strikes at each reading and collects what the boxes show.
struct Strikes {
    TempoState state;
    std::vector<std::string> tempos;
    std::vector<std::string> averages;

    void at(double reading, std::string_view separator = ".") {
        Shown shown;
        strike(state, reading, shown, separator);
        tempos.push_back(shown.text2.value());
        averages.push_back(shown.text1.value());
    }
};

TEST(Strike, FirstStrikeMeasuresFromZeroAndIsLeftOutOfTheAverage) {
    Strikes run;
    run.at(100.0);
    EXPECT_EQ(run.tempos.back(), " .6");
    EXPECT_EQ(run.averages.back(), "0.");
    EXPECT_EQ(run.state.tapcount, 1);
    EXPECT_EQ(run.state.prevtime, 100.0);
    EXPECT_EQ(run.state.tempototal, 0.0);

    run.at(100.5);
    EXPECT_EQ(run.state.curtempo, 120.0);
    EXPECT_EQ(run.state.tempototal, 120.0);
    EXPECT_EQ(run.state.avetempo, 120.0);
    EXPECT_EQ(run.state.tapcount, 2);

    run.at(101.0);
    EXPECT_EQ(run.state.tempototal, 240.0);
    EXPECT_EQ(run.state.avetempo, 120.0);
    EXPECT_EQ(run.state.tapcount, 3);
    EXPECT_EQ(run.tempos, (std::vector<std::string>{" .6", " 120", " 120"}));
    EXPECT_EQ(run.averages, (std::vector<std::string>{"0.", "120.", "120."}));
}

TEST(Strike, AveragesTheTemposOfTheSecondStrikeOn) {
    Strikes run;
    for (const double reading : {10.0, 10.5, 10.75, 11.45}) {
        run.at(reading);
    }
    EXPECT_EQ(run.tempos, (std::vector<std::string>{" 6", " 120", " 240", " 85.714"}));
    EXPECT_EQ(run.averages, (std::vector<std::string>{"0.", "120.", "180.", "148.571"}));
    EXPECT_EQ(run.state.avetempo, run.state.tempototal / 3.0);
}

TEST(Strike, UsesTheNoteValueSelectedBeforeIt) {
    Strikes run;
    run.at(50.0);
    Shown shown;
    notetoggle(run.state, shown);
    EXPECT_EQ(run.state.divisor, 60.0); // follows at the next strike
    run.at(50.5);
    EXPECT_EQ(run.tempos.back(), " 60");
    EXPECT_EQ(run.state.divisor, 30.0);
}

TEST(Strike, AcrossMidnightAddsADay) {
    Strikes run;
    run.at(86398.5);
    run.at(86399.5);
    run.at(0.5);
    run.at(1.5);
    EXPECT_EQ(run.state.interval, 1.0);
    EXPECT_EQ(run.tempos, (std::vector<std::string>{" .001", " 60", " 60", " 60"}));
    EXPECT_EQ(run.averages.back(), "60.");
}

TEST(Strike, AtTheLastInstantOfTheDayAndThenMidnight) {
    Strikes run;
    run.at(86399.0);
    run.at(86400.0);
    EXPECT_EQ(run.tempos.back(), " 60");
    run.at(0.25);
    EXPECT_EQ(run.tempos.back(), " 240");
}

TEST(Strike, ShowsTheAverageWithTheGivenSeparator) {
    Strikes run;
    run.at(1.0, ",");
    run.at(1.7, ",");
    EXPECT_EQ(run.averages, (std::vector<std::string>{"0,", "85,714"}));
    EXPECT_EQ(run.tempos.back(), " 85.714");
}

TEST(Strike, EqualReadingsDivideByZeroBeforeShowingAnything) {
    Strikes run;
    run.at(20.0);
    run.at(20.5);
    TempoState s = run.state;
    Shown shown{"stale", "stale", "stale"};
    EXPECT_EQ(run_time_error_of([&] { strike(s, 20.5, shown); }), 11);
    EXPECT_EQ(shown.text1, std::nullopt);
    EXPECT_EQ(shown.text2, std::nullopt);
    EXPECT_EQ(shown.text3, std::nullopt);
    // curtime, interval and divisor were set before the division; nothing after it.
    TempoState expected = run.state;
    expected.interval = 0.0;
    EXPECT_EQ(s, expected);

    // The next strike measures from the last good one.
    strike(s, 21.0, shown);
    EXPECT_EQ(shown.text2, " 120");
    EXPECT_EQ(s.tapcount, 3);
}

TEST(Strike, FirstStrikeAtMidnightDividesByZero) {
    TempoState s;
    Shown shown;
    EXPECT_EQ(run_time_error_of([&] { strike(s, 0.0, shown); }), 11);
    EXPECT_EQ(s.tapcount, 0);
}

TEST(Strike, CountOverflowAfterShowingBothTexts) {
    TempoState s;
    s.tapcount = std::numeric_limits<std::int32_t>::max();
    s.prevtime = 1.0;
    Shown shown;
    EXPECT_EQ(run_time_error_of([&] { strike(s, 1.5, shown); }), 6);
    EXPECT_EQ(shown.text2, " 120");
    EXPECT_EQ(shown.text1, average_text(120.0 / std::numeric_limits<std::int32_t>::max()));
    EXPECT_EQ(s.tapcount, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(s.prevtime, 1.5);
}

TEST(Strike, OverflowingSumIsAnOverflowAfterTheTempoIsShown) {
    TempoState s;
    s.tapcount = 5;
    Shown shown;
    // A first interval of 1e-300 s: a tempo near 6e301, which the sum cannot hold.
    s.tempototal = std::numeric_limits<double>::max();
    EXPECT_EQ(run_time_error_of([&] { strike(s, 1e-300, shown); }), 6);
    EXPECT_EQ(shown.text2.value().substr(0, 4), " 600");
    EXPECT_EQ(shown.text2.value().size(), 1u + 302u);
    EXPECT_FALSE(shown.text1.has_value());
    EXPECT_EQ(s.tempototal, std::numeric_limits<double>::max());
    EXPECT_EQ(s.tapcount, 5);
}

class RefusedReading : public testing::TestWithParam<double> {};

TEST_P(RefusedReading, ChangesNothingAndShowsNothing) {
    Strikes run;
    run.at(30.0);
    run.at(30.5);
    TempoState s = run.state;
    Shown shown{"stale", std::nullopt, std::nullopt};
    try {
        strike(s, GetParam(), shown);
        FAIL() << "accepted " << GetParam();
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find(exact_text(GetParam())), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(s, run.state);
    EXPECT_FALSE(shown.text1 || shown.text2 || shown.text3);
}

INSTANTIATE_TEST_SUITE_P(NotTimesOfDay, RefusedReading,
                         testing::Values(std::nan(""), std::numeric_limits<double>::infinity(),
                                         -std::numeric_limits<double>::infinity(), -0.001,
                                         -std::numeric_limits<double>::denorm_min(), 86400.001,
                                         std::numeric_limits<double>::max()));

TEST(Strike, RefusesAnEmptySeparatorWithoutChangingAnything) {
    TempoState s;
    Shown shown;
    EXPECT_THROW(strike(s, 5.0, shown, ""), std::invalid_argument);
    EXPECT_EQ(s, TempoState{});
}

TEST(NoteToggle, CyclesQuarterEighthTwelfth) {
    TempoState s;
    std::vector<std::string> shown_texts;
    for (int i = 0; i < 3; ++i) {
        Shown shown;
        notetoggle(s, shown);
        EXPECT_FALSE(shown.text1 || shown.text2);
        shown_texts.push_back(shown.text3.value());
    }
    EXPECT_EQ(shown_texts, (std::vector<std::string>{"1/8 note", "1/12 note", "1/4 note"}));
    EXPECT_EQ(s, TempoState{});
}

TEST(Initialize, ReturnsToAFreshStart) {
    Strikes run;
    for (const double reading : {40.0, 40.5, 41.0}) {
        run.at(reading);
    }
    Shown shown;
    notetoggle(run.state, shown);
    initialize(run.state, shown);
    EXPECT_EQ(run.state, TempoState{});
    EXPECT_EQ(shown.text1, "average");
    EXPECT_EQ(shown.text2, "tempo");
    EXPECT_EQ(shown.text3, "1/4 note");

    // The next strike is a first strike again.
    run.at(43200.0);
    EXPECT_EQ(run.tempos.back(), " .001");
    EXPECT_EQ(run.averages.back(), "0.");
    EXPECT_EQ(run.state.tapcount, 1);
}

} // namespace
} // namespace tempocalc
