// The JACK client's frame arithmetic against a simulated JACK server: cycles of a period
// of frames whose times JACK measures, a clock that now and then jumps against the frames
// (a stall), and a receiver that counts the MIDI clock's ticks from Start, as a drum
// machine does, and takes every 24th for its beat.

#include "pulse_train.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace tempocalc {
namespace {

constexpr int perBeat = TickTrain::ticks_per_beat;

// Cycles one after another, from a frame counter that wraps soon after the start.
struct Server {
    double rate = 48000;
    std::uint32_t period = 256;
    std::uint32_t frame = 0xffffffffu - 50'000;
    double us = 5e9; // JACK's clock at `frame`
    Cycle last;
    bool wrapped = false;

    // The next cycle; a stall moves JACK's clock on by stallUs against the frames. JACK
    // says whole microseconds.
    Cycle next(double stallUs = 0) {
        us += stallUs;
        const double end = us + period * 1e6 / rate;
        const Cycle cycle = Cycle::measure(true, frame, std::llround(us), std::llround(end), period,
                                           last, 1e6 / rate);
        last = cycle;
        wrapped = wrapped || frame + period < frame;
        frame += period;
        us = end;
        return cycle;
    }
    double frameUs() const { return 1e6 / rate; }
};

// What a receiver hears: each tick's time, counted from Start.
struct Receiver {
    std::vector<double> ticks;
    std::vector<std::uint32_t> frames; // each tick's frame, to see two share one
    int starts = 0;
};

struct Clocked {
    Server server;
    TickTrain train;
    Receiver heard;

    void cycle(const JackGrid& grid, double stallUs = 0) {
        const Cycle c = server.next(stallUs);
        train.run(grid, c, 0, server.period, [&](std::uint32_t offset, TickTrain::With with) {
            if (with != TickTrain::With::tick) {
                ++heard.starts;
                heard.ticks.clear();
                heard.frames.clear();
            }
            heard.ticks.push_back(c.timeOf(offset));
            heard.frames.push_back(c.start + offset);
        });
    }
    void runUntil(const JackGrid& grid, double us) {
        while (server.us < us) {
            cycle(grid);
        }
    }
};

JackGrid gridAt(double bpm, double beatUs, std::uint64_t serial) {
    return {beatUs, 60e6 / bpm, serial};
}

// How far a time lies from the grid's nearest tick (or beat), in microseconds.
double offTick(const JackGrid& grid, double us, int division = perBeat) {
    const double length = grid.lengthUs / division;
    const double k = (us - grid.beatUs) / length;
    return std::fabs(k - std::round(k)) * length;
}

TEST(TickTrain, StartsOnTheGridsNextBeatAndPutsEveryTickOnItsFrame) {
    Clocked c;
    const JackGrid grid = gridAt(120, c.server.us + 123'456, 1);
    c.runUntil(grid, c.server.us + 3e6);
    ASSERT_EQ(c.heard.starts, 1);
    ASSERT_GT(c.heard.ticks.size(), 5u * perBeat);
    EXPECT_NEAR(c.heard.ticks[0], grid.beatUs, c.server.frameUs());
    for (std::size_t i = 0; i < c.heard.ticks.size(); ++i) {
        EXPECT_NEAR(c.heard.ticks[i], grid.beatUs + i * grid.lengthUs / perBeat,
                    c.server.frameUs() / 2 + 1)
            << "tick " << i;
    }
    EXPECT_TRUE(c.server.wrapped);
}

// Checks a receiver's ticks around a change of the grid (a new grid or a stall) made
// when `counted` ticks had gone out: no two closer than half the new tick length, none
// further apart than twice it (but the gap that a stall made), and from the receiver's
// second beat after the change on, its beats on the grid's beats and its ticks on the
// grid's ticks, each within a frame, up to `until` ticks.
void expectInStep(const Receiver& heard, std::size_t counted, std::size_t until,
                  const JackGrid& grid, double frameUs, bool stalled, const char* what) {
    const double tick = grid.lengthUs / perBeat;
    std::size_t from = (counted + perBeat - 1) / perBeat * perBeat + perBeat;
    for (std::size_t i = std::max<std::size_t>(counted, 1); i < until; ++i) {
        const double gap = heard.ticks[i] - heard.ticks[i - 1];
        ASSERT_GE(gap, tick / 2 - frameUs) << what << ": tick " << i << " comes too soon";
        if (!(stalled && i == counted)) {
            ASSERT_LE(gap, 2 * tick + frameUs) << what << ": tick " << i << " comes too late";
        }
        if (i >= from) {
            ASSERT_LE(offTick(grid, heard.ticks[i]), frameUs) << what << ": tick " << i;
            if (i % perBeat == 0) {
                ASSERT_LE(offTick(grid, heard.ticks[i], 1), frameUs)
                    << what << ": the receiver's beat " << i << " is off the grid's";
            }
        }
    }
}

TEST(TickTrain, AReceiverCountingFromStartKeepsItsBeatOnTheGridThroughAThousandChanges) {
    for (const std::uint32_t period : {64u, 256u, 1024u}) {
        Clocked c;
        c.server.period = period;
        std::mt19937 random(period);
        double bpm = 120;
        JackGrid grid = gridAt(bpm, c.server.us + 10'000, 1);
        c.runUntil(grid, c.server.us + 1e6);
        for (std::uint64_t change = 2; change < 1002; ++change) {
            // As a strike re-places it: a new tempo near the last, and a beat where the
            // strikes put it (anywhere in the beat); then a few beats until the next.
            bpm = std::clamp(bpm * std::uniform_real_distribution(0.75, 1.33)(random), 40.0, 300.0);
            const double length = 60e6 / bpm;
            grid = {c.server.us - std::uniform_real_distribution(0.0, length)(random), length,
                    change};
            const std::size_t counted = c.heard.ticks.size();
            c.runUntil(grid,
                       c.server.us + std::uniform_real_distribution(3.2, 6.0)(random) * length);
            expectInStep(c.heard, counted, c.heard.ticks.size(), grid, c.server.frameUs(), false,
                         "a change");
            if (testing::Test::HasFatalFailure()) {
                FAIL() << "change " << change << " to " << bpm << " BPM at " << period << " frames";
            }
        }
        EXPECT_EQ(c.heard.starts, 1);
    }
}

TEST(TickTrain, AfterAStallLateTicksAreCaughtUpWithoutABurstAndWholeBeatsDropped) {
    std::mt19937 random(3);
    for (int stall = 0; stall < 200; ++stall) {
        Clocked c;
        c.server.period = stall % 2 ? 256 : 1024;
        const double bpm = std::uniform_real_distribution(60.0, 200.0)(random);
        const JackGrid grid = gridAt(bpm, c.server.us + 5'000, 1);
        c.runUntil(grid, c.server.us + std::uniform_real_distribution(1.0, 2.0)(random) * 1e6);
        // JACK's clock jumps on by 0.1 to 3 beats against its frames.
        const std::size_t counted = c.heard.ticks.size();
        c.cycle(grid, std::uniform_real_distribution(0.1, 3.0)(random) * grid.lengthUs);
        c.runUntil(grid, c.server.us + 4 * grid.lengthUs);
        expectInStep(c.heard, counted, c.heard.ticks.size(), grid, c.server.frameUs(), true,
                     "a stall");
        if (testing::Test::HasFatalFailure()) {
            FAIL() << "stall " << stall << " at " << bpm << " BPM";
        }
        EXPECT_EQ(c.heard.starts, 1);
    }
}

TEST(TickTrain, EveryTickGoesOutAt999BpmOnPeriodsUpTo8192Frames) {
    for (const std::uint32_t period : {1024u, 4096u, 8192u}) {
        Clocked c;
        c.server.period = period;
        const JackGrid grid = gridAt(999, c.server.us + 1'000, 1);
        const double end = c.server.us + 10e6;
        c.runUntil(grid, end);
        const double tick = grid.lengthUs / perBeat;
        const auto due =
            static_cast<std::size_t>(std::floor((c.server.us - grid.beatUs) / tick)) + 1;
        EXPECT_EQ(c.heard.ticks.size(), due) << period;
        EXPECT_EQ(std::adjacent_find(c.heard.frames.begin(), c.heard.frames.end()),
                  c.heard.frames.end())
            << "two ticks on one frame at " << period;
    }
}

TEST(TickTrain, FollowsTheGridAcrossChangesOfTheSampleRate) {
    Clocked c;
    const JackGrid grid = gridAt(128, c.server.us + 7'000, 1);
    for (const double rate : {44100.0, 96000.0, 48000.0, 44100.0}) {
        c.server.rate = rate;
        const std::size_t from = c.heard.ticks.size();
        c.runUntil(grid, c.server.us + 2e6);
        ASSERT_GT(c.heard.ticks.size(), from + 2 * perBeat);
        // Ticks keep their length: a second of grid is a second of ticks at any rate.
        for (std::size_t i = from + 1; i < c.heard.ticks.size(); ++i) {
            EXPECT_LE(offTick(grid, c.heard.ticks[i]), c.server.frameUs() + 1)
                << "tick " << i << " at " << rate;
        }
    }
    EXPECT_EQ(c.heard.starts, 1);
}

TEST(TickTrain, StopsAndStartsAgainOnABeat) {
    Clocked c;
    JackGrid grid = gridAt(100, c.server.us + 3'000, 1);
    c.runUntil(grid, c.server.us + 1e6);
    c.train.stop();
    EXPECT_FALSE(c.train.running());
    grid = gridAt(140, c.server.us + 100'000, 2);
    c.runUntil(grid, c.server.us + 1e6);
    EXPECT_EQ(c.heard.starts, 2);
    EXPECT_NEAR(c.heard.ticks[0], grid.beatUs, c.server.frameUs());
}

TEST(BeatTrain, ClicksOnTheBeatsLeavesOutALateOneAndNeverClicksTwiceOnANewGrid) {
    Server server;
    BeatTrain train;
    std::vector<double> clicks;
    const auto run = [&](const JackGrid& grid, double untilUs, double stallUs = 0) {
        while (server.us < untilUs) {
            const Cycle c = server.next(stallUs);
            stallUs = 0;
            train.run(grid, c, 0, server.period, 4 * server.frameUs(),
                      [&](std::uint32_t offset, bool) { clicks.push_back(c.timeOf(offset)); });
        }
    };
    JackGrid grid = gridAt(120, server.us + 10'000, 1);
    run(grid, server.us + 2.1e6);
    ASSERT_EQ(clicks.size(), 5u);
    for (const double click : clicks) {
        EXPECT_LE(offTick(grid, click, 1), server.frameUs());
    }
    // A stall over a beat: that beat's click would be late, and is left out.
    const double stalled = server.us + 0.6e6;
    run(grid, stalled + 1.1e6, 0.6e6);
    for (std::size_t i = 5; i < clicks.size(); ++i) {
        EXPECT_LE(offTick(grid, clicks[i], 1), server.frameUs()) << "click " << i;
    }
    // A new grid a third of a beat later: no click within half a beat of the last.
    const double last = clicks.back();
    grid = gridAt(120, grid.beatUs + 500'000.0 / 3, 2);
    const std::size_t before = clicks.size();
    run(grid, server.us + 1.5e6);
    ASSERT_GT(clicks.size(), before);
    EXPECT_GE(clicks[before] - last, 250'000);
}

// A receiver that knows bars: every tick with what came before it.
struct Barred {
    Server server;
    TickTrain train;
    std::vector<double> ticks;
    std::vector<TickTrain::With> with;

    void runUntil(const JackGrid& grid, double us, double stallUs = 0) {
        while (server.us < us) {
            const Cycle c = server.next(stallUs);
            stallUs = 0;
            train.run(grid, c, 0, server.period, [&](std::uint32_t offset, TickTrain::With w) {
                ticks.push_back(c.timeOf(offset));
                with.push_back(w);
            });
        }
    }
    // The receiver's count of the i-th tick: since the latest Start.
    std::size_t count(std::size_t i) const {
        std::size_t from = i;
        while (from > 0 && with[from] == TickTrain::With::tick) {
            --from;
        }
        return i - from;
    }
};

JackGrid barred(double bpm, double oneUs, std::uint64_t serial, int bar, unsigned marks = 0) {
    return {oneUs, 60e6 / bpm, serial, bar, marks};
}

TEST(TickTrainBars, StartsWithSongPositionZeroOnTheNextOneAndKeepsTheBarsThroughChanges) {
    Barred r;
    std::mt19937 random(4);
    double bpm = 110;
    JackGrid grid = barred(bpm, r.server.us + 700'000, 1, 4);
    r.runUntil(grid, r.server.us + 3e6);
    ASSERT_EQ(r.with.front(), TickTrain::With::start);
    EXPECT_LE(offTick(grid, r.ticks.front(), 1), r.server.frameUs());
    EXPECT_NEAR(r.ticks.front(), grid.beatUs, r.server.frameUs()); // the next one, not beat
    for (std::uint64_t change = 2; change < 300; ++change) {
        bpm = std::clamp(bpm * std::uniform_real_distribution(0.85, 1.18)(random), 50.0, 220.0);
        const double length = 60e6 / bpm;
        const int bar = 4;
        grid = barred(bpm, r.server.us - std::uniform_real_distribution(0.0, bar * length)(random),
                      change, bar);
        const std::size_t counted = r.ticks.size();
        r.runUntil(grid, r.server.us + std::uniform_real_distribution(9.0, 12.0)(random) * length);
        // From the receiver's second bar after the change on, its bars are the grid's.
        const std::size_t per = 24 * 4;
        for (std::size_t i = counted + 1; i < r.ticks.size(); ++i) {
            ASSERT_EQ(r.with[i], TickTrain::With::tick) << "a change of tempo restarted it";
            ASSERT_GE(r.ticks[i] - r.ticks[i - 1], length / 48 - r.server.frameUs());
            if (i >= (counted + per - 1) / per * per + per && r.count(i) % per == 0) {
                ASSERT_LE(offTick(grid, r.ticks[i], 1), r.server.frameUs()) << "change " << change;
                const double bars = (r.ticks[i] - grid.beatUs) / (bar * length);
                ASSERT_NEAR(bars, std::round(bars), 0.01) << "change " << change;
            }
        }
    }
}

TEST(TickTrainBars, ANewGridBeforeTheFirstOneIsStartedOnAsTheFirstWas) {
    Barred r;
    r.runUntil(barred(120, r.server.us + 1.5e6, 1, 4), r.server.us + 0.3e6);
    EXPECT_TRUE(r.ticks.empty()); // started, waiting for its one
    const JackGrid grid = barred(126, r.server.us + 0.9e6, 2, 4, 1);
    r.runUntil(grid, r.server.us + 3e6);
    ASSERT_FALSE(r.ticks.empty());
    EXPECT_EQ(r.with.front(), TickTrain::With::start);
    EXPECT_NEAR(r.ticks.front(), grid.beatUs, r.server.frameUs());
    for (std::size_t i = 1; i < r.ticks.size(); ++i) {
        EXPECT_LE(offTick(grid, r.ticks[i]), r.server.frameUs()) << "tick " << i;
    }
}

TEST(TickTrainBars, AOneMarkedAnewStartsTheReceiverAgainThereWithoutMovingTheBeats) {
    Barred r;
    JackGrid grid = barred(120, r.server.us + 10'000, 1, 4);
    r.runUntil(grid, r.server.us + 2.2e6);
    const std::size_t before = r.ticks.size();
    // The next strike is marked: the beats stay, the one moves to the beat after.
    grid = barred(120, grid.beatUs + 500'000, 2, 4, 1);
    r.runUntil(grid, r.server.us + 4e6);
    std::size_t restarts = 0;
    for (std::size_t i = before; i < r.ticks.size(); ++i) {
        EXPECT_LE(offTick(grid, r.ticks[i]), r.server.frameUs()) << "a beat moved: tick " << i;
        if (r.with[i] == TickTrain::With::restart) {
            ++restarts;
            EXPECT_LE(offTick(grid, r.ticks[i], 4), r.server.frameUs()) << "not on the new one";
        }
        if (restarts > 0 && r.count(i) % 96 == 0) {
            EXPECT_LE(offTick(grid, r.ticks[i], 4), r.server.frameUs());
        }
    }
    EXPECT_EQ(restarts, 1u);
}

TEST(BeatTrainBars, AccentsTheOneOfEveryBar) {
    Server server;
    BeatTrain train;
    const JackGrid grid = barred(150, server.us + 30'000, 1, 3);
    std::vector<std::pair<double, bool>> clicks;
    while (server.us < 5e9 + 4e6) {
        const Cycle c = server.next();
        train.run(grid, c, 0, server.period, 4 * server.frameUs(),
                  [&](std::uint32_t offset, bool one) {
                      clicks.push_back({c.timeOf(offset), one});
                  });
    }
    ASSERT_GT(clicks.size(), 6u);
    for (const auto& [at, one] : clicks) {
        const double beats = std::round((at - grid.beatUs) / grid.lengthUs);
        EXPECT_EQ(one, std::fmod(beats, 3) == 0) << beats;
    }
}

} // namespace
} // namespace tempocalc
