#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace tempocalc::bench {

// Watches one pixel of an X window from a connection of its own, in a thread of its
// own: each time the X server reports the window damaged (XDamage), the pixel is read
// back, and each change from its resting colour to another is timed (monotonic
// seconds) as the X server has it on screen. Kept apart from Qt because Xlib's macros
// clash with Qt's names.
class PixelChanges {
public:
    PixelChanges(unsigned long window, int x, int y);
    ~PixelChanges();
    PixelChanges(const PixelChanges&) = delete;
    PixelChanges& operator=(const PixelChanges&) = delete;

    // When the pixel left its resting colour, since the last call.
    std::vector<double> take();
    // Stops watching; returns the CPU seconds the watching thread used.
    double finish();

private:
    void watch();

    unsigned long window_;
    int x_, y_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ready_{false};
    std::atomic<double> cpu_{0};
    std::mutex mutex_;
    std::vector<double> onsets_;
    std::thread thread_;
};

} // namespace tempocalc::bench
