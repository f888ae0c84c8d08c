// Run inside a private network namespace with only loopback up (in-private-network):
// the window and a second Link peer of the test's own find each other there, and no
// packet leaves the machine.

#include "day_clock.h"
#include "number_text.h"
#include "only_loopback.h"
#include "settings.h"
#include "window_fixture.h"

#include <ableton/Link.hpp>

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QSettings>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace tempocalc {
namespace {

[[maybe_unused]] testing::Environment* const onlyLoopback =
    testing::AddGlobalTestEnvironment(new OnlyLoopback);

// Link carries whole microseconds a beat: 87.5 comes back as 87.500036, 610 as 609.998.
bool linkNear(double session, double bpm) {
    return std::fabs(session - bpm) <= 1e-5 * bpm;
}

double sessionTempo(ableton::Link& peer) {
    return peer.captureAppSessionState().tempo();
}

int openSockets() {
    int sockets = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code unreadable;
        sockets += std::filesystem::read_symlink(fd, unreadable).string().starts_with("socket:");
    }
    return sockets;
}

class LinkWindow : public WindowTest {
protected:
    static QAction* menuEntry(Form1& window, const QString& start) {
        for (QAction* a : window.findChild<QMenu*>(QStringLiteral("contextMenu"))->actions()) {
            if (a->text().startsWith(start)) {
                return a;
            }
        }
        ADD_FAILURE() << "no menu entry " << start.toStdString();
        return nullptr;
    }
    static QAction* linkEntry(Form1& window) {
        return menuEntry(window, QStringLiteral("Share tempo with Link"));
    }
    void tapAt(std::initializer_list<double> readings) {
        for (const double r : readings) {
            tapSpace(r, r + 0.05);
        }
    }
    bool sessionFollows(ableton::Link& peer, double bpm, int ms = 1000) {
        return QTest::qWaitFor([&] { return linkNear(sessionTempo(peer), bpm); }, ms);
    }
    double shownAverage() { return *average_value(text("Text1").toStdString()); }
    // The beat that goes out: the line's tempo, as Ave shows it with the line.
    double beatTempo() { return *average_value(average_text(*form.fit().tempo())); }
    QString tooltip() { return control<QLineEdit>("Text1")->toolTip(); }
};

TEST_F(LinkWindow, APeerThatJoinsBeforeTheFirstTempoKeepsItsTempoThenFollowsTheBeat) {
    linkEntry(form)->trigger();
    EXPECT_EQ(linkEntry(form)->text(), "Share tempo with Link (from the first tempo)");
    ableton::Link peer(97.0);
    peer.enable(true);
    QTest::qWait(1500); // time enough to find a session, were there one
    EXPECT_EQ(peer.numPeers(), 0u);
    EXPECT_TRUE(linkNear(sessionTempo(peer), 97.0)) << sessionTempo(peer);
    tapAt({100.0}); // one strike: Ave has no tempo yet
    QTest::qWait(300);
    EXPECT_EQ(peer.numPeers(), 0u);

    // The texts are the engine's, Link or not.
    TempoState expected;
    Shown shown;
    for (const double r : {100.0, 100.7, 101.3}) {
        strike(expected, r, shown);
    }
    tapAt({100.7, 101.3});
    EXPECT_EQ(text("Text1").toStdString(), *shown.text1);
    EXPECT_EQ(text("Text2").toStdString(), *shown.text2);
    // The peer's session is the older one; the tempo set on joining is set again once
    // the two have met.
    EXPECT_TRUE(QTest::qWaitFor([&] { return peer.numPeers() == 1; }, 5000));
    EXPECT_TRUE(sessionFollows(peer, beatTempo())) << sessionTempo(peer) << " for " << beatTempo();
    const QString line = QStringLiteral("Link session: %1 BPM").arg(beatTempo(), 0, 'f', 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return tooltip().contains(line); }))
        << tooltip().toStdString();
    EXPECT_EQ(linkEntry(form)->text(), "Share tempo with Link (1 peer)");

    // Tempi beyond Link's range are not sent; initialize stays in the session.
    const double before = beatTempo();
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    tapAt({200.0, 200.05});
    EXPECT_EQ(text("Text1"), "1200.");
    QTest::qWait(200);
    EXPECT_TRUE(linkNear(sessionTempo(peer), before)) << sessionTempo(peer);
    tapAt({200.15}); // a line through three strikes: 800 BPM
    EXPECT_TRUE(sessionFollows(peer, 800.0)) << sessionTempo(peer);
    // A pause drags the mean, never the beat.
    tapAt({204.0});
    EXPECT_LT(shownAverage(), 700.0); // 900 before the pause
    QTest::qWait(200);
    EXPECT_TRUE(linkNear(sessionTempo(peer), 800.0)) << sessionTempo(peer);
    EXPECT_EQ(peer.numPeers(), 1u);
}

TEST_F(LinkWindow, APeerThatJoinsLaterTakesTheTappedTempo) {
    linkEntry(form)->trigger();
    tapAt({10.0, 10.52, 11.0, 11.49});
    QTest::qWait(600); // the window's session is the older one
    ableton::Link peer(97.0);
    peer.enable(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return peer.numPeers() == 1; }, 5000));
    EXPECT_TRUE(sessionFollows(peer, beatTempo()));
}

TEST_F(LinkWindow, TheSessionFollowsTheBeatWhicheverMethodFillsAve) {
    ableton::Link peer(97.0);
    peer.enable(true);
    linkEntry(form)->trigger();
    tapAt({10.0, 10.52, 11.0, 11.49, 12.1});
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.numPeers() == 1; }, 5000));
    ASSERT_TRUE(sessionFollows(peer, beatTempo()));
    EXPECT_GT(std::abs(shownAverage() - beatTempo()), 0.5); // the mean is another tempo
    menuEntry(form, QStringLiteral("Line through the strikes"))->trigger();
    EXPECT_EQ(shownAverage(), beatTempo());
    EXPECT_TRUE(sessionFollows(peer, beatTempo()));
    menuEntry(form, QStringLiteral("Mean of the tempos"))->trigger();
    QTest::qWait(200);
    EXPECT_TRUE(linkNear(sessionTempo(peer), beatTempo())) << sessionTempo(peer);
}

TEST_F(LinkWindow, MenuCountsThePeersAndLeavingDropsThemAtOnce) {
    ableton::Link peer(97.0);
    peer.enable(true);
    EXPECT_EQ(linkEntry(form)->text(), "Share tempo with Link");
    linkEntry(form)->trigger();
    tapAt({20.0, 20.5});
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return linkEntry(form)->text() == "Share tempo with Link (1 peer)"; }, 5000))
        << linkEntry(form)->text().toStdString();
    ableton::Link another(97.0);
    another.enable(true);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return linkEntry(form)->text() == "Share tempo with Link (2 peers)"; }, 5000));

    linkEntry(form)->trigger();
    EXPECT_EQ(linkEntry(form)->text(), "Share tempo with Link");
    EXPECT_FALSE(tooltip().contains("Link session"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return peer.numPeers() == 1; }, 500));
}

TEST_F(LinkWindow, WhatALeftSessionSaidOnItsWayOutIsNotHeard) {
    ableton::Link peer(97.0);
    peer.enable(true);
    linkEntry(form)->trigger();
    tapAt({20.0, 20.5});
    // The window's count of peers is on its way, not yet delivered, when the user
    // turns sharing off; then the peer goes, and sharing is turned on again.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (peer.numPeers() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(peer.numPeers(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    linkEntry(form)->trigger();
    peer.enable(false);
    QStringList said;
    QObject::connect(linkEntry(form), &QAction::changed, &form,
                     [&] { said << linkEntry(form)->text(); });
    linkEntry(form)->trigger(); // Ave has a tempo: a new session at once, alone
    QTest::qWait(300);
    EXPECT_FALSE(said.contains("Share tempo with Link (1 peer)")) << said.join(", ").toStdString();
    EXPECT_EQ(linkEntry(form)->text(), "Share tempo with Link (0 peers)");
}

TEST_F(LinkWindow, AnotherPeersTempoReachesOnlyTheTooltip) {
    ableton::Link peer(97.0);
    peer.enable(true);
    linkEntry(form)->trigger();
    tapAt({20.0, 20.5, 21.0});
    // Once the window has seen the peer (and set its tempo again after meeting it).
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return linkEntry(form)->text() == "Share tempo with Link (1 peer)"; }, 5000));
    ASSERT_TRUE(sessionFollows(peer, 120.0));
    const QString ave = text("Text1"), tempo = text("Text2");
    auto state = peer.captureAppSessionState();
    state.setTempo(140.0, peer.clock().micros());
    peer.commitAppSessionState(state);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return tooltip().contains("Link session: 140.00 BPM"); }, 2000))
        << tooltip().toStdString();
    EXPECT_EQ(text("Text1"), ave);
    EXPECT_EQ(text("Text2"), tempo);
}

TEST_F(LinkWindow, OpensNoSocketUntilTheFirstTempoAfterTurnedOn) {
    const int before = openSockets();
    tapAt({30.0, 30.5, 31.0});
    EXPECT_EQ(openSockets(), before);
    linkEntry(form)->trigger(); // Ave has a tempo already: shared at once
    EXPECT_TRUE(QTest::qWaitFor([&] { return openSockets() > before; }, 2000));
    linkEntry(form)->trigger();
    EXPECT_EQ(openSockets(), before);

    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    linkEntry(form)->trigger();
    tapAt({40.0});
    EXPECT_EQ(openSockets(), before);
    tapAt({40.5});
    EXPECT_TRUE(QTest::qWaitFor([&] { return openSockets() > before; }, 2000));
}

TEST_F(LinkWindow, TheChoiceIsKeptForTheNextStart) {
    linkEntry(form)->trigger();
    EXPECT_EQ(QSettings(Settings::path(), QSettings::IniFormat).value("link/enabled").toString(),
              "true");
    Form1 restarted([] { return 0.0; });
    EXPECT_TRUE(linkEntry(restarted)->isChecked());
    EXPECT_EQ(linkEntry(restarted)->text(), "Share tempo with Link (from the first tempo)");
    linkEntry(form)->trigger();
    EXPECT_EQ(QSettings(Settings::path(), QSettings::IniFormat).value("link/enabled").toString(),
              "false");
}

// Readings of a day clock and the two clocks a Link peer's beat is read at.
struct Clocks {
    DayClock day;
    double reading(std::chrono::steady_clock::time_point t) const {
        return day() + std::chrono::duration<double>(t - std::chrono::steady_clock::now()).count();
    }
    static std::chrono::microseconds link(ableton::Link& peer,
                                          std::chrono::steady_clock::time_point t) {
        return peer.clock().micros() + std::chrono::duration_cast<std::chrono::microseconds>(
                                           t - std::chrono::steady_clock::now());
    }
};

TEST_F(LinkWindow, PutsTheSessionsBeatsOnTheTapsOnlyWhenAskedTo) {
    ableton::Link peer(97.0);
    peer.enable(true);
    const Clocks clocks;
    Form1 window(clocks.day);
    EXPECT_FALSE(menuEntry(window, QStringLiteral("Put Link's beats on the taps"))->isEnabled());
    linkEntry(window)->trigger();
    using namespace std::chrono;
    const auto beat = duration_cast<steady_clock::duration>(duration<double>(0.5)); // 120 BPM
    const auto tapAround = [&](steady_clock::time_point last, int count) {
        for (int k = count - 1; k >= 0; --k) {
            window.strikeAt(clocks.reading(last - k * beat));
        }
    };
    tapAround(steady_clock::now(), 3);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return linkEntry(window)->text() == "Share tempo with Link (1 peer)"; }, 5000));
    ASSERT_TRUE(sessionFollows(peer, 120.0));
    window.findChild<QPushButton*>("Command4")->click(); // a new line, in the session still

    // Taps 0.3 beats after the session's beats.
    const auto now = steady_clock::now();
    const double at = peer.captureAppSessionState().beatAtTime(Clocks::link(peer, now), 1);
    const auto tap = now - duration_cast<steady_clock::duration>(
                               duration<double>((at - std::floor(at) - 0.3 + 1) * 0.5));
    const auto offBeat = [&](int beatsLater) {
        const double b = peer.captureAppSessionState().beatAtTime(
            Clocks::link(peer, tap + beatsLater * beat), 1);
        return b - std::round(b);
    };
    tapAround(tap, 8);
    QTest::qWait(300);
    for (const int later : {1, 2, 3}) {
        EXPECT_NEAR(offBeat(later), 0.3, 0.01) << later; // the session kept its phase
    }
    // Turned on, from the next tap on.
    QAction* align = menuEntry(window, QStringLiteral("Put Link's beats on the taps"));
    align->trigger();
    QTest::qWait(300);
    EXPECT_NEAR(offBeat(1), 0.3, 0.01);
    window.strikeAt(clocks.reading(tap + beat));
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::fabs(offBeat(2)) < 0.01; }));
    for (const int later : {2, 3, 4}) {
        EXPECT_NEAR(offBeat(later), 0.0, 0.01) << later;
    }
    {
        Form1 restarted([] { return 0.0; });
        EXPECT_TRUE(
            menuEntry(restarted, QStringLiteral("Put Link's beats on the taps"))->isChecked());
    }
    // Turned off, it sets nothing either.
    auto state = peer.captureAppSessionState();
    state.setTempo(140.0, peer.clock().micros());
    peer.commitAppSessionState(state);
    align->trigger();
    QTest::qWait(300);
    EXPECT_TRUE(linkNear(sessionTempo(peer), 140.0)) << sessionTempo(peer);
}

TEST_F(LinkWindow, PutsTheSessionsBarsOnTheTapsOneAndPlaysWhileThereIsABeat) {
    ableton::Link peer(97.0);
    peer.enableStartStopSync(true);
    peer.enable(true);
    const Clocks clocks;
    Form1 window(clocks.day);
    linkEntry(window)->trigger();
    menuEntry(window, QStringLiteral("Put Link's beats on the taps"))->trigger();
    using namespace std::chrono;
    const auto beat = duration_cast<steady_clock::duration>(duration<double>(0.5)); // 120 BPM
    const auto first = steady_clock::now() - 7 * beat;                              // the one
    for (int k = 0; k < 8; ++k) {
        window.strikeAt(clocks.reading(first + k * beat));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.numPeers() == 1; }, 5000));
    window.strikeAt(clocks.reading(first + 8 * beat)); // published again, to the met session
    ASSERT_TRUE(sessionFollows(peer, 120.0));
    // The session's bar (its quantum, four beats) begins on the taps' one.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const double phase =
                peer.captureAppSessionState().phaseAtTime(Clocks::link(peer, first + 12 * beat), 4);
            return std::min(phase, 4 - phase) < 0.02;
        },
        2000))
        << peer.captureAppSessionState().phaseAtTime(Clocks::link(peer, first + 12 * beat), 4);
    EXPECT_TRUE(QTest::qWaitFor([&] { return peer.captureAppSessionState().isPlaying(); }, 2000));
    // initialize ends the beat: the session stops.
    window.findChild<QPushButton*>("Command4")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !peer.captureAppSessionState().isPlaying(); }, 2000));
}

} // namespace
} // namespace tempocalc
