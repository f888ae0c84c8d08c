// The audio that the JACK callback hands to the listening thread: every sample that got
// through, in order, each with the time it was heard, through a full ring and a reader
// that comes late.

#include "listen_feed.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace tempocalc {
namespace {

constexpr double usPerFrame = 1e6 / 48000;

TEST(ListenFeed, EverySampleThatGotThroughComesOnceInOrderWithTheTimeItWasHeard) {
    auto feed = std::make_unique<ListenFeed>();
    std::mt19937 random(5);
    std::uniform_int_distribution<std::uint32_t> period(1, 1024), readSize(1, 3000);
    std::vector<float> cycle(1024);
    double cycleUs = 1e9;
    float written = 0; // the value of the next sample written: its place in the stream
    std::uint64_t read = 0;
    std::vector<float> out(3000);
    for (int round = 0; round < 20000; ++round) {
        const std::uint32_t n = period(random);
        for (std::uint32_t i = 0; i < n; ++i) {
            cycle[i] = written + static_cast<float>(i);
        }
        const std::uint64_t droppedBefore = feed->dropped();
        feed->write(cycle.data(), n, cycleUs, usPerFrame);
        if (feed->dropped() == droppedBefore) {
            written += static_cast<float>(n);
        }
        // A clock that now and then jumps against the frames, as JACK's does after a stall.
        cycleUs += n * usPerFrame + (round % 97 == 0 ? 5000 : 0);
        if (round % 3 != 0) {
            continue; // the reader comes late
        }
        std::uint64_t first = 0;
        const std::size_t got = feed->read(out.data(), readSize(random), first);
        ASSERT_EQ(first, read);
        for (std::size_t i = 0; i < got; ++i) {
            ASSERT_EQ(out[i], static_cast<float>(read + i)) << "sample " << read + i;
        }
        if (got > 0) {
            // Samples of the same cycle are a frame apart; the last one read is no earlier
            // than the first.
            const auto firstUs = feed->usecsOf(first);
            const auto lastUs = feed->usecsOf(first + got - 1);
            ASSERT_TRUE(firstUs && lastUs);
            EXPECT_GE(*lastUs, *firstUs);
            EXPECT_LE(*lastUs, cycleUs);
        }
        read += got;
    }
    EXPECT_GT(feed->dropped(), 0u) << "the ring never filled";
    EXPECT_GT(read, ListenFeed::capacity);
}

TEST(ListenFeed, ASampleIsTimedByTheStampOfItsOwnCycle) {
    auto feed = std::make_unique<ListenFeed>();
    const std::vector<float> block(256, 0.5f);
    feed->write(block.data(), 256, 1000.0, usPerFrame);
    feed->write(block.data(), 256, 90000.0, usPerFrame); // after a jump of JACK's clock
    std::vector<float> out(1024);
    std::uint64_t first = 1;
    ASSERT_EQ(feed->read(out.data(), out.size(), first), 512u);
    EXPECT_EQ(first, 0u);
    EXPECT_DOUBLE_EQ(*feed->usecsOf(10), 1000.0 + 10 * usPerFrame);
    EXPECT_DOUBLE_EQ(*feed->usecsOf(255), 1000.0 + 255 * usPerFrame);
    EXPECT_DOUBLE_EQ(*feed->usecsOf(256), 90000.0);
    EXPECT_DOUBLE_EQ(*feed->usecsOf(300), 90000.0 + 44 * usPerFrame);
    EXPECT_EQ(feed->usPerFrame(), usPerFrame);
}

} // namespace
} // namespace tempocalc
