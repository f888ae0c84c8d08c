// Run inside a private network namespace with only loopback up (in-private-network):
// the window and a second Link peer of the test's own find each other there, and no
// packet leaves the machine.

#include "number_text.h"
#include "settings.h"
#include "window_fixture.h"

#include <ableton/Link.hpp>

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QSettings>

#include <cmath>
#include <filesystem>

namespace tempocalc {
namespace {

// Link carries microseconds a beat: 87.5 comes back as 87.500036.
constexpr double linkTolerance = 1e-3;

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
    static QAction* linkEntry(Form1& window) {
        for (QAction* a : window.findChild<QMenu*>(QStringLiteral("contextMenu"))->actions()) {
            if (a->text().startsWith(QLatin1String("Share tempo with Link"))) {
                return a;
            }
        }
        ADD_FAILURE() << "no Link entry in the menu";
        return nullptr;
    }
    void tapAt(std::initializer_list<double> readings) {
        for (const double r : readings) {
            tapSpace(r, r + 0.05);
        }
    }
};

TEST_F(LinkWindow, JoiningKeepsTheSessionTempoUntilAStrikeThenItFollowsAve) {
    ableton::Link peer(97.0);
    peer.enable(true);
    // A running session: when two sessions meet, the one that began earlier (by
    // more than half a second) is the one both keep.
    QTest::qWait(600);
    linkEntry(form)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.numPeers() == 1; }, 5000));
    QTest::qWait(300);
    EXPECT_NEAR(sessionTempo(peer), 97.0, linkTolerance);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return text("Text1") == "average" &&
               form.findChild<QLineEdit*>("Text1")->toolTip().contains("Link session: 97.00 BPM");
    })) << control<QLineEdit>("Text1")->toolTip().toStdString();

    tapAt({100.0}); // one strike: Ave has no tempo yet
    QTest::qWait(100);
    EXPECT_NEAR(sessionTempo(peer), 97.0, linkTolerance);

    // The texts are the engine's, Link or not.
    TempoState expected;
    Shown shown;
    for (const double r : {100.0, 100.7, 101.3}) {
        strike(expected, r, shown);
    }
    tapAt({100.7, 101.3});
    EXPECT_EQ(text("Text1").toStdString(), *shown.text1);
    EXPECT_EQ(text("Text2").toStdString(), *shown.text2);
    const double shownAve = *average_value(*shown.text1);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return std::fabs(sessionTempo(peer) - shownAve) < linkTolerance; }, 2000))
        << sessionTempo(peer) << " for " << shownAve;

    // A tempo beyond Link's range is not sent.
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    tapAt({200.0, 200.05});
    EXPECT_EQ(text("Text1"), "1200.");
    QTest::qWait(100);
    EXPECT_NEAR(sessionTempo(peer), shownAve, linkTolerance);
}

TEST_F(LinkWindow, TheLineMethodPublishesTheLine) {
    ableton::Link peer(97.0);
    peer.enable(true);
    for (QAction* a : form.findChild<QMenu*>("contextMenu")->actions()) {
        if (a->text() == "Line through the strikes") {
            a->trigger();
        }
    }
    linkEntry(form)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.numPeers() == 1; }, 5000));
    tapAt({10.0, 10.52, 11.0, 11.49});
    const double shownAve = *average_value(text("Text1").toStdString());
    EXPECT_NEAR(shownAve, *form.fit().tempo(), 0.0005);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return std::fabs(sessionTempo(peer) - shownAve) < linkTolerance; }, 2000));
}

TEST_F(LinkWindow, MenuCountsThePeersAndLeavingDropsThemAtOnce) {
    ableton::Link peer(97.0);
    peer.enable(true);
    EXPECT_EQ(linkEntry(form)->text(), "Share tempo with Link");
    linkEntry(form)->trigger();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return linkEntry(form)->text() == "Share tempo with Link (1 peer)"; }, 5000))
        << linkEntry(form)->text().toStdString();
    ableton::Link another(97.0);
    another.enable(true);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return linkEntry(form)->text() == "Share tempo with Link (2 peers)"; }, 5000));

    linkEntry(form)->trigger();
    EXPECT_EQ(linkEntry(form)->text(), "Share tempo with Link");
    EXPECT_TRUE(QTest::qWaitFor([&] { return peer.numPeers() == 1; }, 500));
}

TEST_F(LinkWindow, AnotherPeersTempoReachesOnlyTheTooltip) {
    ableton::Link peer(97.0);
    peer.enable(true);
    linkEntry(form)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.numPeers() == 1; }, 5000));
    tapAt({20.0, 20.5, 21.0});
    const QString ave = text("Text1"), tempo = text("Text2");
    auto state = peer.captureAppSessionState();
    state.setTempo(140.0, peer.clock().micros());
    peer.commitAppSessionState(state);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return control<QLineEdit>("Text1")->toolTip().contains("Link session: 140.00 BPM"); },
        2000))
        << control<QLineEdit>("Text1")->toolTip().toStdString();
    EXPECT_EQ(text("Text1"), ave);
    EXPECT_EQ(text("Text2"), tempo);
}

TEST_F(LinkWindow, OpensNoSocketUntilTurnedOn) {
    const int before = openSockets();
    tapAt({30.0, 30.5, 31.0});
    Form1 another([] { return 0.0; });
    EXPECT_EQ(openSockets(), before);
    linkEntry(form)->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return openSockets() > before; }, 2000));
    linkEntry(form)->trigger();
    EXPECT_EQ(openSockets(), before);
}

TEST_F(LinkWindow, TheChoiceIsKeptForTheNextStart) {
    linkEntry(form)->trigger();
    EXPECT_EQ(QSettings(Settings::path(), QSettings::IniFormat).value("link/enabled").toString(),
              "true");
    Form1 restarted([] { return 0.0; });
    EXPECT_TRUE(linkEntry(restarted)->isChecked());
    // It joined: the first window is its peer.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return linkEntry(restarted)->text() == "Share tempo with Link (1 peer)"; }, 5000));
    linkEntry(form)->trigger();
    EXPECT_EQ(QSettings(Settings::path(), QSettings::IniFormat).value("link/enabled").toString(),
              "false");
}

} // namespace
} // namespace tempocalc
