#pragma once

#include <chrono>
#include <functional>

namespace tempocalc {

// Seconds since local midnight, with a fraction, starting again at 0 at midnight.
// The time of day is read once, when the clock is made; from then on a monotonic
// clock counts, so that a clock adjustment or a daylight-saving change while the
// program runs never distorts an interval between two readings.
class DayClock {
public:
    DayClock();
    // A clock that reads the given time of day now and counts on from there.
    explicit DayClock(double seconds_since_midnight);

    double operator()() const;

private:
    std::chrono::steady_clock::time_point anchor_;
    double anchor_seconds_; // seconds since local midnight at anchor_
};

// The steady clock's time at a reading of a clock of seconds since local midnight:
// the reading's distance from what the clock reads now (across midnight, the nearer
// way round), taken with the steady clock read back to back with it. Readings of a
// line that crossed midnight may lie past 86,400.
std::chrono::steady_clock::time_point steadyTimeOf(const std::function<double()>& clock,
                                                   double reading);

// The reading of such a clock at a time of the steady clock: the other way round.
double readingAt(const std::function<double()>& clock, std::chrono::steady_clock::time_point at);

} // namespace tempocalc
