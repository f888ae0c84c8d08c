#pragma once

#include "handover.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tempocalc {

// The audio heard on the "listen" port, from the process callback to the thread that
// listens to it: the samples in a fixed ring, and with each cycle's samples the time on
// JACK's clock at which the first of them was heard. The callback never waits: a cycle
// that does not fit is dropped whole, and the next one's stamp keeps the times right.
// One writer (the callback), one reader.
class ListenFeed {
public:
    static constexpr std::size_t capacity = std::size_t{1} << 17; // 2.7 s at 48 kHz

    struct Stamp {
        std::uint64_t sample = 0; // in the stream of samples that got through
        double usecs = 0;         // when it was heard, on JACK's clock
        double usPerFrame = 0;
    };

    // The callback's.
    void write(const float* samples, std::uint32_t count, double usecs, double usPerFrame) {
        const std::uint64_t head = head_.load(std::memory_order_relaxed);
        if (count == 0 || head + count - tail_.load(std::memory_order_acquire) > capacity ||
            !stamps_.push({head, usecs, usPerFrame})) {
            dropped_.fetch_add(count, std::memory_order_relaxed);
            return;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            samples_[(head + i) % capacity] = samples[i];
        }
        head_.store(head + count, std::memory_order_release);
    }

    // The reader's: up to `max` samples, the stream's sample of the first in `first`.
    std::size_t read(float* out, std::size_t max, std::uint64_t& first) {
        const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
        const std::uint64_t head = head_.load(std::memory_order_acquire);
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(head - tail, max));
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = samples_[(tail + i) % capacity];
        }
        tail_.store(tail + count, std::memory_order_release);
        first = tail;
        for (Stamp stamp; stamps_.pop(stamp);) {
            known_.push_back(stamp);
        }
        return count;
    }

    // When a sample the reader has read was heard, on JACK's clock.
    std::optional<double> usecsOf(std::uint64_t sample) {
        auto after = std::upper_bound(known_.begin(), known_.end(), sample,
                                      [](std::uint64_t s, const Stamp& k) { return s < k.sample; });
        if (after == known_.begin()) {
            return std::nullopt;
        }
        const Stamp at = *std::prev(after);
        // Older stamps than the one in use are of no more use.
        known_.erase(known_.begin(), std::prev(after));
        return at.usecs + static_cast<double>(sample - at.sample) * at.usPerFrame;
    }

    // The frame's length as last stamped (0 before the first), for the reader.
    double usPerFrame() const { return known_.empty() ? 0 : known_.back().usPerFrame; }

    std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    std::array<float, capacity> samples_{};
    SpscQueue<Stamp, 1024> stamps_;
    std::atomic<std::uint64_t> head_{0}, tail_{0}, dropped_{0};
    std::vector<Stamp> known_; // the reader's
};

} // namespace tempocalc
