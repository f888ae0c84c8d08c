#include "listen_control.h"

#include "day_clock.h"
#include "jack_client.h"
#include "jack_control.h"
#include "listen_feed.h"
#include "onset_front.h"

#include <QThread>
#include <QTimer>

#include <array>
#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

namespace tempocalc {

namespace {

using std::chrono::steady_clock;

double steadySeconds(steady_clock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

steady_clock::time_point steadyAt(double seconds) {
    return steady_clock::time_point(
        std::chrono::duration_cast<steady_clock::duration>(std::chrono::duration<double>(seconds)));
}

// Whether what is heard changed enough to move the grid or what the window says.
bool differs(const Heard& a, const Heard& b) {
    if (a.state != b.state || a.struck != b.struck ||
        std::fabs(a.confidence - b.confidence) >= 0.05 || std::fabs(a.bpm - b.bpm) >= 0.01) {
        return true;
    }
    if (a.bpm <= 0) {
        return false;
    }
    const double period = 60 / a.bpm;
    const double apart = std::remainder(a.beat - b.beat, period);
    return std::fabs(apart) >= 0.001;
}

} // namespace

// Reads the listen port's audio as it comes, a few times a beat, and turns it into
// onset strength and then into a tempo and a beat, off the main thread.
class ListenControl::Worker : public QObject {
    Q_OBJECT

public:
    Worker(ListenFeed& feed, ListenControl* control)
        : feed_(feed), control_(control), poll_(new QTimer(this)), tracker_(hopSeconds(48000)) {
        poll_->setInterval(20);
        connect(poll_, &QTimer::timeout, this, &Worker::drain);
    }

    // JACK's clock minus the steady clock, in nanoseconds, set by the main thread.
    std::atomic<std::int64_t> offsetNs{0};
    std::atomic<bool> offsetKnown{false};

    void start() { poll_->start(); }
    void stop() {
        poll_->stop();
        drain(); // what came before: nothing is heard from it later
    }
    void strike(double seconds, double quarterBeats) {
        tracker_.strike(seconds, quarterBeats);
        report();
    }
    void forget() {
        tracker_.reset();
        report(true);
    }

private:
    static double hopSeconds(double rate) {
        return static_cast<double>(OnsetFront(rate).hopSize()) / rate;
    }

    void drain() {
        std::uint64_t first = 0;
        while (const std::size_t count = feed_.read(buffer_.data(), buffer_.size(), first)) {
            const double usPerFrame = feed_.usPerFrame();
            if (usPerFrame <= 0) {
                continue;
            }
            const double rate = 1e6 / usPerFrame;
            if (!front_ || std::fabs(front_->sampleRate() - rate) > rate * 0.01) {
                // A new graph rate (PipeWire changes it as it likes): the front end
                // starts again at it; the tracker keeps what it heard.
                const bool first_rate = !front_;
                front_ = std::make_unique<OnsetFront>(rate);
                base_ = first;
                if (first_rate && std::fabs(rate - 48000) > 1) {
                    tracker_ = ListenTracker(static_cast<double>(front_->hopSize()) / rate);
                }
            }
            hops_.clear();
            front_->push(buffer_.data(), count, hops_);
            if (!offsetKnown.load(std::memory_order_acquire)) {
                continue;
            }
            const auto offset = static_cast<double>(offsetNs.load(std::memory_order_relaxed));
            for (const OnsetFront::Hop& hop : hops_) {
                // The first hops' centres lie before the first sample heard: no time.
                const std::int64_t sample = static_cast<std::int64_t>(base_) + hop.sample;
                if (sample < 0) {
                    continue;
                }
                if (const std::optional<double> usecs =
                        feed_.usecsOf(static_cast<std::uint64_t>(sample))) {
                    tracker_.hop((*usecs * 1000.0 - offset) * 1e-9, hop.complexDomain, hop.energy);
                }
            }
        }
        report();
    }

    void report(bool always = false) {
        const Heard now = tracker_.heard();
        if (always || !last_ || differs(now, *last_)) {
            last_ = now;
            ListenControl* control = control_;
            QMetaObject::invokeMethod(
                control, [control, now] { control->take(now); }, Qt::QueuedConnection);
        }
    }

    ListenFeed& feed_;
    ListenControl* control_;
    QTimer* poll_;
    std::unique_ptr<OnsetFront> front_;
    std::uint64_t base_ = 0; // the stream's sample that the front end heard first
    ListenTracker tracker_;
    std::array<float, 4096> buffer_{};
    std::vector<OnsetFront::Hop> hops_;
    std::optional<Heard> last_;
};

ListenControl::ListenControl(Clock clock, JackControl* jack, QObject* parent)
    : QObject(parent), clock_(std::move(clock)), jack_(jack), thread_(new QThread(this)),
      worker_(new Worker(jack->client()->listenFeed(), this)) {
    thread_->setObjectName(QStringLiteral("listening"));
    worker_->moveToThread(thread_);
    connect(thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_->start();
    const auto measure = [this] {
        if (const auto offset = jack_->client()->clockOffset()) {
            worker_->offsetNs.store(offset->count(), std::memory_order_relaxed);
            worker_->offsetKnown.store(true, std::memory_order_release);
        }
    };
    connect(jack_->client(), &JackClient::stateChanged, this, measure);
    connect(this, &ListenControl::heardChanged, this, measure);
}

ListenControl::~ListenControl() {
    thread_->quit();
    thread_->wait();
}

void ListenControl::setOn(bool on) {
    if (on == on_) {
        return;
    }
    on_ = on;
    jack_->setListening(on);
    Worker* worker = worker_;
    QMetaObject::invokeMethod(
        worker, [worker, on] { on ? worker->start() : worker->stop(); }, Qt::QueuedConnection);
    if (!on) {
        forget();
    }
}

void ListenControl::strike(double reading, double quarterBeats) {
    if (!on_) {
        return;
    }
    const double seconds = steadySeconds(steadyTimeOf(clock_, reading));
    Worker* worker = worker_;
    QMetaObject::invokeMethod(
        worker, [worker, seconds, quarterBeats] { worker->strike(seconds, quarterBeats); },
        Qt::QueuedConnection);
}

void ListenControl::forget() {
    Worker* worker = worker_;
    QMetaObject::invokeMethod(
        worker, [worker] { worker->forget(); }, Qt::QueuedConnection);
}

void ListenControl::take(const Heard& heard) {
    heard_ = heard;
    emit heardChanged();
}

std::optional<Heard> ListenControl::heard() const {
    if (!on_ || !heard_ || heard_->state == Heard::State::searching || heard_->bpm <= 0) {
        return std::nullopt;
    }
    Heard now = *heard_;
    now.beat = readingAt(clock_, steadyAt(heard_->beat));
    return now;
}

} // namespace tempocalc

#include "listen_control.moc"
