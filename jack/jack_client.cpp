#include "jack_client.h"

#include "handover.h"
#include "listen_feed.h"
#include "pulse_train.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
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
#include <memory>
#include <numbers>
#include <vector>

namespace tempocalc {
namespace {

using std::chrono::nanoseconds;
using std::chrono::steady_clock;

// What the process callback follows, as one value.
struct Settings {
    bool grid = false;
    double beatUs = 0;            // the grid's one, on JACK's clock, in microseconds
    double beatLengthUs = 0;      // 60e6 / bpm
    std::uint64_t gridSerial = 0; // a new grid, not the same one measured again
    int bar = 1;
    unsigned marks = 0;
    bool clock = false;
    bool click = false;
    bool listen = false;
};

// What the process callback tells this object's thread.
struct Event {
    enum class Kind : std::uint8_t { strike, learned, one } kind;
    jack_time_t usecs; // a strike's time on JACK's clock
};

void quiet(const char*) {}

constexpr unsigned char midiStart = 0xfa, midiTick = 0xf8, midiStop = 0xfc;
constexpr unsigned char songPositionZero[] = {0xf2, 0, 0};

// The click at one sample rate: a few milliseconds of a decaying tone whose peak, its
// first sample, is -6 dBFS, at 2 kHz, and on the one a fifth higher, at 3 kHz, as a
// metronome's accent. A click more than four frames late is no click on the beat and is
// left out.
struct ClickSound {
    explicit ClickSound(double rate)
        : samples(tone(rate, 2000)), accent(tone(rate, 3000)), lateUs(4e6 / rate) {}
    static std::vector<float> tone(double rate, double hz) {
        std::vector<float> sound(static_cast<std::size_t>(std::lround(0.005 * rate)));
        for (std::size_t i = 0; i < sound.size(); ++i) {
            const double t = static_cast<double>(i) / rate;
            sound[i] = static_cast<float>(0.5 * std::exp(-t / 0.001) *
                                          std::cos(2 * std::numbers::pi * hz * t));
        }
        return sound;
    }
    std::vector<float> samples;
    std::vector<float> accent; // as long as samples
    double lateUs;
};

QString noServer() {
    return QStringLiteral("No JACK server is running.");
}

} // namespace

// What the threads share, for the client's whole life. The worker sets the JACK side up
// while no callback runs (before activating, after closing); this object's thread alone
// writes the settings; the process callback alone reads them and writes the events.
struct JackClient::Shared {
    TapFilter* filter = nullptr;
    int wake = -1; // an eventfd: the callback's strikes and the server's going away

    TripleBuffer<Settings> settings;
    SpscQueue<Event, 256> events;
    std::atomic<bool> restartTap{false};
    std::atomic<bool> startAgain{false}; // the clock has a receiver that had no Start
    std::atomic<bool> stopping{false};   // the worker is closing: a Stop, then nothing
    std::atomic<jack_nframes_t> clockLatency{0}, clickLatency{0}, tapLatency{0}, listenLatency{0};
    std::atomic<bool> clockRunning{false};
    std::atomic<std::uint64_t> cycles{0};
    std::atomic<bool> gone{false};
    std::array<char, 200> goneReason{};
    // Set anew when the sample rate changes, on JACK's notification thread: the callback
    // picks them up without a lock, and the sounds it may still play stay until closing.
    std::atomic<double> usPerFrame{0};
    std::atomic<const ClickSound*> sound{nullptr};
    std::vector<std::unique_ptr<ClickSound>> sounds;

    // Set by the worker while no callback runs.
    jack_client_t* client = nullptr;
    jack_port_t* clockPort = nullptr;
    jack_port_t* clickPort = nullptr;
    jack_port_t* tapPort = nullptr;
    // Registered by the worker once listening is wanted, while the callback may run.
    std::atomic<jack_port_t*> listenPort{nullptr};
    std::atomic<bool> listenWanted{false};
    ListenFeed heard;

    // The process callback's own.
    Cycle lastCycle;
    TickTrain ticks;
    BeatTrain beats;
    jack_time_t lastHeard = 0;
    const ClickSound* playing = nullptr;
    const std::vector<float>* tone = nullptr; // of playing: the click or the accent
    std::size_t clickPlayed = 0;

    void signal() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake, &one, sizeof one);
    }

    // Made ready for a new client, before it is activated.
    void begin(jack_client_t* opened) {
        client = opened;
        lastCycle = {};
        ticks = {};
        beats = {};
        playing = nullptr;
        tone = nullptr;
        clickPlayed = 0;
        gone = false;
        stopping = false;
        clockRunning = false;
        rate(jack_get_sample_rate(client));
    }

    void rate(jack_nframes_t frames) {
        if (frames == 0) {
            return;
        }
        sounds.push_back(std::make_unique<ClickSound>(frames));
        usPerFrame.store(1e6 / frames, std::memory_order_relaxed);
        sound.store(sounds.back().get(), std::memory_order_release);
    }

    static int process(jack_nframes_t frames, void* self) {
        static_cast<Shared*>(self)->run(frames);
        return 0;
    }

    void run(jack_nframes_t frames) {
        const Settings& s = settings.read();
        jack_nframes_t start;
        jack_time_t startUs, nextUs;
        float periodUs;
        const bool measured =
            jack_get_cycle_times(client, &start, &startUs, &nextUs, &periodUs) == 0;
        if (!measured) {
            start = jack_last_frame_time(client);
        }
        const Cycle cycle = Cycle::measure(measured, start, startUs, nextUs, frames, lastCycle,
                                           usPerFrame.load(std::memory_order_relaxed));
        if (cycle.known()) {
            lastCycle = cycle;
        }
        const bool stop = stopping.load(std::memory_order_acquire);
        const JackGrid grid{s.beatUs, s.beatLengthUs, s.gridSerial, s.bar, s.marks};

        void* midi = jack_port_get_buffer(clockPort, frames);
        jack_midi_clear_buffer(midi);
        const bool ticking = s.grid && s.clock && !stop;
        if (startAgain.exchange(false, std::memory_order_acquire)) {
            ticks.startAgain();
        }
        if (ticking && cycle.known()) {
            ticks.run(grid, cycle, clockLatency.load(std::memory_order_relaxed), frames,
                      [&](std::uint32_t offset, TickTrain::With with) {
                          if (with == TickTrain::With::restart) {
                              jack_midi_event_write(midi, offset, &midiStop, 1);
                          }
                          if (with != TickTrain::With::tick) {
                              jack_midi_event_write(midi, offset, songPositionZero,
                                                    sizeof songPositionZero);
                              jack_midi_event_write(midi, offset, &midiStart, 1);
                          }
                          jack_midi_event_write(midi, offset, &midiTick, 1);
                      });
        } else if (ticks.running() && !ticking) {
            jack_midi_event_write(midi, 0, &midiStop, 1);
            ticks.stop();
        }
        clockRunning.store(ticks.running(), std::memory_order_release);

        if (const ClickSound* now = sound.load(std::memory_order_acquire); now != playing) {
            playing = now; // a new rate: what played at the old one stops
            tone = now ? &now->samples : nullptr;
            clickPlayed = now ? now->samples.size() : 0;
        }
        auto* audio = static_cast<float*>(jack_port_get_buffer(clickPort, frames));
        jack_nframes_t done = 0;
        const auto playTo = [&](jack_nframes_t end) {
            for (; done < end; ++done) {
                audio[done] = tone && clickPlayed < tone->size() ? (*tone)[clickPlayed++] : 0.0f;
            }
        };
        if (s.grid && s.click && !stop && cycle.known() && playing) {
            beats.run(grid, cycle, clickLatency.load(std::memory_order_relaxed), frames,
                      playing->lateUs, [&](std::uint32_t offset, bool one) {
                          playTo(offset);
                          tone = one ? &playing->accent : &playing->samples;
                          clickPlayed = 0;
                      });
        } else if (!(s.grid && s.click)) {
            beats.stop();
        }
        playTo(frames);

        hearTaps(frames, cycle);
        if (jack_port_t* port = listenPort.load(std::memory_order_acquire);
            port && s.listen && cycle.known()) {
            // Stamped with when the first sample reached the system, before the capture's
            // latency.
            heard.write(static_cast<const float*>(jack_port_get_buffer(port, frames)), frames,
                        cycle.timeOf(-static_cast<std::int64_t>(
                            listenLatency.load(std::memory_order_relaxed))),
                        usPerFrame.load(std::memory_order_relaxed));
        }
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
            // When it reached the system, not when this cycle began; never before the one
            // heard last, which JACK's measure of a cycle, carried on through a stall,
            // can make it seem (the filter would take a time that went back for the next
            // day's).
            const jack_time_t at =
                std::max(lastHeard, static_cast<jack_time_t>(std::llround(cycle.timeOf(
                                        static_cast<std::int64_t>(event.time) - latency))));
            lastHeard = at;
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
            case TapFilter::Heard::one:
                if (events.push({Event::Kind::one, 0})) {
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
            if (jack_port_t* listen = shared->listenPort.load()) {
                jack_port_set_latency_range(listen, mode, &none);
            }
        } else {
            jack_port_get_latency_range(shared->tapPort, mode, &range);
            shared->tapLatency = range.max;
            if (jack_port_t* listen = shared->listenPort.load()) {
                jack_port_get_latency_range(listen, mode, &range);
                shared->listenLatency = range.max;
            }
            jack_port_set_latency_range(shared->clockPort, mode, &none); // made here, now
            jack_port_set_latency_range(shared->clickPort, mode, &none);
        }
    }

    // On JACK's notification thread (PipeWire changes a graph's rate as it likes).
    static int sampleRate(jack_nframes_t frames, void* self) {
        static_cast<Shared*>(self)->rate(frames);
        return 0;
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

// Everything that talks to the server, on a thread of its own: a server that hangs holds
// up this thread alone. It says how things went through its signals, which reach the
// client's thread queued.
class JackClient::Worker : public QObject {
    Q_OBJECT

public:
    explicit Worker(Shared& shared)
        : shared_(shared), poll_(new QTimer(this)), watcher_(new QFileSystemWatcher(this)) {
        // While the client is wanted and no server runs, the program waits for one without
        // a timer: a server that starts makes its socket (jackd in /dev/shm, PipeWire in
        // the user's runtime folder), and the client is tried then, and a few times more
        // while the server gets ready. Where neither folder can be watched, it looks twice
        // a second.
        connect(poll_, &QTimer::timeout, this, &Worker::open);
        connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
            if (wanted_ && !client_ && serverMayBeThere()) {
                retries_ = 50; // five seconds: a busy machine starts a server slowly
                open();
            }
        });
        jack_set_error_function(&quiet); // a missing server is said in one line, not here
        jack_set_info_function(&quiet);
    }

    void want() {
        wanted_ = true;
        if (watcher_->directories().isEmpty()) {
            for (const QString& folder :
                 {QStringLiteral("/dev/shm"), qEnvironmentVariable("XDG_RUNTIME_DIR")}) {
                if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
                    watcher_->addPath(folder);
                }
            }
        }
        // A server that made its socket before the folders were watched again (one that
        // restarts at once) wakes no watcher: it is given the same tries while it gets
        // ready.
        retries_ = serverMayBeThere() ? 50 : 0;
        open();
    }

    void open() {
        if (client_ || !wanted_) {
            poll_->stop();
            return;
        }
        jack_status_t status{};
        jack_client_t* client = jack_client_open(client_name, JackNoStartServer, &status);
        if (!client) {
            fail(status & JackServerFailed
                     ? noServer()
                     : QStringLiteral("The JACK server refused the client (status 0x%1).")
                           .arg(static_cast<unsigned>(status), 0, 16));
            return;
        }
        Shared& s = shared_;
        s.clockPort =
            jack_port_register(client, "clock", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        s.clickPort =
            jack_port_register(client, "click", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        s.tapPort = jack_port_register(client, "tap", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (!s.clockPort || !s.clickPort || !s.tapPort) {
            jack_client_close(client);
            fail(QStringLiteral("The JACK server refused the client's ports."));
            return;
        }
        s.begin(client);
        s.filter->restart(); // nothing hears yet
        registerListen(client);
        jack_set_process_callback(client, &Shared::process, &s);
        jack_set_latency_callback(client, &Shared::latency, &s);
        jack_set_sample_rate_callback(client, &Shared::sampleRate, &s);
        jack_on_info_shutdown(client, &Shared::shutDown, &s);
        // Ports come and go on JACK's notification thread, which may not call the server.
        jack_set_port_registration_callback(
            client,
            [](jack_port_id_t, int, void* self) {
                QMetaObject::invokeMethod(static_cast<Worker*>(self), &Worker::rescan,
                                          Qt::QueuedConnection);
            },
            this);
        jack_set_port_connect_callback(
            client,
            [](jack_port_id_t, jack_port_id_t, int, void* self) {
                QMetaObject::invokeMethod(static_cast<Worker*>(self), &Worker::checkTap,
                                          Qt::QueuedConnection);
            },
            this);
        if (jack_activate(client) != 0) {
            jack_client_close(client);
            release();
            fail(QStringLiteral("The JACK server would not run the client."));
            return;
        }
        client_ = client;
        const QString name = QString::fromUtf8(jack_get_client_name(client));
        poll_->stop();
        // Watched again only while waiting: nothing there wakes an open client.
        if (!watcher_->directories().isEmpty()) {
            watcher_->removePaths(watcher_->directories());
        }
        emit opened(name);
        rescan();
    }

    // Stops the clock first when asked to (a cycle sends the Stop, and once that cycle is
    // over the ports it is connected to have it), then leaves the server.
    void close(bool stopFirst) {
        wanted_ = false;
        poll_->stop();
        if (!client_) {
            emit closed();
            return;
        }
        Shared& s = shared_;
        if (stopFirst && s.clockRunning && !s.gone) {
            s.stopping = true;
            const auto deadline = steady_clock::now() + std::chrono::milliseconds(250);
            const auto waitFor = [&](auto done) {
                while (!done() && !s.gone && steady_clock::now() < deadline) {
                    QThread::usleep(500);
                }
            };
            waitFor([&] { return !s.clockRunning.load(std::memory_order_acquire); });
            const std::uint64_t stopped = s.cycles.load(std::memory_order_acquire);
            waitFor([&] { return s.cycles.load(std::memory_order_acquire) > stopped; });
        }
        // A patch made in a patchbay comes back with the client: turning the clock off
        // and on again, or a server that restarts, leaves the drum machine connected.
        if (stopFirst) {
            remembered_ = connectedNow(); // as the user left them; a server gone says nothing
        }
        jack_client_close(client_); // the callbacks end here
        client_ = nullptr;
        connectedTo_.clear();
        release();
        checkTap(); // nothing is connected any more
        emit closed();
    }

    // After the server went away: the client is let go, and looked for again if wanted.
    void reopen(bool wanted) {
        close(false);
        if (wanted) {
            want();
        }
    }

    void setTapSource(const QString& port) {
        tapSource_ = port;
        connectedTo_.clear();
        if (client_) {
            jack_port_disconnect(client_, shared_.tapPort);
            shared_.restartTap.store(true, std::memory_order_release);
        }
        setTapConnected(false);
        rescan();
    }

    // The ports there are now, and the chosen one connected if it is among them.
    void rescan() {
        jack_client_t* client = client_;
        if (!client) {
            client = jack_client_open(client_name, JackNoStartServer, nullptr);
        }
        QStringList sources;
        if (client) {
            const QString own = QString::fromUtf8(jack_get_client_name(client)) + QLatin1Char(':');
            if (const char** ports =
                    jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput)) {
                for (const char** port = ports; *port; ++port) {
                    if (const QString name = QString::fromUtf8(*port); !name.startsWith(own)) {
                        sources << name;
                    }
                }
                jack_free(ports);
            }
        }
        if (client && client != client_) {
            jack_client_close(client);
        }
        emit tapSources(sources, client != nullptr);
        if (client_ && !tapSource_.isEmpty()) {
            QList<MidiPort> ports;
            for (const QString& name : sources) {
                ports.append({QStringLiteral("jack"), name});
            }
            const std::optional<MidiPort> found =
                MidiPort::find({QStringLiteral("jack"), tapSource_}, ports);
            // A port that went and came back between two looks was disconnected meanwhile:
            // what counts is whether it is connected now.
            if (found &&
                !jack_port_connected_to(shared_.tapPort, found->name.toUtf8().constData())) {
                if (found->name != connectedTo_) {
                    jack_port_disconnect(client_, shared_.tapPort);
                    shared_.restartTap.store(true, std::memory_order_release);
                }
                connectedTo_ = found->name;
                jack_connect(client_, connectedTo_.toUtf8().constData(),
                             jack_port_name(shared_.tapPort));
            } else if (!found) {
                connectedTo_.clear(); // gone: connected again once it is back
            }
        }
        connectAll();
        checkTap();
    }

    void checkTap() {
        setTapConnected(client_ && !connectedTo_.isEmpty() &&
                        jack_port_connected_to(shared_.tapPort, connectedTo_.toUtf8().constData()));
        if (client_) {
            const QList<QPair<QString, QString>> now = connectedNow();
            for (const auto& connection : now) {
                if (!remembered_.contains(connection)) {
                    remembered_.append(connection);
                }
                // A drum machine plugged in while the clock runs waits for a Start.
                if (connection.first == QLatin1String("clock") &&
                    !clockHeardBy_.contains(connection)) {
                    shared_.startAgain.store(true, std::memory_order_release);
                }
            }
            clockHeardBy_ = now;
        } else {
            clockHeardBy_.clear();
        }
        for (Connection& c : connections_) {
            const bool now = client_ && !c.found.isEmpty() &&
                             jack_port_connected_to(ourPort(c.ours), c.found.toUtf8().constData());
            if (now != c.connected) {
                c.connected = now;
                emit connectionChanged(c.ours, c.theirs, now);
            }
        }
    }

    // The audio input to listen on, once it is wanted; kept until the client closes.
    void registerListen(jack_client_t* client) {
        Shared& s = shared_;
        if (client && s.listenWanted && !s.listenPort) {
            s.listenPort = jack_port_register(client, "listen", JACK_DEFAULT_AUDIO_TYPE,
                                              JackPortIsInput, 0);
            if (client_) {
                jack_recompute_total_latencies(client);
                rescan();
            }
        }
    }
    void listenWanted() { registerListen(client_); }

    void setConnections(const QList<QPair<QString, QString>>& connections) {
        connections_.clear();
        for (const auto& [ours, theirs] : connections) {
            connections_.append({ours, theirs, {}, false});
        }
        rescan();
    }

signals:
    void opened(const QString& name);
    void failed(const QString& error);
    void closed();
    void tapSources(const QStringList& sources, bool answered);
    // Whether "tap" is connected to the port chosen as source.
    void tapConnected(const QString& source, bool connected);
    void connectionChanged(const QString& ours, const QString& theirs, bool connected);

private:
    // Whether the change in a watched folder may be our server starting: jackd's socket
    // for the server named (jack_NAME_UID_0), or PipeWire's; others' do not wake us.
    static bool serverMayBeThere() {
        const QString name = qEnvironmentVariable("JACK_DEFAULT_SERVER", QStringLiteral("default"));
        const QString socket = QStringLiteral("jack_%1_%2_").arg(name).arg(getuid());
        if (!QDir(QStringLiteral("/dev/shm"))
                 .entryList({socket + QLatin1Char('*')}, QDir::System | QDir::Files)
                 .isEmpty()) {
            return true;
        }
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/pipewire-0"));
    }

    jack_port_t* ourPort(const QString& name) const {
        return name == QLatin1String("clock")   ? shared_.clockPort
               : name == QLatin1String("click") ? shared_.clickPort
               : name == QLatin1String("tap")   ? shared_.tapPort
               : name == QLatin1String("listen") ? shared_.listenPort.load()
                                                 : nullptr;
    }
    // Each connection asked for, made where both ports are there and not yet connected.
    // What the client's ports are connected to now, by the client's port and theirs
    // ("tap" listens to the port chosen as the source, and to it alone).
    QList<QPair<QString, QString>> connectedNow() const {
        QList<QPair<QString, QString>> now;
        for (const char* ours : {"clock", "click", "listen"}) {
            jack_port_t* mine = ourPort(QString::fromLatin1(ours));
            if (const char** ports = mine ? jack_port_get_connections(mine) : nullptr) {
                for (const char** port = ports; *port; ++port) {
                    now.append({QString::fromLatin1(ours), QString::fromUtf8(*port)});
                }
                jack_free(ports);
            }
        }
        return now;
    }

    void connectAll() {
        if (!client_ || (connections_.isEmpty() && remembered_.isEmpty())) {
            return;
        }
        QList<MidiPort> all;
        if (const char** ports = jack_get_ports(client_, nullptr, nullptr, 0)) {
            for (const char** port = ports; *port; ++port) {
                all.append({QStringLiteral("jack"), QString::fromUtf8(*port)});
            }
            jack_free(ports);
        }
        const auto make = [&](const QString& ourName, const QString& theirName) {
            jack_port_t* ours = ourPort(ourName);
            const std::optional<MidiPort> theirs =
                MidiPort::find({QStringLiteral("jack"), theirName}, all);
            if (ours && theirs &&
                !jack_port_connected_to(ours, theirs->name.toUtf8().constData())) {
                const QByteArray name = theirs->name.toUtf8();
                if (jack_port_flags(ours) & JackPortIsOutput) {
                    jack_connect(client_, jack_port_name(ours), name.constData());
                } else {
                    jack_connect(client_, name.constData(), jack_port_name(ours));
                }
            }
            return theirs ? theirs->name : QString();
        };
        for (Connection& c : connections_) {
            c.found = make(c.ours, c.theirs);
        }
        for (const auto& [ours, theirs] : std::as_const(remembered_)) {
            make(ours, theirs);
        }
    }

    void fail(const QString& error) {
        emit failed(error);
        if (watcher_->directories().isEmpty()) {
            poll_->start(500);
        } else if (retries_ > 0) {
            --retries_;
            poll_->start(100);
        } else {
            poll_->stop();
        }
    }
    void release() {
        Shared& s = shared_;
        s.client = nullptr;
        s.clockPort = s.clickPort = s.tapPort = nullptr;
        s.listenPort = nullptr;
        s.sound = nullptr;
        s.sounds.clear();
        s.stopping = false;
        s.clockRunning = false;
    }
    void setTapConnected(bool connected) {
        if (connected != tapConnected_) {
            tapConnected_ = connected;
            emit tapConnected(tapSource_, connected);
        }
    }

    Shared& shared_;
    QTimer* poll_;
    QFileSystemWatcher* watcher_;
    bool wanted_ = false;
    int retries_ = 0; // tries left after a server may have started
    jack_client_t* client_ = nullptr;
    QString tapSource_;
    QString connectedTo_; // the port "tap" was connected to last
    bool tapConnected_ = false;
    struct Connection {
        QString ours, theirs;
        QString found; // their port as it is named now
        bool connected;
    };
    QList<Connection> connections_;
    QList<QPair<QString, QString>> remembered_;   // what the ports were connected to last
    QList<QPair<QString, QString>> clockHeardBy_; // the outputs' connections as last seen
};

JackClient::JackClient(QObject* parent)
    : QObject(parent), filter_(std::make_unique<TapFilter>()), shared_(std::make_unique<Shared>()),
      thread_(new QThread), remeasure_(new QTimer(this)) {
    shared_->filter = filter_.get();
    shared_->wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    auto* notifier = new QSocketNotifier(shared_->wake, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &JackClient::drain);

    thread_->setObjectName(QStringLiteral("jack-control"));
    worker_ = new Worker(*shared_);
    worker_->moveToThread(thread_);
    connect(worker_, &Worker::opened, this, &JackClient::opened);
    connect(worker_, &Worker::failed, this, &JackClient::failed);
    connect(worker_, &Worker::closed, this, &JackClient::closed);
    connect(worker_, &Worker::tapSources, this, [this](const QStringList& sources, bool answered) {
        tapSources_ = sources;
        answered_ = answered;
        emit tapSourcesChanged();
    });
    connect(worker_, &Worker::connectionChanged, this, &JackClient::connectionChanged);
    connect(worker_, &Worker::tapConnected, this, [this](const QString& source, bool connected) {
        if (source == tapSource_ && connected != tapConnected_) { // not of a source chosen before
            tapConnected_ = connected;
            emit tapConnectedChanged(connected);
        }
    });
    thread_->start();

    // JACK's clock and the steady clock run at rates a little apart (the steady clock
    // follows NTP's corrections): a grid is converted again every second while open.
    remeasure_->setInterval(1000);
    connect(remeasure_, &QTimer::timeout, this, [this] {
        measureClock();
        publish();
    });
}

namespace {

// What a client that could not close in time still uses (its callbacks, its thread), kept
// to the end of the process where it stays reachable: it is left, not lost.
void leaveToTheEnd(const void* kept) {
    static auto* everything = new std::vector<const void*>;
    everything->push_back(kept);
}

} // namespace

JackClient::~JackClient() {
    // The client closes on its thread, which then ends; the worker goes with it here.
    QMetaObject::invokeMethod(worker_, [worker = worker_] {
        worker->close(true);
        QThread::currentThread()->quit();
    });
    if (!thread_->wait(400)) {
        // A server that hangs: its client, and what its callbacks use, are left to the
        // end of the process rather than freed under them.
        leaveToTheEnd(shared_.release());
        leaveToTheEnd(filter_.release());
        leaveToTheEnd(worker_);
        leaveToTheEnd(thread_);
        return;
    }
    delete worker_;
    delete thread_;
    ::close(shared_->wake);
}

void JackClient::setWanted(bool wanted) {
    if (wanted == wanted_) {
        return;
    }
    wanted_ = wanted;
    if (wanted) {
        setState(State::opening);
        QMetaObject::invokeMethod(worker_, &Worker::want);
    } else {
        setState(State::closing);
        remeasure_->stop();
        QMetaObject::invokeMethod(worker_, [worker = worker_] { worker->close(true); });
    }
}

void JackClient::setState(State state) {
    if (state != state_) {
        state_ = state;
        emit stateChanged(state);
    }
}

void JackClient::opened(const QString& name) {
    if (!wanted_) {
        return; // turned off meanwhile: its close follows
    }
    error_.clear();
    name_ = name;
    measureClock();
    publish();
    if (grid_) {
        remeasure_->start();
    }
    setState(State::open);
}

void JackClient::failed(const QString& error) {
    if (!wanted_) {
        return;
    }
    error_ = error;
    setState(State::waiting);
}

void JackClient::closed() {
    offsetNs_.reset();
    if (!wanted_) {
        setState(State::off);
    }
}

void JackClient::setGrid(std::optional<Grid> grid) {
    if (grid && !(std::isfinite(grid->bpm) && grid->bpm > 0)) {
        grid.reset();
    }
    if (grid == grid_) {
        return;
    }
    grid_ = grid;
    ++gridSerial_;
    if (offsetNs_) {
        measureClock();
        // Only a grid needs converting again: without one nothing wakes the program.
        if (grid_) {
            remeasure_->start();
        } else {
            remeasure_->stop();
        }
    }
    publish();
}

void JackClient::setClock(bool on) {
    clock_ = on;
    publish();
}

void JackClient::setClick(bool on) {
    click_ = on;
    publish();
}

void JackClient::setListening(bool on) {
    listening_ = on;
    if (on && !shared_->listenWanted.exchange(true)) {
        QMetaObject::invokeMethod(worker_, &Worker::listenWanted, Qt::QueuedConnection);
    }
    publish();
}

ListenFeed& JackClient::listenFeed() {
    return shared_->heard;
}

void JackClient::publish() {
    Settings& s = shared_->settings.back();
    s.grid = grid_.has_value() && offsetNs_.has_value();
    if (s.grid) {
        const auto oneNs = std::chrono::duration_cast<nanoseconds>(grid_->one.time_since_epoch());
        s.beatUs = static_cast<double>(oneNs.count() + *offsetNs_) / 1000.0;
        s.beatLengthUs = 60e6 / grid_->bpm;
        s.bar = std::max(grid_->bar, 1);
        s.marks = grid_->marks;
    }
    s.gridSerial = gridSerial_;
    s.clock = clock_;
    s.click = click_;
    s.listen = listening_;
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
            offsetNs_ = static_cast<std::int64_t>(jack) * 1000 + 500 -
                        std::chrono::duration_cast<nanoseconds>(middle).count();
        }
    }
}

std::optional<nanoseconds> JackClient::clockOffset() const {
    return offsetNs_ ? std::optional(nanoseconds(*offsetNs_)) : std::nullopt;
}

void JackClient::drain() {
    std::uint64_t count;
    [[maybe_unused]] const ssize_t read = ::read(shared_->wake, &count, sizeof count);
    const std::int64_t offsetNs = offsetNs_.value_or(0);
    for (Event event{}; shared_->events.pop(event);) {
        if (event.kind == Event::Kind::strike) {
            emit strikeAt(TimePoint(std::chrono::duration_cast<steady_clock::duration>(
                nanoseconds(static_cast<std::int64_t>(event.usecs) * 1000 - offsetNs))));
        } else if (event.kind == Event::Kind::one) {
            emit oneMarked();
        } else {
            emit learnedChanged();
        }
    }
    if (shared_->gone.exchange(false, std::memory_order_acq_rel)) {
        QString reason = QString::fromLocal8Bit(shared_->goneReason.data()).trimmed();
        if (reason.isEmpty()) {
            reason = QStringLiteral("The JACK server went away.");
        }
        remeasure_->stop();
        offsetNs_.reset();
        publish();
        emit shutDown(reason);
        if (wanted_) {
            error_ = noServer();
            setState(State::waiting);
        }
        QMetaObject::invokeMethod(worker_,
                                  [worker = worker_, wanted = wanted_] { worker->reopen(wanted); });
    }
}

void JackClient::setTapSource(const QString& port) {
    tapSource_ = port;
    if (tapConnected_) {
        tapConnected_ = false;
        emit tapConnectedChanged(false);
    }
    QMetaObject::invokeMethod(worker_, [worker = worker_, port] { worker->setTapSource(port); });
}

QStringList JackClient::tapSources(bool* answered) const {
    if (answered) {
        *answered = answered_;
    }
    return tapSources_;
}

void JackClient::setConnections(const QList<QPair<QString, QString>>& connections) {
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, connections] { worker->setConnections(connections); });
}

void JackClient::refreshTapSources() {
    QMetaObject::invokeMethod(worker_, &Worker::rescan);
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

void JackClient::learnOne() {
    filter_->learnOne();
}

bool JackClient::isLearningOne() const {
    return filter_->isLearningOne();
}

std::optional<MidiMessage> JackClient::learnedOne() const {
    return filter_->learnedOne();
}

void JackClient::setLearnedOne(std::optional<MidiMessage> message) {
    filter_->setLearnedOne(message);
}

} // namespace tempocalc

#include "jack_client.moc"
