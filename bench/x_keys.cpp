#include "x_keys.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <poll.h>

#include <cmath>
#include <ctime>
#include <stdexcept>
#include <thread>

namespace tempocalc::bench {
namespace {

timespec toTimespec(double seconds) {
    const double whole = std::floor(seconds);
    return {static_cast<time_t>(whole), static_cast<long>((seconds - whole) * 1e9)};
}

void sleepUntil(double deadline) {
    const timespec at = toTimespec(deadline);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
    }
}

class Connection {
public:
    Connection() : display_(XOpenDisplay(nullptr)) {
        if (display_ == nullptr) {
            throw std::runtime_error("cannot open the X display");
        }
    }
    ~Connection() { XCloseDisplay(display_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    Display* get() const { return display_; }

private:
    Display* display_;
};

} // namespace

double monotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void focusWindow(unsigned long window) {
    Connection x;
    XSetInputFocus(x.get(), window, RevertToParent, CurrentTime);
    XSync(x.get(), False);
}

std::vector<InjectedTap> tapSpaceBar(const std::vector<PlannedTap>& plan) {
    Connection x;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(x.get(), &event, &error, &major, &minor)) {
        throw std::runtime_error("the X server has no XTest extension");
    }
    const KeyCode space = XKeysymToKeycode(x.get(), XK_space);
    std::vector<InjectedTap> sent;
    sent.reserve(plan.size());
    for (const PlannedTap& tap : plan) {
        sleepUntil(tap.down);
        InjectedTap done{monotonicNow(), 0};
        XTestFakeKeyEvent(x.get(), space, True, CurrentTime);
        XFlush(x.get());
        sleepUntil(done.down + tap.hold);
        done.up = monotonicNow();
        XTestFakeKeyEvent(x.get(), space, False, CurrentTime);
        XFlush(x.get());
        sent.push_back(done);
    }
    XSync(x.get(), False);
    return sent;
}

std::vector<double> bareClientArrivals(const std::vector<PlannedTap>& plan,
                                       std::vector<InjectedTap>& sent) {
    Connection x;
    const Window window =
        XCreateSimpleWindow(x.get(), DefaultRootWindow(x.get()), 0, 0, 100, 100, 0, 0, 0);
    XSelectInput(x.get(), window, KeyPressMask | StructureNotifyMask);
    XMapWindow(x.get(), window);
    XEvent event;
    do {
        XNextEvent(x.get(), &event);
    } while (event.type != MapNotify);
    XSetInputFocus(x.get(), window, RevertToParent, CurrentTime);
    XSync(x.get(), False);

    std::thread injector([&] { sent = tapSpaceBar(plan); });
    std::vector<double> arrivals;
    const double giveUp = plan.back().down + 2.0;
    while (arrivals.size() < plan.size() && monotonicNow() < giveUp) {
        if (XPending(x.get()) == 0) {
            pollfd fd{ConnectionNumber(x.get()), POLLIN, 0};
            poll(&fd, 1, 100);
            continue;
        }
        XNextEvent(x.get(), &event);
        if (event.type == KeyPress) {
            arrivals.push_back(monotonicNow());
        }
    }
    injector.join();
    XDestroyWindow(x.get(), window);
    return arrivals;
}

} // namespace tempocalc::bench
