// Timing accuracy of Tempo calculator under real input: the real window on a real X
// server, the space bar pressed and released through XTest at exact instants, and
// each strike's measured interval set against the injected one. Beside the program's
// own measurement (the clock read when the key goes down), the same strikes as a
// program would measure them that reads its clock when the click arrives (key up),
// and with a clock of 1/64 s resolution; and, for scale, the same presses timed by
// a bare Xlib client of its own (raw XInput 2 events): what the X server and this
// machine's scheduling allow any client; and the program's readings on arrival alone,
// before the press's own timestamp was taken into account.
//
// With --load, the same at 120 BPM while other programs keep every core busy (bench/run
// starts them, and the X server: real-time or normal, as the argument says); the
// injector then runs at real-time priority, as a keyboard's interrupt would.
//
// With --flash, "Flash the beat" is on: the strike button lights on every beat meanwhile.
//
// timing_bench [--strikes N] [--seed S] [--load realtime|normal] [--flash] [--no-header]
//   (needs DISPLAY; bench/run sets one up)

#include "application.h"
#include "form1.h"
#include "settings.h"
#include "stats.h"
#include "strike_button.h"
#include "tempo_engine.h"
#include "x_keys.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWindow>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace tempocalc;
using namespace tempocalc::bench;

namespace {

struct Run {
    const char* name;
    double bpm;   // quarter-note beats per minute
    bool eighths; // tapping 1/8 notes: two strikes a beat

    double divisor() const { return eighths ? 30.0 : 60.0; }
    double period() const { return divisor() / bpm; }
};

struct Strike {
    double pressReading; // the program's reading of the press
    double arrival;      // the program's clock as the press arrived, before its timestamp
    double interval;     // the interval the program measured
    double clickTime;    // monotonic seconds when the click arrived
};

// Differences of successive readings; a reading of the day clock may pass midnight.
std::vector<double> intervalsOf(const std::vector<double>& readings) {
    std::vector<double> intervals;
    for (std::size_t k = 1; k < readings.size(); ++k) {
        const double interval = readings[k] - readings[k - 1];
        intervals.push_back(interval < 0 ? interval + seconds_per_day : interval);
    }
    return intervals;
}

// The average that the engine keeps for the given clock readings.
double engineAverage(const std::vector<double>& readings, bool eighths) {
    TempoState state;
    Shown shown;
    if (eighths) {
        notetoggle(state, shown);
    }
    for (const double reading : readings) {
        strike(state, std::fmod(reading, seconds_per_day), shown);
    }
    return state.avetempo;
}

class Planner {
public:
    explicit Planner(unsigned seed) : random_(seed) {}

    // Presses on the beat grid of the run, each up to 2 ms off it as a player's are
    // (so that their phase against a coarse clock's ticks varies), held 20-150 ms.
    std::vector<PlannedTap> plan(const Run& run, int strikes) {
        std::vector<PlannedTap> taps;
        const double start = monotonicNow() + 0.3;
        for (int k = 0; k <= strikes; ++k) {
            taps.push_back({start + k * run.period() + offBeat_(random_),
                            std::min(hold_(random_), run.period() * 0.8)});
        }
        return taps;
    }

private:
    std::mt19937 random_;
    std::uniform_real_distribution<double> hold_{0.020, 0.150};
    std::uniform_real_distribution<double> offBeat_{-0.002, 0.002};
};

struct Row {
    Stats ms;
    double averageError; // BPM
};

// One row of the table. The final average is set against the average that the
// engine would keep for the injected presses themselves.
Row printRow(const char* run, const char* measuredAt, const std::vector<double>& intervals,
             const std::vector<double>& sent, const Run& tempo, double average) {
    const double divisor = tempo.divisor();
    std::vector<double> errorMs, errorBpm;
    for (std::size_t k = 1; k < sent.size(); ++k) {
        const double injected = sent[k] - sent[k - 1];
        const double measured = intervals[k - 1];
        errorMs.push_back(std::fabs(measured - injected) * 1e3);
        errorBpm.push_back(std::fabs(divisor / measured - divisor / injected));
    }
    const Stats ms = statsOf(errorMs);
    const Stats bpm = statsOf(errorBpm);
    const double averageError = std::fabs(average - engineAverage(sent, tempo.eighths));
    std::printf("| %s | %s | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f | %.4f |\n", run, measuredAt,
                ms.median, ms.p99, ms.max, bpm.median, bpm.p99, bpm.max, averageError);
    std::fflush(stdout);
    return {ms, averageError};
}

// The injector stands in for a keyboard, whose presses the kernel stamps at once.
bool injectAtRealTimePriority() {
    sched_param priority{};
    priority.sched_priority = 50;
    const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
    if (error != 0) {
        std::fprintf(stderr, "timing_bench: no real-time priority for the injector: %s\n",
                     std::strerror(error));
    }
    return error == 0;
}

void processEventsFor(double seconds) {
    const double until = monotonicNow() + seconds;
    while (monotonicNow() < until) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

} // namespace

int main(int argc, char* argv[]) {
    int strikes = 200;
    unsigned seed = 1;
    std::string load; // empty: an idle machine
    bool header = true;
    bool flash = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--no-header") {
            header = false;
        } else if (option == "--flash") {
            flash = true;
        } else if (i + 1 == argc) {
            break;
        } else if (option == "--strikes") {
            strikes = std::max(2, std::atoi(argv[++i]));
        } else if (option == "--seed") {
            seed = static_cast<unsigned>(std::atoi(argv[++i]));
        } else if (option == "--load") {
            load = argv[++i];
        }
    }
    if (!load.empty() && load != "realtime" && load != "normal") {
        std::fputs("timing_bench: --load takes realtime or normal (the X server's priority)\n",
                   stderr);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fputs("timing_bench: needs an X display; run bench/run\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    // Settings of this run's own: the user's (Link on, say) never reach a benchmark.
    const QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    setUpApplication();
    if (flash) {
        Settings::load().setFlash(true);
    }
    Form1 form;
    form.show();
    auto* strikeButton =
        dynamic_cast<StrikeButton*>(form.findChild<QPushButton*>(QStringLiteral("Command1")));
    auto* toggleButton = form.findChild<QPushButton*>(QStringLiteral("Command2"));
    auto* initializeButton = form.findChild<QPushButton*>(QStringLiteral("Command4"));
    while (!form.windowHandle() || !form.windowHandle()->isExposed()) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    focusWindow(form.winId());
    processEventsFor(0.5);
    if (strikeButton == nullptr || QApplication::focusWidget() != strikeButton) {
        std::fputs("timing_bench: the strike button did not get the keyboard focus\n", stderr);
        return 1;
    }

    std::vector<Strike> seen;
    QObject::connect(strikeButton, &QPushButton::clicked, strikeButton, [&] {
        const double clickTime = monotonicNow();
        seen.push_back({form.state().curtime, strikeButton->arrivalReading(), form.state().interval,
                        clickTime});
    });

    const std::vector<Run> idleRuns{{"60 BPM", 60, false},
                                    {"120 BPM", 120, false},
                                    {"200 BPM", 200, false},
                                    {"300 BPM", 300, false},
                                    {"120 BPM in 1/8 notes", 120, true}};
    const std::vector<Run> realtimeRuns{
        {"120 BPM, cores busy, X server real-time", 120, false},
        {"120 BPM in 1/8 notes, cores busy, X server real-time", 120, true}};
    const std::vector<Run> normalRuns{{"120 BPM, cores busy, X server normal", 120, false}};
    const std::vector<Run>& runs = load.empty()         ? idleRuns
                                   : load == "realtime" ? realtimeRuns
                                                        : normalRuns;
    Planner planner(seed);
    RawKeyPresses serverPresses;
    bool targetsMet = true;
    if (header) {
        std::printf("Strikes a run: %d measured intervals (%d presses); each press up to 2 ms off "
                    "the beat grid and held 20-150 ms, at random; seed %u\n\n",
                    strikes, strikes + 1, seed);
        std::printf("| run | measured at | median ms | p99 ms | max ms | median BPM | p99 BPM | "
                    "max BPM | final average error BPM |\n");
        std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|\n");
    }
    for (const Run& run : runs) {
        initializeButton->click();
        if (run.eighths) {
            toggleButton->click();
        }
        seen.clear();
        const std::vector<PlannedTap> plan = planner.plan(run, strikes);
        serverPresses.take();

        // The event loop sleeps between events, as it does in use; the injector ends it.
        std::vector<double> sent;
        QEventLoop loop;
        bool injectorPriority = true;
        std::thread injector([&] {
            if (!load.empty()) {
                injectorPriority = injectAtRealTimePriority();
            }
            sent = tapSpaceBar(plan);
            const timespec settle{0, 300'000'000};
            nanosleep(&settle, nullptr);
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        injector.join();
        if (!injectorPriority) {
            return 1;
        }
        const std::vector<double> serverArrivals = serverPresses.take();
        if (seen.size() != sent.size() || serverArrivals.size() != sent.size()) {
            std::fprintf(stderr,
                         "timing_bench: %s: %zu presses sent, %zu strikes seen, %zu presses "
                         "sent out by the X server\n",
                         run.name, sent.size(), seen.size(), serverArrivals.size());
            return 1;
        }

        // The same strikes, measured four ways by a program and once by a bare client.
        std::vector<double> kept, arrivals, clickTimes, coarseReadings;
        for (const Strike& s : seen) {
            kept.push_back(s.interval);
            arrivals.push_back(s.arrival);
            clickTimes.push_back(s.clickTime);
            coarseReadings.push_back(std::floor(s.pressReading * 64.0) / 64.0);
        }
        kept.erase(kept.begin()); // the first strike measures from midnight
        const Row own =
            printRow(run.name, "key down (this program)", kept, sent, run, form.state().avetempo);
        const Row onArrival = printRow("", "key down, arrival time alone", intervalsOf(arrivals),
                                       sent, run, engineAverage(arrivals, run.eighths));
        if (load.empty()) {
            printRow("", "click, at key up", intervalsOf(clickTimes), sent, run,
                     engineAverage(clickTimes, run.eighths));
            printRow("", "key down, 1/64 s clock", intervalsOf(coarseReadings), sent, run,
                     engineAverage(coarseReadings, run.eighths));
        }
        printRow("", "key down, bare Xlib client, same presses", intervalsOf(serverArrivals), sent,
                 run, engineAverage(serverArrivals, run.eighths));

        if (load.empty()) {
            const bool averageOk = run.bpm != 120 || run.eighths || own.averageError < 0.05;
            targetsMet = targetsMet && own.ms.median < 0.2 && own.ms.p99 < 1.0 && averageOk;
        } else if (load == "realtime") {
            targetsMet = targetsMet && own.ms.p99 <= 2.5 && onArrival.ms.p99 >= 1.5 * own.ms.p99;
        }
    }

    if (load.empty()) {
        std::printf("\nTargets (this program, key down): median < 0.2 ms, p99 < 1 ms, final "
                    "average at 120 BPM within 0.05 BPM: %s\n",
                    targetsMet ? "met" : "MISSED");
    } else if (load == "realtime") {
        std::printf("\nTargets with every core busy (this program, key down, X server real-time): "
                    "p99 <= 2.5 ms and at least 1.5 times better than arrival alone: %s\n",
                    targetsMet ? "met" : "MISSED");
    }
    return targetsMet ? 0 : 1;
}
