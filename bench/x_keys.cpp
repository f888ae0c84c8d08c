#include "x_keys.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <poll.h>

#include <cmath>
#include <ctime>
#include <stdexcept>
#include <utility>

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

std::vector<double> tapSpaceBar(const std::vector<PlannedTap>& plan) {
    Connection x;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(x.get(), &event, &error, &major, &minor)) {
        throw std::runtime_error("the X server has no XTest extension");
    }
    const KeyCode space = XKeysymToKeycode(x.get(), XK_space);
    std::vector<double> sent;
    sent.reserve(plan.size());
    for (const PlannedTap& tap : plan) {
        sleepUntil(tap.down);
        const double down = monotonicNow();
        XTestFakeKeyEvent(x.get(), space, True, CurrentTime);
        XFlush(x.get());
        sleepUntil(down + tap.hold);
        XTestFakeKeyEvent(x.get(), space, False, CurrentTime);
        XFlush(x.get());
        sent.push_back(down);
    }
    XSync(x.get(), False);
    return sent;
}

RawKeyPresses::RawKeyPresses() : thread_([this] { watch(); }) {}

RawKeyPresses::~RawKeyPresses() {
    stop_ = true;
    thread_.join();
}

std::vector<double> RawKeyPresses::take() {
    const std::lock_guard lock(mutex_);
    return std::exchange(arrivals_, {});
}

void RawKeyPresses::watch() {
    Connection x;
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(x.get(), "XInputExtension", &opcode, &event, &error)) {
        return;
    }
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
    XISelectEvents(x.get(), DefaultRootWindow(x.get()), &mask, 1);
    XSync(x.get(), False);
    while (!stop_) {
        if (XPending(x.get()) == 0) {
            pollfd fd{ConnectionNumber(x.get()), POLLIN, 0};
            poll(&fd, 1, 50);
            continue;
        }
        XEvent next;
        XNextEvent(x.get(), &next);
        if (next.xcookie.type == GenericEvent && next.xcookie.extension == opcode &&
            next.xcookie.evtype == XI_RawKeyPress) {
            const double arrival = monotonicNow();
            const std::lock_guard lock(mutex_);
            arrivals_.push_back(arrival);
        }
    }
}

} // namespace tempocalc::bench
