// How exactly MIDI clock leaves: the program's JACK client, and beside it what a
// program using RtMidi would do (a thread that sleeps until each tick, absolute
// clock_nanosleep, and sends it through RtMidi's JACK output), both follow the same
// grid at 120 BPM. A listener of its own notes the frame of every tick, and sets it
// against the tick's due frame, from the grid's time through JACK's own conversion in
// the same cycle; the table counts the ticks heard (RtMidi's JACK output now and then
// drops one on this dummy-driver server). Run against a JACK server (bench/run starts one
// with the dummy driver for each period).
//
// clock_bench [--ticks N] [--header]

#include "jack_client.h"
#include "stats.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <rtmidi/RtMidi.h>

#include <QCoreApplication>
#include <QTest>

#include <time.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace tempocalc;
using namespace tempocalc::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double bpm = 120;
constexpr double tickUs = 60e6 / bpm / 24;

// Each input's ticks, and how far each was from its due frame. The program's are
// numbered by the grid's nearest tick (they are far closer than half a tick to it, or
// the table shows it); RtMidi's, which can be later than that, carry their number in a
// controller message sent with each. A tick heard twice counts once.
struct Listener {
    struct Input {
        jack_port_t* port = nullptr;
        bool tagged = false;
        std::vector<double> frames, micros; // written by the callback alone, sized before
        std::atomic<std::size_t> heard{0};
        double tickUs = 0, usPerFrame = 0; // the latest tagged input's tick, until its number
    };
    jack_client_t* client = nullptr;
    std::array<Input, 2> inputs;
    double beatUs = 0; // the grid's first beat on JACK's clock, set before the ticks come
    double rate = 48000;
    jack_nframes_t lastStart = 0;
    std::atomic<int> irregular{0};

    // The due frame to a fraction, as jack_time_to_frames works it out in this cycle.
    void note(Input& in, std::size_t k, double atUs, double usPerFrame) const {
        if (k < in.frames.size() && std::isnan(in.micros[k])) {
            in.micros[k] = atUs - (beatUs + static_cast<double>(k) * tickUs);
            in.frames[k] = in.micros[k] / usPerFrame;
            in.heard = in.heard + 1;
        }
    }

    static int process(jack_nframes_t n, void* self) {
        auto* l = static_cast<Listener*>(self);
        jack_nframes_t start;
        jack_time_t startUs, nextUs;
        float periodUs;
        jack_get_cycle_times(l->client, &start, &startUs, &nextUs, &periodUs);
        const double usPerFrame =
            static_cast<double>(static_cast<std::int64_t>(nextUs - startUs)) / n;
        // The same cycle again (the server ran late, and this is what was read before), or
        // no sane measure of it (right after a stall): nothing to set a tick against.
        if (start == l->lastStart || usPerFrame < 0.5e6 / l->rate || usPerFrame > 2e6 / l->rate) {
            ++l->irregular;
            return 0;
        }
        l->lastStart = start;
        for (Input& in : l->inputs) {
            void* buffer = jack_port_get_buffer(in.port, n);
            for (std::uint32_t i = 0, count = jack_midi_get_event_count(buffer); i < count; ++i) {
                jack_midi_event_t e;
                if (jack_midi_event_get(&e, buffer, i) != 0) {
                    continue;
                }
                const double atUs = static_cast<double>(startUs) + e.time * usPerFrame;
                if (e.buffer[0] == 0xf8 && !in.tagged) {
                    const double k = std::round((atUs - l->beatUs) / tickUs);
                    l->note(in, k < 0 ? SIZE_MAX : static_cast<std::size_t>(k), atUs, usPerFrame);
                } else if (e.buffer[0] == 0xf8) {
                    in.tickUs = atUs;
                    in.usPerFrame = usPerFrame;
                } else if (e.buffer[0] == 0xbf && e.size == 3 && in.usPerFrame > 0) {
                    l->note(in, e.buffer[1] | e.buffer[2] << 7, in.tickUs, in.usPerFrame);
                    in.usPerFrame = 0;
                }
            }
        }
        return 0;
    }
};

// A steady time point on JACK's clock, in microseconds.
double jackMicros(Clock::time_point t) {
    std::int64_t best = INT64_MAX;
    double offset = 0;
    for (int i = 0; i < 32; ++i) {
        const auto a = Clock::now();
        const double jack = static_cast<double>(jack_get_time());
        const auto b = Clock::now();
        if ((b - a).count() < best) {
            best = (b - a).count();
            offset = jack + 0.5 -
                     std::chrono::duration<double, std::micro>((a + (b - a) / 2).time_since_epoch())
                         .count();
        }
    }
    return std::chrono::duration<double, std::micro>(t.time_since_epoch()).count() + offset;
}

} // namespace

int main(int argc, char* argv[]) {
    std::size_t ticks = 2000;
    bool header = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--ticks" && i + 1 < argc) {
            ticks = std::max(48ul, std::strtoul(argv[++i], nullptr, 10));
        } else if (std::string(argv[i]) == "--header") {
            header = true;
        }
    }
    QCoreApplication app(argc, argv);

    JackClient ours;
    ours.setWanted(true);
    if (!QTest::qWaitFor([&] { return ours.isOpen(); }, 5000)) {
        std::fprintf(stderr, "clock_bench: %s (bench/run starts a server)\n",
                     qPrintable(ours.error()));
        return EXIT_FAILURE;
    }
    Listener listener;
    listener.client = jack_client_open("clock-bench", JackNoStartServer, nullptr);
    const char* names[] = {"ours", "rtmidi"};
    for (std::size_t i = 0; i < 2; ++i) {
        listener.inputs[i].port = jack_port_register(listener.client, names[i],
                                                     JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        listener.inputs[i].frames.resize(ticks);
        listener.inputs[i].micros.resize(ticks, NAN);
    }
    listener.inputs[1].tagged = true;
    jack_set_process_callback(listener.client, &Listener::process, &listener);
    jack_activate(listener.client);
    RtMidiOut rtmidi(RtMidi::UNIX_JACK, "rtmidi-clock");
    rtmidi.openVirtualPort("clock");
    jack_connect(listener.client, "tempo-calculator:clock", "clock-bench:ours");
    jack_connect(listener.client, "rtmidi-clock:clock", "clock-bench:rtmidi");
    const jack_nframes_t period = jack_get_buffer_size(listener.client);
    const double rate = listener.rate = jack_get_sample_rate(listener.client);
    QTest::qWait(300);

    const JackClient::Grid grid{bpm, Clock::now() + std::chrono::milliseconds(500)};
    listener.beatUs = jackMicros(grid.one);
    ours.setClock(true);
    ours.setGrid(grid);
    std::thread timer([&] {
        for (std::size_t k = 0; k < ticks; ++k) {
            const auto due = std::chrono::duration_cast<std::chrono::nanoseconds>(
                grid.one.time_since_epoch() +
                std::chrono::duration<double, std::micro>(static_cast<double>(k) * tickUs));
            const timespec at{static_cast<time_t>(due.count() / 1'000'000'000),
                              static_cast<long>(due.count() % 1'000'000'000)};
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
            }
            std::vector<unsigned char> start{0xfa}, tick{0xf8},
                number{0xbf, static_cast<unsigned char>(k & 0x7f),
                       static_cast<unsigned char>(k >> 7 & 0x7f)};
            if (k == 0) {
                rtmidi.sendMessage(&start);
            }
            rtmidi.sendMessage(&tick);
            rtmidi.sendMessage(&number);
        }
    });
    const bool all = QTest::qWaitFor([&] { return listener.inputs[0].heard == ticks; },
                                     static_cast<int>(ticks * tickUs / 1000) + 5000);
    timer.join();
    QTest::qWait(200);
    ours.setGrid(std::nullopt);
    jack_client_close(listener.client);

    if (header) {
        std::printf("| JACK period | sender | ticks | median frames | p99 frames | max frames | "
                    "median µs | p99 µs | max µs |\n"
                    "|---|---|---:|---:|---:|---:|---:|---:|---:|\n");
    }
    const char* senders[] = {"this program (in the process callback)",
                             "RtMidi, from a timer thread"};
    bool met = true;
    for (std::size_t i = 0; i < 2; ++i) {
        const Listener::Input& in = listener.inputs[i];
        std::vector<double> frames, micros; // of the ticks heard
        for (std::size_t k = 0; k < ticks; ++k) {
            if (!std::isnan(in.micros[k])) {
                frames.push_back(std::fabs(in.frames[k]));
                micros.push_back(std::fabs(in.micros[k]));
            }
        }
        const Stats f = statsOf(frames), us = statsOf(micros);
        std::printf("| %u (%.1f ms) | %s | %zu | %.2f | %.2f | %.2f | %.1f | %.1f | %.1f |\n",
                    period, period / rate * 1000, senders[i], frames.size(), f.median, f.p99, f.max,
                    us.median, us.p99, us.max);
        met = met && (i == 1 || (all && f.max <= 1.0));
    }
    if (listener.irregular > 0) {
        std::printf("\n(%d cycles of %u frames were left out: the same cycle again, or one "
                    "without a sane time, when the server ran late.)\n",
                    listener.irregular.load(), period);
    }
    if (!met) {
        std::puts("\nTarget (every tick of this program heard, each within one frame of its due "
                  "frame): MISSED");
    }
    return met ? EXIT_SUCCESS : EXIT_FAILURE;
}
