// How exactly a MIDI pedal's strikes are timed: a JACK client of its own sends
// note-ons at known frames of the JACK clock (120 and 200 BPM, each note a random
// part of a period off the beat grid), the real window listens on its port, and each
// interval it measured is set against the one sent (each note's time on JACK's clock,
// from its frame). RtMidi hands JACK's input to the program once a period, so the
// errors are bounded by the period. With --native the program's own JACK client
// (jack/) listens instead of the window, and times each note by its frame. Run against
// a JACK server (bench/run starts one with the dummy driver for each period).
// With --flood the pedal fills every period's buffer with note-ons for two seconds,
// and a client that the server runs after the program's (it listens on "clock") notes
// how far into each cycle it was called: the program's callback keeps its deadline
// while that stays under a period, and strikes at most once in 30 ms.
//
// midi_bench [--strikes N] [--seed S] [--native] [--flood]

#include "application.h"
#include "day_clock.h"
#include "form1.h"
#include "stats.h"

#if TEMPOCALC_HAVE_JACK
#include "jack_client.h"
#endif

#include <jack/jack.h>
#include <jack/midiport.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace tempocalc;
using namespace tempocalc::bench;

namespace {

// Note-ons planned at absolute frames; the process callback writes each in its period.
struct Sender {
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    std::vector<jack_nframes_t> frames; // written before activation or while idle
    std::vector<double> sentUs;         // each note's time on JACK's clock, as written
    std::atomic<std::size_t> next{0};
    std::atomic<bool> playing{false}, flooding{false};

    static int process(jack_nframes_t n, void* self) {
        auto* s = static_cast<Sender*>(self);
        void* buffer = jack_port_get_buffer(s->port, n);
        jack_midi_clear_buffer(buffer);
        const unsigned char flood[] = {0x90, 60, 100};
        while (s->flooding && jack_midi_event_write(buffer, n - 1, flood, sizeof flood) == 0) {
        }
        if (!s->playing) {
            return 0;
        }
        const jack_nframes_t start = jack_last_frame_time(s->client);
        for (std::size_t i = s->next; i < s->frames.size() && s->frames[i] < start + n;
             i = ++s->next) {
            const jack_nframes_t at = s->frames[i] > start ? s->frames[i] - start : 0;
            const unsigned char note[] = {0x90, 60, 100};
            jack_midi_event_write(buffer, at, note, sizeof note);
            // A note due in a cycle that the server skipped goes out late: its time is
            // the frame it was written at, which is when the program gets it.
            s->sentUs[i] = static_cast<double>(jack_frames_to_time(s->client, start + at));
        }
        return 0;
    }
};

// Run after the program's client: notes how late in a cycle the server got to it.
struct Watcher {
    jack_client_t* client = jack_client_open("midi-bench-watch", JackNoStartServer, nullptr);
    jack_port_t* in = client ? jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE,
                                                  JackPortIsInput, 0)
                             : nullptr;
    std::atomic<jack_nframes_t> latest{0};
    std::atomic<int> cycles{0};

    Watcher() {
        if (client) {
            jack_set_process_callback(client, &Watcher::process, this);
            jack_activate(client);
        }
    }
    ~Watcher() {
        if (client) {
            jack_client_close(client);
        }
    }
    static int process(jack_nframes_t, void* self) {
        auto* w = static_cast<Watcher*>(self);
        w->latest = std::max<jack_nframes_t>(w->latest, jack_frames_since_cycle_start(w->client));
        ++w->cycles;
        return 0;
    }
};

} // namespace

int main(int argc, char* argv[]) {
    int strikes = 200;
    unsigned seed = 1;
    bool native = false, flood = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--native") {
            native = true;
        } else if (std::string(argv[i]) == "--flood") {
            flood = native = true;
        } else if (std::string(argv[i]) == "--strikes" && i + 1 < argc) {
            strikes = std::max(3, std::atoi(argv[++i]));
        } else if (std::string(argv[i]) == "--seed" && i + 1 < argc) {
            seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        }
    }
#if !TEMPOCALC_HAVE_JACK
    if (native) {
        std::fputs("midi_bench: built without the JACK client (-DTEMPOCALC_JACK=OFF)\n", stderr);
        return EXIT_FAILURE;
    }
#endif
    const QTemporaryDir config; // the window's settings stay out of the user's
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    setUpApplication();

    Sender sender;
    sender.client = jack_client_open("midi-bench", JackNoStartServer, nullptr);
    if (!sender.client) {
        std::fputs("midi_bench: no JACK server (bench/run starts one)\n", stderr);
        return EXIT_FAILURE;
    }
    sender.port =
        jack_port_register(sender.client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(sender.client, &Sender::process, &sender);
    jack_activate(sender.client);
    const double rate = jack_get_sample_rate(sender.client);
    const jack_nframes_t period = jack_get_buffer_size(sender.client);

    // What listens: the window through "Tap from MIDI", or the JACK client alone. Either
    // way, the latest strike's interval and how many there were.
    Form1 form{DayClock()};
    std::function<int()> count = [&] { return form.state().tapcount; };
    std::function<double()> interval = [&] { return form.state().interval; };
#if TEMPOCALC_HAVE_JACK
    JackClient jack;
    std::vector<std::chrono::steady_clock::time_point> heard;
    if (native) {
        jack.setWanted(true);
        jack.setTapSource(QStringLiteral("midi-bench:out"));
        if (!QTest::qWaitFor([&] { return jack.tapConnected(); }, 5000)) {
            std::fputs("midi_bench: the JACK client could not listen\n", stderr);
            return EXIT_FAILURE;
        }
        QObject::connect(&jack, &JackClient::strikeAt,
                         [&](std::chrono::steady_clock::time_point t) { heard.push_back(t); });
        count = [&] { return static_cast<int>(heard.size()); };
        interval = [&] {
            return std::chrono::duration<double>(heard.back() - heard[heard.size() - 2]).count();
        };
    }
    if (flood) {
        Watcher watcher;
        if (!watcher.client ||
            jack_connect(watcher.client, "tempo-calculator:clock", "midi-bench-watch:in") != 0) {
            std::fputs("midi_bench: no client after the program's\n", stderr);
            return EXIT_FAILURE;
        }
        std::printf("| JACK period | load | cycles | latest start of the next client, frames "
                    "| strikes | closest strikes ms | within the period |\n"
                    "|---:|---|---:|---:|---:|---:|---|\n");
        bool kept = true;
        for (const bool flooding : {false, true}) {
            QTest::qWait(200);
            heard.clear();
            watcher.latest = 0;
            watcher.cycles = 0;
            sender.flooding = flooding;
            QTest::qWait(2000);
            sender.flooding = false;
            const jack_nframes_t latest = watcher.latest;
            const int cycles = watcher.cycles;
            QTest::qWait(100);
            double closest = 0;
            for (std::size_t i = 1; i < heard.size(); ++i) {
                const double ms =
                    std::chrono::duration<double, std::milli>(heard[i] - heard[i - 1]).count();
                closest = i == 1 ? ms : std::min(closest, ms);
            }
            kept = kept && latest < period;
            std::printf("| %u | %s | %d | %u | %zu | %.3f | %s |\n", period,
                        flooding ? "a full buffer of note-ons every period" : "none", cycles,
                        latest, heard.size(), closest, latest < period ? "yes" : "no");
        }
        jack_client_close(sender.client);
        return kept ? EXIT_SUCCESS : EXIT_FAILURE;
    }
#endif
    if (!native) {
        auto* midi = form.findChild<QMenu*>(QStringLiteral("midiMenu"));
        emit midi->aboutToShow();
        for (QAction* a : midi->actions()) {
            if (a->text() == QLatin1String("midi-bench:out")) {
                a->trigger();
            }
        }
    }

    std::mt19937 random(seed);
    std::printf("| JACK period | input | tempo | intervals | median ms | p99 ms | max ms | median "
                "BPM | p99 BPM |\n"
                "|---:|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const double bpm : {120.0, 200.0}) {
        const auto beat = static_cast<jack_nframes_t>(std::lround(60.0 / bpm * rate));
        std::uniform_int_distribution<jack_nframes_t> off(0, period - 1);
        sender.playing = false;
        sender.frames.clear();
        const jack_nframes_t first =
            jack_frame_time(sender.client) + static_cast<jack_nframes_t>(rate / 2);
        for (int k = 0; k <= strikes; ++k) {
            sender.frames.push_back(first + static_cast<jack_nframes_t>(k) * beat + off(random));
        }
        sender.sentUs.assign(sender.frames.size(), 0);
        sender.next = 0;
        const int before = count();
        sender.playing = true;
        std::vector<double> errorsMs, errorsBpm;
        int seen = before;
        while (seen < before + strikes + 1) {
            if (!QTest::qWaitFor([&] { return count() > seen; }, 3000)) {
                std::fputs("midi_bench: a note never struck\n", stderr);
                return EXIT_FAILURE;
            }
            seen = count();
            const int k = seen - before - 1;
            if (k == 0) {
                continue; // the interval before the first note is not one that was sent
            }
            const double sent = (sender.sentUs[static_cast<std::size_t>(k)] -
                                 sender.sentUs[static_cast<std::size_t>(k - 1)]) /
                                1e6;
            const double measured = interval();
            errorsMs.push_back(std::fabs(measured - sent) * 1000);
            errorsBpm.push_back(std::fabs(60 / measured - 60 / sent));
        }
        const Stats ms = statsOf(errorsMs), bpmErrors = statsOf(errorsBpm);
        std::printf("| %u | %s | %.0f BPM | %zu | %.3f | %.3f | %.3f | %.3f | %.3f |\n", period,
                    native ? "JACK client, event's frame" : "RtMidi, in the window", bpm,
                    errorsMs.size(), ms.median, ms.p99, ms.max, bpmErrors.median, bpmErrors.p99);
    }
    jack_client_close(sender.client);
    return EXIT_SUCCESS;
}
