#include "tap_session.h"

#include "number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace tempocalc {
namespace {

// Where a strike arrives against the one before it, from another source.
struct OrderCase {
    const char* name;
    double last, reading;
    TapSession::Taken taken;
    TapSession::Source source = TapSession::Source::button; // the last strike's is the button
};

class StrikesFromTwoSources : public testing::TestWithParam<OrderCase> {};

TEST_P(StrikesFromTwoSources, FormOneSequence) {
    const OrderCase& c = GetParam();
    TapSession session;
    Shown shown;
    session.strike(c.last - 0.5, shown);
    session.strike(c.last, shown);
    const TempoState before = session.state();
    Shown after;
    EXPECT_EQ(session.strike(c.reading, after, c.source), c.taken);
    if (c.taken != TapSession::Taken::struck) {
        EXPECT_EQ(session.state(), before); // never an interval for the engine
        EXPECT_FALSE(after.text1 || after.text2);
        EXPECT_EQ(session.fit().strikes(), 2);
    } else {
        EXPECT_EQ(session.state().tapcount, 3);
        EXPECT_GT(session.state().curtempo, 0);
        EXPECT_EQ(session.fit().strikes(), 3);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Readings, StrikesFromTwoSources,
    testing::Values(
        OrderCase{"Later", 100.0, 100.4, TapSession::Taken::struck},
        OrderCase{"JustBefore", 100.0, 99.99, TapSession::Taken::same_beat},
        OrderCase{"TwentyMsBefore", 100.0, 99.98, TapSession::Taken::same_beat},
        OrderCase{"MoreThanThirtyMsBefore", 100.0, 99.96, TapSession::Taken::out_of_order},
        OrderCase{"AlmostHalfADayBefore", 50000.0, 6801.0, TapSession::Taken::out_of_order},
        OrderCase{"AfterMidnight", 86399.9, 0.2, TapSession::Taken::struck},
        OrderCase{"PedalOnTheKeysBeat", 100.0, 100.02, TapSession::Taken::same_beat,
                  TapSession::Source::pedal},
        OrderCase{"PedalOnTheNextBeat", 100.0, 100.04, TapSession::Taken::struck,
                  TapSession::Source::pedal},
        OrderCase{"KeyAgainAtOnce", 100.0, 100.02, TapSession::Taken::struck}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TapSession, InitializeForgetsTheStrikesAndTheLine) {
    TapSession session(".", AverageMethod::line);
    Shown shown;
    for (const double r : {500.0, 500.5, 501.0}) {
        session.strike(r, shown);
    }
    session.initialize(shown);
    EXPECT_EQ(session.fit().strikes(), 0);
    EXPECT_FALSE(session.average());
    // An earlier reading is a first strike again, not one out of order.
    EXPECT_EQ(session.strike(400.0, shown), TapSession::Taken::struck);
    session.strike(400.4, shown);
    EXPECT_EQ(*shown.text1, "150.");
    EXPECT_EQ(session.average(), 150.0);
}

TEST(TapSession, AveIsFilledByTheMethodChosenAndReadBackAsShown) {
    TapSession session(",");
    Shown shown;
    session.strike(10.0, shown);
    EXPECT_FALSE(session.average()); // "0," is no tempo yet
    for (const double r : {10.52, 11.0, 11.55, 12.0}) {
        session.strike(r, shown);
    }
    EXPECT_EQ(*shown.text1, "120,702");
    EXPECT_EQ(session.average(), 120.702);
    Shown switched;
    session.choose(AverageMethod::line, switched);
    ASSERT_TRUE(switched.text1);
    EXPECT_EQ(*switched.text1, average_text(*session.fit().tempo(), ","));
    EXPECT_NEAR(*session.average(), *session.fit().tempo(), 0.0005);
}

TEST(TapSession, GridIsTheLinesTempoAsAveShowsItWhicheverMethodFillsAve) {
    for (const AverageMethod method : {AverageMethod::mean, AverageMethod::line}) {
        TapSession session(".", method);
        Shown shown;
        session.strike(1000.0, shown);
        EXPECT_FALSE(session.grid());
        for (const double r : {1000.49, 1001.01, 1001.5}) {
            session.strike(r, shown);
        }
        ASSERT_TRUE(session.grid());
        EXPECT_EQ(session.grid()->bpm, *average_value(average_text(*session.fit().tempo())));
        EXPECT_EQ(session.grid()->beat, *session.fit().beat());
        EXPECT_NEAR(session.grid()->beat, 1001.5, 0.02);
        session.initialize(shown);
        EXPECT_FALSE(session.grid());
    }
}

TEST(TapSession, ThePauseThatDragsTheMeanLeavesTheBeatWhereTheTapsPutIt) {
    // Eight uneven strikes at 120, a pause of 3 s, eight more in the same beat.
    std::mt19937 random(3);
    std::normal_distribution<double> jitter(0.0, 0.01);
    TapSession session(".", AverageMethod::mean);
    Shown shown;
    const auto strikeBeats = [&](int from, int to) {
        for (int beat = from; beat < to; ++beat) {
            session.strike(2000.0 + beat * 0.5 + jitter(random), shown);
        }
    };
    strikeBeats(0, 8);
    const BeatGrid before = *session.grid();
    strikeBeats(14, 15); // the pause's one strike starts a new line: the beat goes on
    ASSERT_TRUE(session.grid());
    EXPECT_EQ(session.grid()->bpm, before.bpm);
    EXPECT_EQ(session.grid()->beat, before.beat);
    strikeBeats(15, 22);
    EXPECT_LT(*session.average(), 116.0); // the mean counted the pause as a slow beat
    EXPECT_NEAR(session.grid()->bpm, 120.0, 1.5);
    // The beat is on the taps: a whole number of beats from the first strike.
    const double beats = (session.grid()->beat - 2000.0) / 0.5;
    EXPECT_NEAR(beats, std::round(beats), 0.05);
}

TEST(TapSession, AChangeOfNoteValueKeepsTheBeatUntilTheNewLineHasATempo) {
    TapSession session(".", AverageMethod::line);
    Shown shown;
    double t = 100.0;
    for (int i = 0; i < 9; ++i, t += 0.5) {
        session.strike(t, shown);
    }
    const BeatGrid quarters = *session.grid();
    session.notetoggle(shown);
    t += 0.7; // the hand that switched is back
    session.strike(t, shown);
    EXPECT_EQ(session.grid()->bpm, quarters.bpm);
    EXPECT_EQ(session.grid()->beat, quarters.beat);
    EXPECT_EQ(*shown.text1, "120."); // the beat's tempo, not a line's "0."
    for (int i = 0; i < 3; ++i) {
        t += 0.25;
        session.strike(t, shown);
    }
    EXPECT_EQ(*shown.text1, "120.");
    EXPECT_EQ(session.grid()->bpm, 120.0);
}

// A player at 120 BPM with 8 ms of jitter: the beat of each strike in its bar.
struct Bars {
    TapSession session{".", AverageMethod::line};
    std::mt19937 random{11};
    std::normal_distribution<double> jitter{0.0, 0.008};
    Shown shown;
    double t = 3000.0;

    // Strikes `count` beats `apart` seconds apart; the bar's beat of each.
    std::vector<int> strike(int count, double apart = 0.5) {
        std::vector<int> beats;
        for (int i = 0; i < count; ++i, t += apart) {
            const double at = t + jitter(random);
            session.strike(at, shown);
            if (session.grid()) {
                beats.push_back(beat_in_bar(*session.grid(), at));
            }
        }
        return beats;
    }
};

TEST(TapSessionBars, TheFirstStrikeIsTheOneAndTheBarsGoOnThroughChangesOfTempo) {
    Bars bars;
    EXPECT_EQ(bars.strike(9), (std::vector<int>{2, 3, 4, 1, 2, 3, 4, 1}));
    // A held change from 120 to 132: the bars go on with the beats.
    const std::vector<int> after = bars.strike(12, 60.0 / 132);
    EXPECT_EQ(after, (std::vector<int>{2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 1}));
    EXPECT_NEAR(bars.session.grid()->bpm, 132, 1.5);
    bars.session.setBeatsInBar(3);
    EXPECT_EQ(bars.strike(4, 60.0 / 132).size(), 4u);
    EXPECT_EQ(beat_in_bar(*bars.session.grid(), bars.session.grid()->one), 1);
}

TEST(TapSessionBars, MarkingTheOneMovesTheBarNeverTheBeats) {
    Bars marked, plain;
    plain.strike(6);
    marked.strike(6);
    marked.session.markOne();
    EXPECT_EQ(marked.strike(5), (std::vector<int>{1, 2, 3, 4, 1}));
    EXPECT_EQ(plain.strike(5), (std::vector<int>{3, 4, 1, 2, 3}));
    EXPECT_EQ(marked.session.grid()->bpm, plain.session.grid()->bpm);
    EXPECT_EQ(marked.session.grid()->beat, plain.session.grid()->beat);
    // A strike that does not reach the engine leaves the mark for the next.
    marked.session.markOne();
    marked.session.strike(marked.t - 1.0, marked.shown); // out of order
    EXPECT_TRUE(marked.session.isMarkingOne());
    EXPECT_EQ(marked.strike(2), (std::vector<int>{1, 2}));
}

TEST(TapSessionBars, APauseOrANewNoteValueStartsTheBarAtItsFirstStrike) {
    Bars bars;
    bars.strike(6);
    // A pause of a beat and a bit: until the new line has a tempo, the old bars go on
    // (its first strike falls on their fourth beat); then its first strike is the one.
    bars.t += 2.6;
    EXPECT_EQ(bars.strike(1), (std::vector<int>{4}));
    EXPECT_EQ(bars.strike(3), (std::vector<int>{2, 3, 4}));
    // Eighth notes, the first of them a quarter of a second on: it is the one.
    bars.session.notetoggle(bars.shown);
    bars.t += 0.25;
    const double first = bars.t;
    bars.strike(6, 0.25);
    EXPECT_NEAR(bars.session.grid()->one, first, 0.03);
    EXPECT_EQ(beat_in_bar(*bars.session.grid(), first + 1.0), 3);
    bars.session.initialize(bars.shown);
    EXPECT_FALSE(bars.session.grid());
    EXPECT_EQ(bars.strike(3), (std::vector<int>{2, 3}));
}

} // namespace
} // namespace tempocalc
