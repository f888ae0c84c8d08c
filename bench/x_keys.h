#pragma once

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

struct InjectedTap {
    double down; // when the press was sent
    double up;   // when the release was sent
};

// Gives the keyboard focus to an X window.
void focusWindow(unsigned long window);

// Presses and releases the space bar at the planned instants, sleeping on absolute
// CLOCK_MONOTONIC deadlines; returns when each press and release was sent.
std::vector<InjectedTap> tapSpaceBar(const std::vector<PlannedTap>& plan);

// The same presses delivered to a bare Xlib window of this process's own, timed as
// each KeyPress arrives: the X server's share of the latency, without any toolkit.
// Returns the arrival times.
std::vector<double> bareClientArrivals(const std::vector<PlannedTap>& plan,
                                       std::vector<InjectedTap>& sent);

} // namespace tempocalc::bench
