#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace tempocalc {

// When a key or button really went down. The program reads its clock as a press reaches
// it, which is late whenever its threads had to wait for a time slice; the input system
// stamped the press before that, in milliseconds of a clock of its own (the X server's
// time, a Wayland compositor's), whose base is not ours and may drift against it. The
// offset between that clock and ours is the smallest (arrival - stamp) over the recent
// presses, the way a clock-sync filter trusts its least-delayed sample; a press is then
// read at its stamp where that is earlier than its arrival.
//
// A press whose offset lies far from that least one was either held up (the window's
// thread was busy and the presses queued behind it come through at once) or the input
// clock moved. One such press cannot tell, so it is read at the old offset, or on arrival
// where that is earlier; a second press right after it with about the same offset says
// the clock moved, and the estimate starts again from the two.
class PressTimeFilter {
public:
    // arrival: our clock as the press arrived, seconds since local midnight (it starts
    // again at 0 at midnight); stamp: the event's time in milliseconds, 0 for none.
    // Returns the press's reading, seconds since local midnight.
    double reading(double arrival, std::uint64_t stampMs);

private:
    void restart();
    void forgetOffsets();
    void remember(double offset);
    double leastOffset() const;
    std::int64_t unwrapped(std::uint64_t stampMs);

    // Everything inside counts seconds on one line that does not start again at
    // midnight, so that an offset or an order is a plain difference on either side of it.
    std::optional<double> lastArrival_; // as given, to see midnight pass
    double days_ = 0;                   // midnights passed, in seconds
    std::optional<double> lastReading_; // on the unwrapped line
    double lastDayReading_ = 0;         // the same, as it was handed out

    std::optional<std::uint32_t> lastStamp_; // the stamp's 32 bits, to see them wrap
    std::int64_t stampMs_ = 0;               // unwrapped
    // arrival - stamp of the previous press, where that lay far from the least offset
    std::optional<double> farOffset_;

    // 16 s at 120 BPM: with every core busy, long enough to hold a press that arrived at
    // once; short enough that a base drifting by 100 ppm moves under 2 ms within it.
    static constexpr std::size_t recentPresses = 32;
    std::array<double, recentPresses> offsets_{};
    std::size_t offsetCount_ = 0; // how many of offsets_ hold a press since the last restart
    std::size_t nextOffset_ = 0;
};

} // namespace tempocalc
