#include "beat_flash.h"

#include "tempo_engine.h"

#include <QSocketNotifier>
#include <QWidget>

#include <sys/timerfd.h>
#include <unistd.h>

#include <chrono>
#include <cmath>

namespace tempocalc {

const QColor BeatFlash::colour(255, 214, 0);
const QColor BeatFlash::oneColour(255, 128, 0);

BeatFlash::BeatFlash(QWidget* button, QColor rest, Clock clock, QObject* parent)
    : QObject(parent), button_(button), rest_(rest), clock_(std::move(clock)),
      timer_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)),
      wake_(new QSocketNotifier(timer_, QSocketNotifier::Read, this)) {
    connect(wake_, &QSocketNotifier::activated, this, [this] {
        std::uint64_t expired = 0;
        (void)!read(timer_, &expired, sizeof expired);
        refresh();
    });
}

BeatFlash::~BeatFlash() {
    delete wake_;
    close(timer_);
}

double BeatFlash::flashSeconds(double bpm) {
    return std::min(0.100, 60.0 / bpm / 4);
}

void BeatFlash::setEnabled(bool on) {
    enabled_ = on;
    refresh();
}

void BeatFlash::setGrid(std::optional<BeatGrid> grid) {
    grid_ = grid && grid->bpm <= fastest_beat_bpm ? grid : std::nullopt;
    if (grid_) {
        // The line counts its readings on across midnight from its first strike; the
        // clock's are taken onto the same count.
        reading_ = grid_->beat;
    } else {
        flashed_.reset();
    }
    refresh();
}

void BeatFlash::refresh() {
    stopWaking();
    if (!enabled_ || !grid_) {
        paint(false);
        return;
    }
    // The reading nearest the last one, a whole number of days on.
    const double now = clock_();
    const std::chrono::steady_clock::time_point steady = std::chrono::steady_clock::now();
    reading_ = now + std::round((reading_ - now) / seconds_per_day) * seconds_per_day;

    const double period = 60.0 / grid_->bpm;
    const double length = flashSeconds(grid_->bpm);
    const double beat = grid_->beat + std::floor((reading_ - grid_->beat) / period) * period;
    bool lit = false;
    double next = beat + period; // the reading of the next change
    if (flashed_ && std::fabs(beat - *flashed_) < period / 4) {
        // The beat of the latest flash, or a grid placed anew beside it.
        lit = reading_ - *flashed_ < length;
        if (lit) {
            next = *flashed_ + length;
        }
    } else if (flashed_ && beat < *flashed_) {
        // A grid placed anew a little earlier: its beat went by before the flash.
    } else if (reading_ - beat < length) {
        flashed_ = beat;
        lit = true;
        next = beat + length;
    }
    if (!lit && flashed_ && next - *flashed_ < period / 4) {
        next += period; // never twice within a quarter of a beat
    }
    wakeAt(steady + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(next - reading_)));
    paint(lit, lit && beat_in_bar(*grid_, *flashed_) == 1);
}

void BeatFlash::wakeAt(std::chrono::steady_clock::time_point when) {
    // The steady clock is the monotonic clock that the timer counts.
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch());
    itimerspec at{};
    at.it_value.tv_sec = static_cast<time_t>(ns.count() / 1'000'000'000);
    at.it_value.tv_nsec = static_cast<long>(ns.count() % 1'000'000'000);
    timerfd_settime(timer_, TFD_TIMER_ABSTIME, &at, nullptr);
}

void BeatFlash::stopWaking() {
    const itimerspec never{};
    timerfd_settime(timer_, 0, &never, nullptr);
}

void BeatFlash::paint(bool lit, bool one) {
    if (lit == lit_ && one == litOne_) {
        return;
    }
    lit_ = lit;
    litOne_ = one;
    QPalette palette = button_->palette();
    palette.setColor(QPalette::Button, !lit ? rest_ : one ? oneColour : colour);
    button_->setPalette(palette);
    button_->repaint(); // now, between two events, not after the next pass of the loop
}

} // namespace tempocalc
