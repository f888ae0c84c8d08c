// How long a tapped tempo takes to reach another Link peer: the real window with
// Link turned on, a second peer in this process, and the time from each space bar
// press on the strike button to the other peer's tempo callback. 200 strikes, a
// new Ave each time. Must run inside a private network namespace with only loopback
// up (bench/run does: tests/in-private-network).
//
// link_bench [--strikes N]

#include "application.h"
#include "form1.h"
#include "stats.h"

#include <ableton/Link.hpp>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace tempocalc;
using namespace tempocalc::bench;
using Clock = std::chrono::steady_clock;

namespace {} // namespace

int main(int argc, char* argv[]) {
    int strikes = 200;
    if (argc == 3 && std::string(argv[1]) == "--strikes") {
        strikes = std::max(2, std::atoi(argv[2]));
    }
    const QTemporaryDir config; // the window's settings stay out of the user's
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    setUpApplication();

    std::atomic<long long> heard{0}; // steady-clock ticks of the latest tempo callback
    ableton::Link peer(97.0);
    peer.setTempoCallback([&](double) { heard = Clock::now().time_since_epoch().count(); });
    peer.enable(true);
    QTest::qWait(600); // a running session

    Form1 form;
    form.show();
    for (QAction* a : form.findChild<QMenu*>()->actions()) {
        if (a->text().startsWith(QLatin1String("Share tempo with Link"))) {
            a->trigger();
        }
    }
    if (!QTest::qWaitFor([&] { return peer.numPeers() == 1; }, 5000)) {
        std::fputs("link_bench: the window never joined the session\n", stderr);
        return EXIT_FAILURE;
    }
    auto* strike = form.findChild<QPushButton*>(QStringLiteral("Command1"));
    std::vector<double> latencies;
    for (int i = 0; i <= strikes; ++i) {
        // Uneven gaps, so that Ave changes at every strike.
        QTest::qWait(i % 2 ? 250 : 330);
        const long long before = heard;
        const auto pressed = Clock::now();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QApplication::sendEvent(strike, &press);
        QApplication::sendEvent(strike, &release);
        if (i < 2) {
            continue; // Ave has a tempo from the second strike on
        }
        const auto deadline = pressed + std::chrono::seconds(2);
        while (heard == before && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
        if (heard == before) {
            std::fprintf(stderr, "link_bench: strike %d never reached the peer\n", i);
            return EXIT_FAILURE;
        }
        const Clock::time_point at{Clock::duration(heard.load())};
        latencies.push_back(std::chrono::duration<double, std::milli>(at - pressed).count());
    }
    std::printf("| strikes | median ms | p99 ms | max ms |\n|---:|---:|---:|---:|\n");
    const Stats ms = statsOf(latencies);
    std::printf("| %zu | %.3f | %.3f | %.3f |\n", latencies.size(), ms.median, ms.p99, ms.max);
    return EXIT_SUCCESS;
}
