// Run against a JACK server with the dummy driver (the jack fixture in CTest), with a
// JACK client of the test's own as the pedal. MidiWithoutSystem runs with no server.

#include "day_clock.h"
#include "form1.h"
#if TEMPOCALC_HAVE_JACK
#include "jack_client.h"
#endif
#include "midi_tap.h"
#include "notice.h"
#include "resident_memory.h"
#include "rig.h"
#include "settings.h"

#include <rtmidi/RtMidi.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <ostream>
#include <vector>

namespace tempocalc {

// Failure messages show a port by its system and name.
void PrintTo(const MidiPort& port, std::ostream* os) {
    *os << port.api.toStdString() << " \"" << port.name.toStdString() << '"';
}

namespace {

QStringList entries(Form1& window) {
    auto* menu = window.findChild<QMenu*>(QStringLiteral("midiMenu"));
#if TEMPOCALC_HAVE_JACK
    // JACK's ports are asked for as the menu opens, on the client's own thread.
    if (auto* jack = window.findChild<JackClient*>()) {
        QSignalSpy answered(jack, &JackClient::tapSourcesChanged);
        emit menu->aboutToShow();
        answered.wait(3000);
    }
#endif
    emit menu->aboutToShow();
    QStringList texts;
    for (QAction* a : menu->actions()) {
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    }
    return texts;
}

// An entry by its text, or a port's by its name whatever state it says it is in.
QAction* entry(Form1& window, const QString& text) {
    entries(window);
    for (QAction* a : window.findChild<QMenu*>(QStringLiteral("midiMenu"))->actions()) {
        if (a->text() == text || a->text().startsWith(text + QStringLiteral(" ("))) {
            return a;
        }
    }
    ADD_FAILURE() << "no MIDI entry " << text.toStdString();
    return nullptr;
}

// Chooses a port to tap from and waits until it is heard (the menu ticks it then).
bool choose(Form1& window, const QString& port) {
    entry(window, port)->trigger();
    return QTest::qWaitFor([&] { return entry(window, port)->isChecked(); }, 3000);
}

class MidiWindow : public testing::Test {
protected:
    void SetUp() override {
        QFile::remove(Settings::path());
        plugIn();
        form = std::make_unique<Form1>(DayClock());
        form->show();
    }

    void plugIn() {
        pedal = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "pedal");
        pedal->openVirtualPort("out");
    }
    // Sends each message, a little apart so that no two are the same strike.
    void send(const std::vector<std::vector<unsigned char>>& messages, int apartMs = 50) {
        for (std::vector<unsigned char> m : messages) {
            pedal->sendMessage(&m);
            QTest::qWait(apartMs);
        }
    }
    int strikes() const { return form->state().tapcount; }
    bool strikesReach(int count) {
        return QTest::qWaitFor([&] { return strikes() >= count; }, 2000) && strikes() == count;
    }
    QString setting(const char* key) {
        return QSettings(Settings::path(), QSettings::IniFormat).value(key).toString();
    }

    std::unique_ptr<RtMidiOut> pedal;
    std::unique_ptr<Form1> form;
};

const std::vector<unsigned char> noteOn{0x90, 60, 100};

TEST_F(MidiWindow, ListsThePortAndStrikesOnNotesAndRisingControllersOnly) {
    EXPECT_EQ(entries(*form),
              QStringList({"None", "pedal:out", "-", "Learn tap…", "Learn the one…"}));
    EXPECT_TRUE(entry(*form, "None")->isChecked());
    EXPECT_FALSE(entry(*form, "Learn tap…")->isEnabled());
    ASSERT_TRUE(choose(*form, "pedal:out"));
    EXPECT_EQ(setting("midi/port"), "pedal:out");
    EXPECT_EQ(setting("midi/api"), "jack");

    // The focus stays where the user put it.
    form->findChild<QLineEdit*>(QStringLiteral("Text3"))->setFocus();
    send({noteOn});
    EXPECT_TRUE(strikesReach(1));
    send({{0x90, 60, 0},  // a note-on at velocity 0 is a note-off
          {0x80, 60, 64}, // note-off
          {0xc0, 5},      // program change
          {0xf8},
          {0xfe},             // clock, active sensing
          {0xf0, 0x7e, 0xf7}, // system exclusive
          {0xb0, 64, 63}});   // a controller below 64
    EXPECT_TRUE(strikesReach(1));
    send({{0xb0, 64, 64}}); // rises to 64
    EXPECT_TRUE(strikesReach(2));
    send({{0xb0, 64, 127}, {0xb0, 64, 100}}); // stays up
    EXPECT_TRUE(strikesReach(2));
    send({{0xb0, 64, 0}, {0xb5, 64, 90}, {0x99, 36, 1}}); // down; another channel; a pad
    EXPECT_TRUE(strikesReach(4));
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "Text3");
    EXPECT_NE(form->findChild<QLineEdit*>(QStringLiteral("Text2"))->text(), "tempo");
}

TEST_F(MidiWindow, MessagesWithin30msAreOneStrike) {
    ASSERT_TRUE(choose(*form, "pedal:out"));
    send({noteOn, {0x90, 64, 90}, {0x90, 67, 80}}, 0); // a chord
    send({noteOn}, 10);                                // a double trigger
    EXPECT_TRUE(strikesReach(1));
    QTest::qWait(40);
    send({noteOn});
    EXPECT_TRUE(strikesReach(2));
}

TEST_F(MidiWindow, LearnedMessageIsTheOnlyOneThatStrikesUntilNone) {
    ASSERT_TRUE(choose(*form, "pedal:out"));
    entry(*form, "Learn tap…")->trigger();
    EXPECT_EQ(entries(*form)[3], "Learning… strike the pedal");
    send({{0xb0, 64, 127}}); // learned, not struck
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return setting("midi/message") == "controller 1 64"; }, 2000));
    EXPECT_EQ(strikes(), 0);
    // The submenu says what it learned, and how to forget it.
    EXPECT_EQ(entries(*form).mid(3), QStringList({"Learn tap…", "Tap on: controller 64, channel 1",
                                                  "Any note or pedal", "Learn the one…"}));
    EXPECT_FALSE(entry(*form, "Tap on: controller 64, channel 1")->isEnabled());
    send({{0xb0, 64, 0}, noteOn, {0xb0, 65, 127}, {0xb1, 64, 127}, {0xb1, 64, 0}});
    send({{0xb0, 64, 127}});
    EXPECT_TRUE(strikesReach(1));

    // Kept for the next start, with the port.
    form = std::make_unique<Form1>(DayClock());
    EXPECT_TRUE(QTest::qWaitFor([&] { return entry(*form, "pedal:out")->isChecked(); }, 3000));
    send({noteOn, {0xb0, 64, 0}, {0xb0, 64, 127}});
    EXPECT_TRUE(strikesReach(1));

    entry(*form, "Any note or pedal")->trigger(); // forgotten: any note strikes again
    EXPECT_EQ(setting("midi/message"), "");
    EXPECT_EQ(entries(*form).size(), 5);
    send({noteOn});
    EXPECT_TRUE(strikesReach(2));
    entry(*form, "Learn tap…")->trigger(); // learned anew, and forgotten with the port
    send({{0xb0, 64, 0}, {0xb0, 64, 127}});
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return setting("midi/message") == "controller 1 64"; }, 2000));

    entry(*form, "None")->trigger();
    EXPECT_EQ(setting("midi/port"), "");
    EXPECT_EQ(setting("midi/message"), "");
    send({{0xb0, 64, 0}, {0xb0, 64, 127}});
    EXPECT_TRUE(strikesReach(2));
    // What was learned is forgotten with the port: any note strikes again.
    ASSERT_TRUE(choose(*form, "pedal:out"));
    send({noteOn});
    EXPECT_TRUE(strikesReach(3));
}

TEST_F(MidiWindow, ASecondLearnedMessageMarksTheOneAndStrikesNoMore) {
    ASSERT_TRUE(choose(*form, "pedal:out"));
    entry(*form, "Learn the one…")->trigger();
    EXPECT_EQ(entries(*form).last(), "Learning… strike the one");
    send({{0x99, 37, 100}}); // a pad of its own
    EXPECT_TRUE(QTest::qWaitFor([&] { return setting("midi/one") == "note 10 37"; }, 2000));
    EXPECT_EQ(strikes(), 0);
    EXPECT_EQ(entries(*form).mid(4),
              QStringList(
                  {"Learn the one…", "The one on: note 37, channel 10", "No message for the one"}));
    // Four strikes on the beat, the pad, and a strike: that strike is the one.
    const auto beat = [&](int count) {
        for (int i = 0; i < count; ++i) {
            send({noteOn}, 0);
            QTest::qWait(500);
        }
    };
    beat(4);
    send({{0x99, 37, 100}}, 0);
    beat(1);
    EXPECT_TRUE(strikesReach(5)) << "the pad struck";
    const std::optional<BeatGrid> grid = form->rig().grid();
    ASSERT_TRUE(grid);
    EXPECT_NEAR(grid->one, form->state().curtime, 0.03);
    entry(*form, "No message for the one")->trigger();
    EXPECT_EQ(setting("midi/one"), "");
}

TEST_F(MidiWindow, AnUnpluggedPortIsMissingAndHeardAgainAsSoonAsItIsBack) {
    ASSERT_TRUE(choose(*form, "pedal:out"));
    send({noteOn});
    EXPECT_TRUE(strikesReach(1));
    pedal.reset();
    QTest::qWait(100);
    EXPECT_EQ(entries(*form),
              QStringList({"None", "pedal:out (missing)", "-", "Learn tap…", "Learn the one…"}));
    EXPECT_FALSE(entry(*form, "pedal:out (missing)")->isChecked()); // a tick means heard

    // Back: heard again within a second, without the menu being opened.
    plugIn();
    QTest::qWait(1000);
    send({noteOn});
    EXPECT_TRUE(strikesReach(2));
    EXPECT_EQ(entries(*form),
              QStringList({"None", "pedal:out", "-", "Learn tap…", "Learn the one…"}));
    EXPECT_TRUE(entry(*form, "pedal:out")->isChecked());
}

TEST_F(MidiWindow, FloodNeitherFreezesTheWindowNorGrowsMemory) {
    ASSERT_TRUE(choose(*form, "pedal:out"));
    send({noteOn}); // warm up
    EXPECT_TRUE(strikesReach(1));
    const long before = residentKiB();
    int ticks = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] { ++ticks; });
    heartbeat.start(20);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10'000; ++i) {
        std::vector<unsigned char> m{0x90, static_cast<unsigned char>(i % 128), 100};
        pedal->sendMessage(&m);
        if (i % 100 == 0) {
            QTest::qWait(5); // the window keeps running while the flood goes on
        }
    }
    QTest::qWait(200);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(ticks, seconds / 0.020 / 2) << "the window's timer starved";
    EXPECT_LE(strikes(), 2 + static_cast<int>(seconds / 0.030)) << seconds << " s";
    EXPECT_LT(residentKiB() - before, 2048);
}

TEST_F(MidiWindow, OpeningTheSubmenuAgainAndAgainKeepsOneGroupOfChoices) {
    for (int i = 0; i < 50; ++i) {
        entries(*form);
    }
    EXPECT_EQ(
        form->findChild<QMenu*>(QStringLiteral("midiMenu"))->findChildren<QActionGroup*>().size(),
        1);
}

TEST_F(MidiWindow, StrikesGoOnAcrossMidnight) {
    ASSERT_TRUE(choose(*form, "pedal:out"));
    // Time enough for a new client to be heard on a busy machine before midnight.
    const DayClock clock(seconds_per_day - 3.0);
    form = std::make_unique<Form1>(clock); // listening to the port it was told to
    ASSERT_TRUE(QTest::qWaitFor([&] { return entry(*form, "pedal:out")->isChecked(); }, 2500));
    ASSERT_LT(clock(), seconds_per_day - 0.06) << "no note before midnight";
    int sent = 0;
    for (; clock() > 1.0 || clock() < 0.2; ++sent) {
        send({noteOn}, 60);
    }
    EXPECT_TRUE(strikesReach(sent));
    EXPECT_LT(form->state().curtime, 1.0);
}

TEST_F(MidiWindow, APedalStrikeWhileTheSpaceBarIsHeldComesFirstAndTheKeyIsLeftOut) {
    ASSERT_TRUE(choose(*form, "pedal:out"));
    auto* strikeButton = form->findChild<QPushButton*>(QStringLiteral("Command1"));
    strikeButton->setFocus();
    const auto pressAndPedal = [&](int pedalAfterMs) {
        const int before = strikes();
        QTest::keyPress(strikeButton, Qt::Key_Space);
        QTest::qWait(pedalAfterMs);
        send({noteOn}, 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return strikes() > before; }));
    };
    const auto release = [&] { QTest::keyRelease(strikeButton, Qt::Key_Space); };
    pressAndPedal(100);
    const double pedal = form->state().curtime;
    release(); // struck with the reading of the press, 100 ms before the pedal's
    EXPECT_EQ(strikes(), 1);
    EXPECT_EQ(form->state().curtime, pedal);
    EXPECT_FALSE(QApplication::activeModalWidget());

    QTest::qWait(400);
    const auto pressed = std::chrono::steady_clock::now();
    pressAndPedal(0); // the same beat
    release();
    if (std::chrono::steady_clock::now() - pressed > std::chrono::milliseconds(25)) {
        GTEST_SKIP() << "the machine held the test up between the press and the pedal";
    }
    EXPECT_EQ(strikes(), 2);
    EXPECT_GT(form->state().curtempo, 100.0);
    EXPECT_LT(form->state().curtempo, 200.0);
}

TEST(MidiPortNames, AnAlsaPortIsFoundByItsNameWhateverItsNumbersAreNow) {
    const auto alsa = [](const char* name) { return MidiPort{"alsa", QString::fromUtf8(name)}; };
    const QList<MidiPort> plugged{alsa("Pedal:Pedal MIDI 1 28:0"),
                                  alsa("Keys:Keys MIDI 1 32:0"),
                                  alsa("Keys:Keys MIDI 1 36:0"),
                                  {"jack", "Pedal:Pedal MIDI 1 24:0"}};
    const struct {
        MidiPort wanted;
        std::optional<MidiPort> found;
    } cases[] = {
        {alsa("Pedal:Pedal MIDI 1 24:0"), alsa("Pedal:Pedal MIDI 1 28:0")}, // plugged in again
        {alsa("Pedal:Pedal MIDI 1 28:0"), alsa("Pedal:Pedal MIDI 1 28:0")},
        {alsa("Keys:Keys MIDI 1 36:0"), alsa("Keys:Keys MIDI 1 36:0")}, // two: the full name
        {alsa("Keys:Keys MIDI 1 20:0"), std::nullopt},
        {alsa("Drums:Drums MIDI 1 28:0"), std::nullopt},
        {{"jack", "Pedal:Pedal MIDI 1 30:0"}, std::nullopt}, // JACK's names are kept whole
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MidiPort::find(c.wanted, plugged), c.found) << c.wanted.name.toStdString();
    }
}

TEST(MidiPortNames, AnA2jPortIsFoundByItsNameWhateverItsAlsaClientNumberIsNow) {
    const auto jack = [](const char* name) { return MidiPort{"jack", QString::fromUtf8(name)}; };
    const QList<MidiPort> plugged{jack("a2j:Pedal [28] (capture): Pedal MIDI 1"),
                                  jack("a2j:Keys [32] (capture): Keys MIDI 1"),
                                  jack("a2j:Keys [36] (capture): Keys MIDI 1"),
                                  jack("a2j:Synth [40] (playback): Synth MIDI 1"),
                                  jack("a2j:Foot [2] [44] (capture): Foot [3]"),
                                  jack("bridge:Pedal [28] (capture): Pedal MIDI 1"),
                                  {"alsa", "Drums:Drums MIDI 1 28:0"}};
    const struct {
        MidiPort wanted;
        std::optional<MidiPort> found;
    } cases[] = {
        {jack("a2j:Pedal [24] (capture): Pedal MIDI 1"), plugged[0]}, // plugged in again
        {jack("a2j:Pedal [28] (capture): Pedal MIDI 1"), plugged[0]},
        {jack("a2j:Keys [36] (capture): Keys MIDI 1"), plugged[2]}, // two: the full name
        {jack("a2j:Keys [20] (capture): Keys MIDI 1"), std::nullopt},
        {jack("a2j:Synth [24] (playback): Synth MIDI 1"), plugged[3]},
        {jack("a2j:Pedal [24] (playback): Pedal MIDI 1"), std::nullopt},
        {jack("a2j:Pedal [24] (capture): Pedal MIDI 2"), std::nullopt},
        {jack("a2j:Foot [2] [12] (capture): Foot [3]"), plugged[4]},
        {jack("a2j:Foot [2] [44] (capture): Foot [4]"), std::nullopt}, // the port's number stays
        {jack("a2j:Foot [3] [44] (capture): Foot [3]"), std::nullopt}, // and the device's own
        {jack("bridge:Pedal [24] (capture): Pedal MIDI 1"), std::nullopt}, // other clients whole
        {jack("a2j:Drums [28] (capture): Drums MIDI 1"), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MidiPort::find(c.wanted, plugged), c.found) << c.wanted.name.toStdString();
    }
}

#if TEMPOCALC_HAVE_JACK
// An entry by its name, whatever state it says it is in after it.
QAction* menuEntry(Form1& window, const char* text) {
    for (QAction* a : window.findChild<QMenu*>(QStringLiteral("contextMenu"))->actions()) {
        if (a->text() == QLatin1String(text) ||
            a->text().startsWith(QLatin1String(text) + QStringLiteral(" — "))) {
            return a;
        }
    }
    ADD_FAILURE() << "no menu entry " << text;
    return nullptr;
}

// The MIDI outputs of the program's own JACK client, as another client sees them.
QStringList clientPorts() {
    RtMidiIn probe(RtMidi::UNIX_JACK, "probe");
    QStringList found;
    for (unsigned int i = 0, n = probe.getPortCount(); i < n; ++i) {
        found << QString::fromStdString(probe.getPortName(i));
    }
    return found.filter(QStringLiteral("tempo-calculator:"));
}

struct ClockHeard {
    std::atomic<int> start{0}, ticks{0}, stop{0};
    static void count(double, std::vector<unsigned char>* m, void* self) {
        auto* heard = static_cast<ClockHeard*>(self);
        switch (m->at(0)) {
        case 0xfa:
            ++heard->start;
            break;
        case 0xf8:
            ++heard->ticks;
            break;
        case 0xfc:
            ++heard->stop;
            break;
        }
    }
};

TEST_F(MidiWindow, MidiClockRunsOnTheTapsGridOnAClientThereOnlyWhileUsed) {
    EXPECT_TRUE(clientPorts().isEmpty());
    menuEntry(*form, "Send MIDI clock (JACK)")->trigger();
    EXPECT_EQ(setting("beat/midi_clock"), "true");
    EXPECT_TRUE(QTest::qWaitFor(
        [] { return clientPorts() == QStringList({"tempo-calculator:clock"}); }, 3000));

    const DayClock clock;
    form.reset(); // (two windows' clients would be tempo-calculator and tempo-calculator-01)
    form = std::make_unique<Form1>(clock); // the choice is kept: the client is back
    EXPECT_TRUE(menuEntry(*form, "Send MIDI clock (JACK)")->isChecked());
    ASSERT_TRUE(QTest::qWaitFor([] { return !clientPorts().isEmpty(); }, 3000));
    ClockHeard heard;
    RtMidiIn listener(RtMidi::UNIX_JACK, "listener");
    listener.ignoreTypes(true, false, true);
    listener.setCallback(&ClockHeard::count, &heard);
    listener.openVirtualPort("in");
    ASSERT_EQ(std::system("jack_connect tempo-calculator:clock listener:in"), 0);
    const double now = clock();
    for (const double ago : {1.5, 1.0, 0.5, 0.0}) {
        form->strikeAt(now - ago, TapSession::Source::button);
    }
    QTest::qWait(1000);
    EXPECT_EQ(heard.start, 1);
    // 24 a beat at 120 BPM, from the grid's next beat on: half a second to a second.
    EXPECT_GE(heard.ticks, 22);
    EXPECT_LE(heard.ticks, 50);
    EXPECT_EQ(heard.stop, 0);
    form->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return heard.stop == 1; }, 1000));
    const int ticks = heard.ticks;
    QTest::qWait(300);
    EXPECT_EQ(heard.ticks, ticks);

    menuEntry(*form, "Send MIDI clock (JACK)")->trigger();
    EXPECT_TRUE(QTest::qWaitFor([] { return clientPorts().isEmpty(); }, 2000)) << "still open";
}

// No JACK server at all: the entries keep the user's choice and wait for one, without a
// box that would take the space bar.
TEST(MidiWithoutSystem, TheClockAndTheClickWaitForJackWithoutABox) {
    QFile::remove(Settings::path());
    Form1 window{DayClock()};
    window.show();
    for (const char* entry : {"Send MIDI clock (JACK)", "Click on the beat (JACK)"}) {
        menuEntry(window, entry)->trigger();
        EXPECT_TRUE(menuEntry(window, entry)->isChecked());
    }
    for (const char* entry : {"Send MIDI clock (JACK)", "Click on the beat (JACK)"}) {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return menuEntry(window, entry)->text() ==
                       QString::fromUtf8(entry) + QStringLiteral(" — waiting for JACK");
            },
            3000))
            << menuEntry(window, entry)->text().toStdString();
    }
    EXPECT_FALSE(QApplication::activeModalWidget());
    // Said once in the run, in a notice that leaves the keys to the strike button.
    EXPECT_EQ(window.findChild<Notices*>()->texts(),
              QStringList("No JACK server is running: the JACK entries wait for one (on PipeWire, "
                          "run the program through pw-jack)."));
    EXPECT_EQ(QApplication::focusWidget(), window.findChild<QPushButton*>("Command1"));
    const Settings kept = Settings::load();
    EXPECT_TRUE(kept.midiClock && kept.click);
    window.strikeAt(10.0);
    window.strikeAt(10.5);
    EXPECT_EQ(window.state().tapcount, 2);
}

#if TEMPOCALC_HAVE_LISTEN_JACK
// Listening without a server: the entry waits as the others do, the choice is kept, and
// until a beat is heard Ave is the strikes' and its tooltip says that nothing is heard.
TEST(MidiWithoutSystem, ListeningWaitsForJackAndTheStrikesFillAveMeanwhile) {
    QFile::remove(Settings::path());
    Form1 window{DayClock()};
    window.show();
    menuEntry(window, "Listen on JACK")->trigger();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return menuEntry(window, "Listen on JACK")->text() == "Listen on JACK — waiting for JACK"; },
        3000))
        << menuEntry(window, "Listen on JACK")->text().toStdString();
    EXPECT_TRUE(Settings::load().listen);
    window.strikeAt(10.0);
    window.strikeAt(10.5);
    auto* ave = window.findChild<QLineEdit*>(QStringLiteral("Text1"));
    EXPECT_EQ(ave->text(), "120.");
    EXPECT_TRUE(ave->toolTip().startsWith("Listening on JACK: no beat heard yet"))
        << ave->toolTip().toStdString();
    menuEntry(window, "Listen on JACK")->trigger();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return menuEntry(window, "Listen on JACK")->text() == "Listen on JACK"; }, 3000));
    EXPECT_FALSE(Settings::load().listen);
    EXPECT_TRUE(ave->toolTip().startsWith("Mean of the tempos")) << ave->toolTip().toStdString();
}
#endif

// A server of the test's own, stopped while the clock and the click run, and started again.
TEST(MidiServerGoesAway, TheProgramWaitsForItAndComesBackWithItsPedal) {
    QFile::remove(Settings::path());
    const QByteArray pidfile = QDir::temp().filePath("tempo-window-gone.pid").toLocal8Bit();
    const auto server = [&](const char* action) {
        return std::system(QByteArray(TEMPOCALC_JACK_SERVER " ")
                               .append(action)
                               .append(" tempo-window-gone ")
                               .append(pidfile)
                               .constData());
    };
    qputenv("JACK_DEFAULT_SERVER", "tempo-window-gone");
    server("stop"); // one that a failed run left behind
    ASSERT_EQ(server("start"), 0);
    // A pedal of another process, as it would be (jackd2's jack_midiseq: a note every
    // half second), which goes when its server goes.
    QProcess pedal;
    const auto plugIn = [&] {
        pedal.start("jack_midiseq", {"seq", "24000", "0", "60", "100"});
        return pedal.waitForStarted() &&
               QTest::qWaitFor([] { return std::system("jack_lsp seq:out >/dev/null") == 0; });
    };
    ASSERT_TRUE(plugIn());
    Form1 window{DayClock()};
    window.show();
    for (const char* entry : {"Send MIDI clock (JACK)", "Click on the beat (JACK)"}) {
        menuEntry(window, entry)->trigger();
        ASSERT_TRUE(menuEntry(window, entry)->isChecked());
    }
    entry(window, "seq:out")->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.state().tapcount >= 1; }, 2000));
    EXPECT_TRUE(entry(window, "seq:out")->isChecked()); // heard
    ASSERT_EQ(server("stop"), 0);
    pedal.kill();
    pedal.waitForFinished();
    for (const char* entry : {"Send MIDI clock (JACK)", "Click on the beat (JACK)"}) {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return menuEntry(window, entry)->text().endsWith("waiting for JACK"); }, 5000));
        EXPECT_TRUE(menuEntry(window, entry)->isChecked());
    }
    EXPECT_FALSE(QApplication::activeModalWidget());
    EXPECT_EQ(entries(window).filter("seq:out"), QStringList("seq:out (missing)"));
    window.findChild<QPushButton*>(QStringLiteral("Command4"))->click();
    window.strikeAt(10.0);
    window.strikeAt(10.5);
    EXPECT_EQ(window.state().tapcount, 2);

    // The server and the pedal are back: the program hears the pedal again by itself.
    ASSERT_EQ(server("start"), 0);
    ASSERT_TRUE(plugIn());
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.state().tapcount > 2; }, 3000));
    EXPECT_EQ(menuEntry(window, "Send MIDI clock (JACK)")->text(), "Send MIDI clock (JACK)");
    EXPECT_TRUE(entry(window, "seq:out")->isChecked());
    pedal.kill();
    pedal.waitForFinished();
    ASSERT_EQ(server("stop"), 0);
}
#endif

// No JACK server and no ALSA sequencer: no MIDI system at all.
TEST(MidiWithoutSystem, OffersOneDisabledEntryAndNothingElse) {
    if (std::filesystem::exists("/dev/snd/seq")) {
        GTEST_SKIP() << "this machine has an ALSA sequencer";
    }
    QFile::remove(Settings::path());
    Form1 window{DayClock()};
    EXPECT_EQ(entries(window), QStringList({"No MIDI inputs"}));
    EXPECT_FALSE(entry(window, "No MIDI inputs")->isEnabled());
    EXPECT_FALSE(QApplication::activeModalWidget());
}

} // namespace
} // namespace tempocalc
