#include "press_time.h"

#include "tempo_engine.h"

#include <algorithm>
#include <cmath>

namespace tempocalc {
namespace {

// A stamp counts whole milliseconds: the press lies within the millisecond after it.
constexpr double stampGranularity = 0.001;
// An offset further than this from the least one is no ordinary delay: the window's
// thread was held up, or the stamps come from another clock now (another device, a
// restarted server, a clock set back or forward).
constexpr double farLimit = 1.0;
// Presses that a hold-up queued arrive almost at once, so their offsets differ by the
// time between their stamps, a tenth of a second or more for taps of one finger; after a
// clock moved, consecutive offsets differ by no more than what a busy machine delays one.
constexpr double agreementLimit = 0.05;

} // namespace

double PressTimeFilter::reading(double arrival, std::uint64_t stampMs) {
    // The day clock is monotonic, so a reading below the last one means midnight passed.
    if (lastArrival_ && arrival < *lastArrival_) {
        days_ += seconds_per_day;
    }
    lastArrival_ = arrival;
    const double steady = arrival + days_;

    double read = steady;
    if (stampMs == 0) {
        restart(); // no stamp to go by, and the next one starts a new count
    } else {
        const double stamped = static_cast<double>(unwrapped(stampMs)) * 1e-3;
        const double offset = steady - stamped;
        if (offsetCount_ > 0 && std::fabs(offset - leastOffset()) > farLimit) {
            if (farOffset_ && std::fabs(offset - *farOffset_) <= agreementLimit) {
                const double previous = *farOffset_;
                forgetOffsets();
                remember(previous);
                remember(offset);
            } else {
                // Left out of the estimate: a held-up press would only push out good ones.
                farOffset_ = offset;
            }
        } else {
            farOffset_.reset();
            remember(offset);
        }
        read = std::min(steady, stamped + leastOffset() + stampGranularity);
    }

    // Strikes of one line never go backwards, nor fall on one instant: a stamp that
    // would put this press at or before the last one is no guide to it, and its
    // arrival, which always comes later, is.
    if (lastReading_ && read <= *lastReading_) {
        read = steady;
    }
    if (lastReading_ && read <= *lastReading_) {
        return lastDayReading_; // arrived at the very instant of the last press
    }
    lastReading_ = read;
    if (read == steady) {
        lastDayReading_ = arrival; // exactly what the clock said
    } else {
        // Read before midnight for a press that arrived after it: yesterday's reading.
        lastDayReading_ = read - days_;
        if (lastDayReading_ < 0) {
            lastDayReading_ += seconds_per_day;
        }
    }
    return lastDayReading_;
}

void PressTimeFilter::restart() {
    lastStamp_.reset();
    forgetOffsets();
}

void PressTimeFilter::forgetOffsets() {
    farOffset_.reset();
    offsetCount_ = 0;
    nextOffset_ = 0;
}

void PressTimeFilter::remember(double offset) {
    offsets_[nextOffset_] = offset;
    nextOffset_ = (nextOffset_ + 1) % recentPresses;
    offsetCount_ = std::min(offsetCount_ + 1, recentPresses);
}

double PressTimeFilter::leastOffset() const {
    return *std::min_element(offsets_.begin(), offsets_.begin() + offsetCount_);
}

std::int64_t PressTimeFilter::unwrapped(std::uint64_t stampMs) {
    // X and Wayland count 32 bits of milliseconds, which wrap every 49.7 days; a press
    // less than 24.8 days after the last is unwrapped by the signed difference.
    const auto low = static_cast<std::uint32_t>(stampMs);
    stampMs_ = lastStamp_ ? stampMs_ + static_cast<std::int32_t>(low - *lastStamp_) : low;
    lastStamp_ = low;
    return stampMs_;
}

} // namespace tempocalc
