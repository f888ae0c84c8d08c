#include "x_flash.h"

#include "x_keys.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>

#include <poll.h>

#include <ctime>
#include <optional>
#include <stdexcept>
#include <utility>

namespace tempocalc::bench {

PixelChanges::PixelChanges(unsigned long window, int x, int y) : window_(window), x_(x), y_(y) {
    thread_ = std::thread([this] { watch(); });
    while (!ready_) {
        std::this_thread::yield();
    }
}

PixelChanges::~PixelChanges() {
    finish();
}

double PixelChanges::finish() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    return cpu_;
}

std::vector<double> PixelChanges::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(onsets_, {});
}

void PixelChanges::watch() {
    Display* x = XOpenDisplay(nullptr);
    if (x == nullptr) {
        throw std::runtime_error("cannot open the X display");
    }
    int damageEvent = 0, damageError = 0;
    if (!XDamageQueryExtension(x, &damageEvent, &damageError)) {
        throw std::runtime_error("the X server has no DAMAGE extension");
    }
    const Damage damage = XDamageCreate(x, window_, XDamageReportNonEmpty);
    const auto pixel = [&] {
        XImage* image = XGetImage(x, window_, x_, y_, 1, 1, AllPlanes, ZPixmap);
        const unsigned long value = image ? XGetPixel(image, 0, 0) : 0;
        if (image) {
            XDestroyImage(image);
        }
        return value;
    };
    const unsigned long resting = pixel();
    bool away = false;
    ready_ = true;
    pollfd wait{ConnectionNumber(x), POLLIN, 0};
    while (!stop_) {
        if (XPending(x) == 0) {
            poll(&wait, 1, 50);
            continue;
        }
        XEvent event;
        XNextEvent(x, &event);
        if (event.type != damageEvent + XDamageNotify) {
            continue;
        }
        const double seen = monotonicNow();
        XDamageSubtract(x, damage, None, None);
        const bool nowAway = pixel() != resting;
        if (nowAway && !away) {
            std::lock_guard lock(mutex_);
            onsets_.push_back(seen);
        }
        away = nowAway;
    }
    timespec used{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    cpu_ = static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) * 1e-9;
    XDamageDestroy(x, damage);
    XCloseDisplay(x);
}

} // namespace tempocalc::bench
