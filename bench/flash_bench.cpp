// How exactly the beat flash lands: the real window on a real X server, "Flash the
// beat" on, and a grid of exactly 120 BPM laid down by eight strikes at known
// instants. A connection of its own (XDamage) times each flash as the X server puts it
// on screen, set against the grid's beat; and the CPU that flashing costs the program.
//
// flash_bench [--beats N]   (needs DISPLAY; bench/run sets one up)

#include "application.h"
#include "day_clock.h"
#include "form1.h"
#include "settings.h"
#include "stats.h"
#include "x_flash.h"
#include "x_keys.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tempocalc;
using namespace tempocalc::bench;

namespace {

// Runs the event loop, which sleeps between events as it does in use.
void runFor(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

double processCpuSeconds() {
    rusage used{};
    getrusage(RUSAGE_SELF, &used);
    return static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
           static_cast<double>(used.ru_utime.tv_usec + used.ru_stime.tv_usec) * 1e-6;
}

} // namespace

int main(int argc, char* argv[]) {
    int beats = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--beats") {
            beats = std::max(10, std::atoi(argv[i + 1]));
        }
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fputs("flash_bench: needs an X display; run bench/run\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    const QTemporaryDir config; // the flash on, in settings of this run's own
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    setUpApplication();
    QDir().mkpath(QFileInfo(Settings::path()).path());
    Settings::load().setFlash(true);

    const DayClock clock;
    Form1 form(clock);
    form.show();
    while (!form.windowHandle() || !form.windowHandle()->isExposed()) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    runFor(0.5);
    auto* strikeButton = form.findChild<QPushButton*>(QStringLiteral("Command1"));
    const QPoint probe = strikeButton->mapTo(&form, QPoint(8, strikeButton->height() / 2));
    PixelChanges onsets(form.winId(), probe.x(), probe.y());

    // Eight strikes exactly half a second apart, the last one now: 120 BPM, a beat now.
    const double period = 0.5;
    const double last = monotonicNow();
    const double lastReading = clock();
    for (int k = 7; k >= 0; --k) {
        form.strikeAt(lastReading - k * period);
    }
    const double cpuBefore = processCpuSeconds();
    runFor(period * (beats + 0.5));
    const std::vector<double> seen = onsets.take();
    const double watcherCpu = onsets.finish();
    const double cpu = processCpuSeconds() - cpuBefore - watcherCpu;

    std::vector<double> errorMs;
    for (const double onset : seen) {
        const double beat = last + std::round((onset - last) / period) * period;
        if (beat > last) {
            errorMs.push_back((onset - beat) * 1e3);
        }
    }
    if (errorMs.size() < static_cast<std::size_t>(beats) * 9 / 10) {
        std::fprintf(stderr, "flash_bench: %zu flashes seen for %d beats\n", errorMs.size(), beats);
        return 1;
    }
    std::vector<double> late;
    for (const double e : errorMs) {
        late.push_back(std::fabs(e));
    }
    const Stats stats = statsOf(late);
    const double cpuShare = cpu / (period * (beats + 0.5)) * 100;
    std::printf("| flashes | median ms | p99 ms | max ms | earliest ms | CPU, %% of a core |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|\n");
    std::printf("| %zu | %.3f | %.3f | %.3f | %.3f | %.2f |\n", errorMs.size(), stats.median,
                stats.p99, stats.max, *std::min_element(errorMs.begin(), errorMs.end()), cpuShare);
    const bool met = stats.median <= 2.0 && stats.p99 <= 8.0 && cpuShare < 1.0;
    std::printf("\nTargets: median <= 2 ms, p99 <= 8 ms, CPU under 1 %% of a core: %s\n",
                met ? "met" : "MISSED");
    return met ? EXIT_SUCCESS : EXIT_FAILURE;
}
