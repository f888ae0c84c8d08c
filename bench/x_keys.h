#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// Key presses injected through the X server's XTest extension, kept apart from Qt
// because Xlib's macros clash with Qt's names.
namespace tempocalc::bench {

// Seconds on CLOCK_MONOTONIC, the clock the program's own clock counts with.
double monotonicNow();

struct PlannedTap {
    double down; // when to press, monotonic seconds
    double hold; // how long to hold, seconds
};

// Gives the keyboard focus to an X window.
void focusWindow(unsigned long window);

// Presses and releases the space bar at the planned instants, sleeping on absolute
// CLOCK_MONOTONIC deadlines; returns when each press was sent.
std::vector<double> tapSpaceBar(const std::vector<PlannedTap>& plan);

// Times every key press as the X server sends it out, as raw XInput 2 events on the
// root window, in a thread of its own: the X server's share of the latency, on the
// very presses that the program gets.
class RawKeyPresses {
public:
    RawKeyPresses();
    ~RawKeyPresses();
    RawKeyPresses(const RawKeyPresses&) = delete;
    RawKeyPresses& operator=(const RawKeyPresses&) = delete;

    // The arrival times of the presses since the last call.
    std::vector<double> take();

private:
    void watch();

    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<double> arrivals_;
    std::thread thread_;
};

} // namespace tempocalc::bench
