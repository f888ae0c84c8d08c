#include "jack_client.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

namespace tempocalc {
namespace {

using std::chrono::nanoseconds;
using std::chrono::steady_clock;

// What the process callback follows, as one value.
struct Settings {
    bool grid = false;
    double beatUs = 0;            // a beat of the grid, on JACK's clock, in microseconds
    double beatLengthUs = 0;      // 60e6 / bpm
    std::uint64_t gridSerial = 0; // a new grid, not the same one measured again
    bool clock = false;
    bool click = false;
    bool closing = false;
};

// Hands a value from one thread to another, wait-free on both sides: three slots, of
// which the writer owns one and the reader one at any time, and the third waits in the
// middle. The writer fills its own slot and swaps it into the middle; the reader, when
// the middle holds a newer value than its own, swaps its slot for it. A slot changes
// hands only through the exchange on middle_, which is acquire-release: everything the
// writer wrote into the slot happens before the reader reads it, and the reader is done
// with its old slot before the writer can get it back. Neither side ever waits for the
// other or retries, so the real-time reader cannot be held up by a writer that the
// scheduler put aside halfway (as it could spin on a sequence lock).
template <class T> class TripleBuffer {
public:
    T& back() { return slots_[back_]; } // the writer's
    void publish() { back_ = middle_.exchange(back_ | fresh, std::memory_order_acq_rel) & index; }

    const T& read() { // the reader's
        if (middle_.load(std::memory_order_relaxed) & fresh) {
            front_ = middle_.exchange(front_, std::memory_order_acq_rel) & index;
        }
        return slots_[front_];
    }

private:
    static constexpr unsigned fresh = 4, index = 3;
    std::array<T, 3> slots_{};
    unsigned back_ = 0;
    std::atomic<unsigned> middle_{1};
    unsigned front_ = 2;
};

// What the process callback tells this object's thread.
struct Event {
    enum class Kind : std::uint8_t { strike, learned } kind;
    jack_time_t usecs; // a strike's time on JACK's clock
};

// One producer (the process callback), one consumer (this object's thread), a fixed
// ring: no lock, no allocation. When it is full, the newest event is dropped.
template <class T, std::size_t N> class SpscQueue {
    static_assert((N & (N - 1)) == 0);

public:
    bool push(const T& item) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) == N) {
            return false;
        }
        items_[head % N] = item;
        head_.store(head + 1, std::memory_order_release);
        return true;
    }
    bool pop(T& item) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire)) {
            return false;
        }
        item = items_[tail % N];
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

private:
    std::array<T, N> items_{};
    std::atomic<std::size_t> head_{0}, tail_{0};
};

// JACK's measure of one cycle, read once at its start (jack_get_cycle_times): its first
// frame and that frame's time, and the time a frame lasts. Every conversion in the cycle
// goes through this one reading, as jack_time_to_frames and jack_frames_to_time convert;
// they would each read JACK's measure anew, and when the server moves on during a late
// callback a time and a frame would no longer agree within the cycle. Right after a
// stall JACK's measure is now and then nonsense for a cycle (the next cycle's time
// before this one's): the last good measure is carried on through it.
struct Cycle {
    jack_nframes_t start = 0;
    double startUs = 0;
    double usPerFrame = 0;    // none: no measure yet
    jack_nframes_t given = 0; // the first frame that JACK said

    static Cycle read(jack_client_t* client, jack_nframes_t frames, const Cycle& last,
                      double nominalUsPerFrame) {
        jack_nframes_t start;
        jack_time_t startUs, nextUs;
        float periodUs;
        if (jack_get_cycle_times(client, &start, &startUs, &nextUs, &periodUs) != 0) {
            start = jack_last_frame_time(client);
            startUs = nextUs = 0;
        }
        // A callback that runs late is now and then given the measure of the cycle
        // before (the same first frame again): this cycle is the one after that.
        if (last.known() && start == last.given) {
            return {last.start + frames, last.startUs + frames * last.usPerFrame, last.usPerFrame,
                    start};
        }
        const double usPerFrame =
            static_cast<double>(static_cast<std::int64_t>(nextUs - startUs)) / frames;
        if (usPerFrame > nominalUsPerFrame / 2 && usPerFrame < nominalUsPerFrame * 2) {
            return {start, static_cast<double>(startUs), usPerFrame, start};
        }
        if (last.usPerFrame == 0) {
            return {start, 0, 0, start};
        }
        return {start,
                last.startUs + static_cast<std::int32_t>(start - last.start) * last.usPerFrame,
                last.usPerFrame, start};
    }
    bool known() const { return usPerFrame > 0; }
    // The frame of a time, counted from the cycle's first (rounded, as JACK rounds).
    std::int64_t offsetOf(double us) const { return std::llround((us - startUs) / usPerFrame); }
    double timeOf(std::int64_t offset) const {
        return startUs + static_cast<double>(offset) * usPerFrame;
    }
};

// Pulses of a grid, `division` to a beat: pulse k is due at beat + k · length, each
// computed from the grid alone, so that nothing drifts however long the grid holds.
struct PulseTrain {
    bool sent = false;     // since the train began
    std::int64_t next = 0; // the next pulse's number on the grid `serial`
    std::uint64_t serial = 0;
    double lastUs = -1e300; // when the last pulse sent was due

    // Calls pulse(offset) for every pulse due in this cycle of `frames` frames, moved
    // earlier by the port's latency. A train that begins starts on a beat; on a new grid
    // it goes on from the first pulse at least half a pulse after the last one sent (and
    // not yet past), so that no pulse comes twice, goes back or crowds the one before. A
    // pulse that was still to come in the last cycle and is past in this one (JACK's
    // clock jumped against its frames) goes out at once, so that a receiver counting
    // pulses keeps its count, unless it is more than lateUs late; then the train goes on
    // from this cycle. At most a beat's pulses and one go out in a cycle.
    template <class Pulse> void run(const Settings& s, int division, const Cycle& cycle,
                                    jack_nframes_t latency, jack_nframes_t frames, double lateUs,
                                    Pulse&& pulse) {
        const double length = s.beatLengthUs / division;
        const double startUs = cycle.timeOf(latency); // due now
        const auto from = [&](double us) {
            return static_cast<std::int64_t>(std::ceil((us - s.beatUs) / length));
        };
        if (!sent) {
            const double earliest = std::max(startUs, lastUs + length / 2);
            next = static_cast<std::int64_t>(std::ceil((earliest - s.beatUs) / s.beatLengthUs)) *
                   division;
            serial = s.gridSerial;
        } else if (serial != s.gridSerial) {
            next = from(std::max(lastUs + length / 2, startUs));
            serial = s.gridSerial;
        }
        for (int sentNow = 0; sentNow <= division;) {
            const double due = s.beatUs + static_cast<double>(next) * length;
            const std::int64_t offset = cycle.offsetOf(due) - latency;
            if (offset >= frames) {
                return;
            }
            if (offset < 0 && startUs - due > lateUs) {
                next = std::max(next + 1, from(startUs));
                continue;
            }
            pulse(static_cast<jack_nframes_t>(std::max<std::int64_t>(offset, 0)));
            sent = true;
            lastUs = due;
            ++next;
            ++sentNow;
        }
    }
};

void quiet(const char*) {}

constexpr unsigned char midiStart = 0xfa, midiTick = 0xf8, midiStop = 0xfc;

// A few milliseconds of a decaying 2 kHz tone whose peak, its first sample, is -6 dBFS.
std::vector<float> clickSound(double rate) {
    std::vector<float> sound(static_cast<std::size_t>(std::lround(0.005 * rate)));
    for (std::size_t i = 0; i < sound.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        sound[i] = static_cast<float>(0.5 * std::exp(-t / 0.001) *
                                      std::cos(2 * std::numbers::pi * 2000 * t));
    }
    return sound;
}

} // namespace

// Everything one open client has; made afresh at every open, so that the process
// callback's own state starts clean and outlives nothing.
struct JackClient::Shared {
    TapFilter* filter = nullptr;
    jack_client_t* client = nullptr;
    jack_port_t* clockPort = nullptr;
    jack_port_t* clickPort = nullptr;
    jack_port_t* tapPort = nullptr;
    int wake = -1; // an eventfd: the callback's strikes and the server's going away
    QSocketNotifier* notifier = nullptr;
    QTimer* remeasure = nullptr;
    std::int64_t offsetNs = 0; // JACK's clock minus the steady clock; this object's thread
    std::uint64_t gridSerial = 0;
    bool closing = false;

    // Between the threads.
    TripleBuffer<Settings> settings;
    SpscQueue<Event, 256> events;
    std::atomic<bool> restartTap{false};
    std::atomic<jack_nframes_t> clockLatency{0}, clickLatency{0}, tapLatency{0};
    std::atomic<bool> clockRunning{false};
    std::atomic<std::uint64_t> cycles{0};
    std::atomic<bool> gone{false};
    std::array<char, 200> goneReason{};

    // The process callback's own.
    std::vector<float> click; // filled before the client is activated, as is
    double clickLateUs = 0;   // a click this late is no click on the beat: it is left out
    double usPerFrame = 0;    // at the server's rate, to tell JACK's measure of a cycle sane
    Cycle lastCycle;
    std::size_t clickPlayed = 0;
    PulseTrain ticks, beats;

    void signal() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake, &one, sizeof one);
    }

    static int process(jack_nframes_t frames, void* self) {
        static_cast<Shared*>(self)->run(frames);
        return 0;
    }

    void run(jack_nframes_t frames) {
        const Settings& s = settings.read();
        const Cycle cycle = Cycle::read(client, frames, lastCycle, usPerFrame);
        if (cycle.known()) {
            lastCycle = cycle;
        }

        void* midi = jack_port_get_buffer(clockPort, frames);
        jack_midi_clear_buffer(midi);
        if (s.grid && s.clock && !s.closing && cycle.known()) {
            ticks.run(s, ticks_per_beat, cycle, clockLatency.load(std::memory_order_relaxed),
                      frames, s.beatLengthUs, [&](jack_nframes_t offset) {
                          if (!ticks.sent) {
                              jack_midi_event_write(midi, offset, &midiStart, 1);
                          }
                          jack_midi_event_write(midi, offset, &midiTick, 1);
                      });
        } else if (ticks.sent && !(s.grid && s.clock && !s.closing)) {
            jack_midi_event_write(midi, 0, &midiStop, 1);
            ticks.sent = false;
        }
        clockRunning.store(ticks.sent, std::memory_order_release);

        auto* audio = static_cast<float*>(jack_port_get_buffer(clickPort, frames));
        jack_nframes_t done = 0;
        const auto playTo = [&](jack_nframes_t end) {
            for (; done < end; ++done) {
                audio[done] = clickPlayed < click.size() ? click[clickPlayed++] : 0.0f;
            }
        };
        if (s.grid && s.click && !s.closing && cycle.known()) {
            beats.run(s, 1, cycle, clickLatency.load(std::memory_order_relaxed), frames,
                      clickLateUs, [&](jack_nframes_t offset) {
                          playTo(offset);
                          clickPlayed = 0;
                      });
        }
        playTo(frames);

        hearTaps(frames, cycle);
        cycles.fetch_add(1, std::memory_order_release);
    }

    void hearTaps(jack_nframes_t frames, const Cycle& cycle) {
        if (restartTap.exchange(false, std::memory_order_acquire)) {
            filter->restart();
        }
        void* midi = jack_port_get_buffer(tapPort, frames);
        const jack_nframes_t latency = tapLatency.load(std::memory_order_relaxed);
        if (!cycle.known()) {
            return; // the server's first cycles: no time to give a strike
        }
        for (std::uint32_t i = 0, n = jack_midi_get_event_count(midi); i < n; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, midi, i) != 0) {
                continue;
            }
            // When it reached the system, not when this cycle began.
            const auto at = static_cast<jack_time_t>(
                std::llround(cycle.timeOf(static_cast<std::int64_t>(event.time) - latency)));
            switch (filter->hear(event.buffer, event.size, static_cast<double>(at) * 1e-6)) {
            case TapFilter::Heard::strike:
                if (events.push({Event::Kind::strike, at})) {
                    signal();
                }
                break;
            case TapFilter::Heard::learned:
                if (events.push({Event::Kind::learned, 0})) {
                    signal();
                }
                break;
            case TapFilter::Heard::nothing:
                break;
            }
        }
    }

    // On JACK's notification thread: the latencies JACK worked out from the connections.
    static void latency(jack_latency_callback_mode_t mode, void* self) {
        auto* shared = static_cast<Shared*>(self);
        jack_latency_range_t range;
        jack_latency_range_t none{0, 0};
        if (mode == JackPlaybackLatency) {
            jack_port_get_latency_range(shared->clockPort, mode, &range);
            shared->clockLatency = range.max;
            jack_port_get_latency_range(shared->clickPort, mode, &range);
            shared->clickLatency = range.max;
            jack_port_set_latency_range(shared->tapPort, mode, &none); // nothing plays taps
        } else {
            jack_port_get_latency_range(shared->tapPort, mode, &range);
            shared->tapLatency = range.max;
            jack_port_set_latency_range(shared->clockPort, mode, &none); // made here, now
            jack_port_set_latency_range(shared->clickPort, mode, &none);
        }
    }

    // On a thread of JACK's, as if in a signal handler: note it and wake the object.
    static void shutDown(jack_status_t, const char* reason, void* self) {
        auto* shared = static_cast<Shared*>(self);
        const std::size_t length =
            std::min(std::strlen(reason ? reason : ""), shared->goneReason.size() - 1);
        std::memcpy(shared->goneReason.data(), reason ? reason : "", length);
        shared->goneReason[length] = '\0';
        shared->gone.store(true, std::memory_order_release);
        shared->signal();
    }
};

JackClient::JackClient(QObject* parent) : QObject(parent), filter_(std::make_unique<TapFilter>()) {}

JackClient::~JackClient() {
    close();
}

bool JackClient::open() {
    if (shared_) {
        return true;
    }
    error_.clear();
    // A server that is not there is said in error(), not on the terminal.
    jack_set_error_function(&quiet);
    jack_set_info_function(&quiet);
    jack_status_t status{};
    jack_client_t* client = jack_client_open(client_name, JackNoStartServer, &status);
    if (!client) {
        error_ = status & JackServerFailed
                     ? QStringLiteral("No JACK server is running.")
                     : QStringLiteral("The JACK server refused the client (status 0x%1).")
                           .arg(static_cast<unsigned>(status), 0, 16);
        return false;
    }
    auto shared = std::make_unique<Shared>();
    shared->filter = filter_.get();
    shared->client = client;
    shared->clockPort =
        jack_port_register(client, "clock", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    shared->clickPort =
        jack_port_register(client, "click", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    shared->tapPort = jack_port_register(client, "tap", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    shared->wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (!shared->clockPort || !shared->clickPort || !shared->tapPort || shared->wake < 0) {
        error_ = QStringLiteral("The JACK server refused the client's ports.");
        if (shared->wake >= 0) {
            ::close(shared->wake);
        }
        jack_client_close(client);
        return false;
    }
    shared->click = clickSound(jack_get_sample_rate(client));
    shared->usPerFrame = 1e6 / jack_get_sample_rate(client);
    shared->clickLateUs = 4 * shared->usPerFrame;
    shared->clickPlayed = shared->click.size();
    filter_->restart(); // nothing hears yet
    jack_set_process_callback(client, &Shared::process, shared.get());
    jack_set_latency_callback(client, &Shared::latency, shared.get());
    jack_on_info_shutdown(client, &Shared::shutDown, shared.get());

    shared->notifier = new QSocketNotifier(shared->wake, QSocketNotifier::Read, this);
    connect(shared->notifier, &QSocketNotifier::activated, this, &JackClient::drain);
    // JACK's clock and the steady clock run at rates a little apart (the steady clock
    // follows NTP's corrections): the grid is converted again every second.
    shared->remeasure = new QTimer(this);
    connect(shared->remeasure, &QTimer::timeout, this, [this] {
        measureClock();
        publish();
    });
    shared_ = std::move(shared);
    measureClock();
    publish();
    if (jack_activate(client) != 0) {
        error_ = QStringLiteral("The JACK server would not run the client.");
        release();
        return false;
    }
    shared_->remeasure->start(1000);
    if (!tapped_.isEmpty()) {
        tapFrom(tapped_);
    }
    return true;
}

void JackClient::close() {
    if (!shared_) {
        return;
    }
    if (shared_->clockRunning && !shared_->gone) {
        // A Stop before leaving: a cycle sends it, and once that cycle is over the
        // ports it is connected to have it. A server that hangs is not waited for long.
        shared_->closing = true;
        publish();
        const auto deadline = steady_clock::now() + std::chrono::milliseconds(250);
        const auto waitFor = [&](auto done) {
            while (!done() && !shared_->gone && steady_clock::now() < deadline) {
                QThread::usleep(500);
            }
        };
        waitFor([&] { return !shared_->clockRunning.load(std::memory_order_acquire); });
        const std::uint64_t stopped = shared_->cycles.load(std::memory_order_acquire);
        waitFor([&] { return shared_->cycles.load(std::memory_order_acquire) > stopped; });
    }
    release();
}

void JackClient::release() {
    Shared& shared = *shared_;
    shared.remeasure->stop();
    shared.remeasure->deleteLater();
    jack_client_close(shared.client); // the callbacks end here
    shared.notifier->setEnabled(false);
    shared.notifier->deleteLater(); // this may be its own signal's slot
    ::close(shared.wake);
    shared_.reset();
}

bool JackClient::isOpen() const {
    return shared_ != nullptr;
}

void JackClient::setGrid(std::optional<Grid> grid) {
    if (grid && !(std::isfinite(grid->bpm) && grid->bpm > 0)) {
        grid.reset();
    }
    if (grid == grid_) {
        return;
    }
    grid_ = grid;
    if (shared_) {
        ++shared_->gridSerial;
        measureClock();
        publish();
    }
}

void JackClient::setClock(bool on) {
    clock_ = on;
    publish();
}

void JackClient::setClick(bool on) {
    click_ = on;
    publish();
}

void JackClient::publish() {
    if (!shared_) {
        return;
    }
    Settings& s = shared_->settings.back();
    s.grid = grid_.has_value();
    if (grid_) {
        const auto beatNs = std::chrono::duration_cast<nanoseconds>(grid_->beat.time_since_epoch());
        s.beatUs = static_cast<double>(beatNs.count() + shared_->offsetNs) / 1000.0;
        s.beatLengthUs = 60e6 / grid_->bpm;
    }
    s.gridSerial = shared_->gridSerial;
    s.clock = clock_;
    s.click = click_;
    s.closing = shared_->closing;
    shared_->settings.publish();
}

void JackClient::measureClock() {
    // The pair of readings taken closest together. JACK's microseconds are cut, not
    // rounded, from its clock's nanoseconds: the reading's middle is half a µs on.
    nanoseconds closest = nanoseconds::max();
    for (int i = 0; i < 16; ++i) {
        const auto before = steady_clock::now();
        const jack_time_t jack = jack_get_time();
        const auto after = steady_clock::now();
        if (after - before < closest) {
            closest = after - before;
            const auto middle = before.time_since_epoch() + (after - before) / 2;
            shared_->offsetNs = static_cast<std::int64_t>(jack) * 1000 + 500 -
                                std::chrono::duration_cast<nanoseconds>(middle).count();
        }
    }
}

std::optional<nanoseconds> JackClient::clockOffset() const {
    return shared_ ? std::optional(nanoseconds(shared_->offsetNs)) : std::nullopt;
}

void JackClient::drain() {
    if (!shared_) {
        return;
    }
    std::uint64_t count;
    [[maybe_unused]] const ssize_t read = ::read(shared_->wake, &count, sizeof count);
    std::vector<Event> events;
    for (Event event{}; shared_->events.pop(event);) {
        events.push_back(event);
    }
    const std::int64_t offsetNs = shared_->offsetNs;
    QString reason;
    const bool gone = shared_->gone.load(std::memory_order_acquire);
    if (gone) {
        reason = QString::fromLocal8Bit(shared_->goneReason.data()).trimmed();
        if (reason.isEmpty()) {
            reason = QStringLiteral("The JACK server went away.");
        }
        release();
    }
    for (const Event& event : events) {
        if (event.kind == Event::Kind::strike) {
            emit strikeAt(TimePoint(std::chrono::duration_cast<steady_clock::duration>(
                nanoseconds(static_cast<std::int64_t>(event.usecs) * 1000 - offsetNs))));
        } else {
            emit learnedChanged();
        }
    }
    if (gone) {
        emit shutDown(reason);
    }
}

QStringList JackClient::tapSources(bool* answered) const {
    jack_client_t* client = shared_ ? shared_->client : nullptr;
    const bool borrowed = !client;
    if (borrowed) {
        jack_set_error_function(&quiet);
        jack_set_info_function(&quiet);
        client = jack_client_open(client_name, JackNoStartServer, nullptr);
    }
    if (answered) {
        *answered = client != nullptr;
    }
    if (!client) {
        return {};
    }
    const QString own = QString::fromUtf8(jack_get_client_name(client)) + QLatin1Char(':');
    QStringList sources;
    if (const char** ports =
            jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput)) {
        for (const char** port = ports; *port; ++port) {
            const QString name = QString::fromUtf8(*port);
            if (!name.startsWith(own)) {
                sources << name;
            }
        }
        jack_free(ports);
    }
    if (borrowed) {
        jack_client_close(client);
    }
    return sources;
}

bool JackClient::tapFrom(const QString& port) {
    tapped_ = port;
    if (!shared_) {
        return false;
    }
    jack_port_disconnect(shared_->client, shared_->tapPort);
    shared_->restartTap.store(true, std::memory_order_release);
    return port.isEmpty() || jack_connect(shared_->client, port.toUtf8().constData(),
                                          jack_port_name(shared_->tapPort)) == 0;
}

void JackClient::learn() {
    filter_->learn();
}

bool JackClient::isLearning() const {
    return filter_->isLearning();
}

std::optional<MidiMessage> JackClient::learned() const {
    return filter_->learned();
}

void JackClient::setLearned(std::optional<MidiMessage> message) {
    filter_->setLearned(message);
}

} // namespace tempocalc
