#include "number_text.h"
#include "options_menu.h"
#include "tempo_fit.h"
#include "window_fixture.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QRegularExpression>
#include <QSettings>

#include <functional>

namespace tempocalc {
namespace {

class WindowMenu : public WindowTest {
protected:
    QMenu* menu() { return control<QMenu>("contextMenu"); }
    QAction* action(const QString& text) {
        for (QAction* a : menu()->actions()) {
            if (a->text() == text) {
                return a;
            }
        }
        ADD_FAILURE() << "no menu entry " << text.toStdString();
        return nullptr;
    }
    // Opens the menu as open does, reads its entries and closes it with Escape.
    QStringList entriesWhenOpened(const std::function<void()>& open) {
        QStringList entries;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &form, [&] {
            if (auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                poll.stop();
                for (QAction* a : popup->actions()) {
                    entries << (a->isSeparator() ? QStringLiteral("-") : a->text());
                }
                popup->close();
            }
        });
        poll.start(10);
        open();
        QTest::qWait(50); // a menu that opens late closes before the next test
        return entries;
    }
    void tapAt(std::initializer_list<double> readings) {
        for (const double r : readings) {
            tapSpace(r, r + 0.05);
        }
    }
    QString settingsValue() {
        return QSettings(Settings::path(), QSettings::IniFormat).value("average/method").toString();
    }
};

TEST_F(WindowMenu, OpensByMouseMenuKeyAndShiftF10AndGivesTheFocusBack) {
    QStringList expected{
        "Mean of the tempos", "Line through the strikes", "-",           "Copy average", "-",
        "Flash the beat",     "Beats in a bar",           "Mark the one"};
#if TEMPOCALC_HAVE_JACK
    expected << "Send MIDI clock (JACK)"
             << "Click on the beat (JACK)";
#if TEMPOCALC_HAVE_LISTEN_JACK
    expected << "Listen on JACK";
#endif
#endif
    expected << "-";
#if TEMPOCALC_HAVE_LINK
    expected << "Share tempo with Link"
             << "Put Link's beats on the taps";
#endif
#if TEMPOCALC_HAVE_MIDI
    expected << "Tap from MIDI";
#endif
    const std::function<void()> ways[] = {
        [&] { QTest::mouseClick(form.windowHandle(), Qt::RightButton, {}, QPoint(130, 115)); },
        [&] { QTest::mouseClick(form.windowHandle(), Qt::RightButton, {}, QPoint(100, 15)); },
        [&] { // the Menu key, as the X11 platform delivers it to the focused widget
            QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(), QPoint());
            QApplication::sendEvent(QApplication::focusWidget(), &menuKey);
        },
        [&] { QTest::keyClick(form.windowHandle(), Qt::Key_F10, Qt::ShiftModifier); },
    };
    // --help lists the same entries.
    QStringList entries = expected;
    entries.removeAll("-");
    EXPECT_EQ(OptionsMenu::entryNames(), entries);
    int way = 0;
    for (const auto& open : ways) {
        EXPECT_EQ(entriesWhenOpened(open), expected) << "way " << way;
        EXPECT_TRUE(strikeHasFocus()) << "way " << way;
        ++way;
    }
    EXPECT_TRUE(action("Mean of the tempos")->isChecked());
}

TEST_F(WindowMenu, SwitchingTheMethodShowsTheOtherEstimateAtOnceAndIsKept) {
    tapAt({100.0, 100.52, 101.0, 101.55, 102.0});
    const QString mean = text("Text1");
    TempoFit expected;
    for (const double r : {100.0, 100.52, 101.0, 101.55, 102.0}) {
        expected.add(r, 0);
    }
    action("Line through the strikes")->trigger();
    EXPECT_EQ(text("Text1").toStdString(), average_text(*expected.tempo()));
    EXPECT_EQ(settingsValue(), "line");
    EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d\\d ± \\d+\\.\\d\\d BPM over 5 strikes$")
                    .match(control<QLineEdit>("Text1")->toolTip())
                    .hasMatch())
        << control<QLineEdit>("Text1")->toolTip().toStdString();
    EXPECT_EQ(control<QLineEdit>("Text1")->accessibleDescription(),
              control<QLineEdit>("Text1")->toolTip());

    action("Mean of the tempos")->trigger();
    EXPECT_EQ(text("Text1"), mean);
    EXPECT_EQ(settingsValue(), "mean");
    EXPECT_TRUE(control<QLineEdit>("Text1")->toolTip().startsWith("Mean of the tempos: "));
}

TEST_F(WindowMenu, LineIsReadFromTheSettingsAndFillsAveFromTheSecondStrike) {
    writeSettings("[average]\nmethod=line\n");
    Form1 started([this] { return now; });
    auto* box = started.findChild<QLineEdit*>("Text1");
    auto* strike = started.findChild<QPushButton*>("Command1");
    const auto tap = [&](double at) {
        now = at;
        strike->click();
    };
    tap(200.0);
    EXPECT_EQ(box->text(), "0.");
    tap(200.5);
    tap(201.1);
    EXPECT_EQ(box->text().toStdString(), average_text(*started.fit().tempo()));
    EXPECT_EQ(started.fit().strikes(), 3);
    // initialize forgets the line with everything else.
    QTest::mouseClick(started.findChild<QPushButton*>("Command4"), Qt::LeftButton);
    tap(300.0);
    tap(300.4);
    EXPECT_EQ(box->text(), "150.");
}

TEST_F(WindowMenu, UnknownOrCorruptSettingsMeanTheMeanWithoutAMessageBox) {
    const QByteArray files[] = {"[average]\nmethod=sideways\n", "\xff\xfe[[average\n=\x01",
                                "[average]\nmethod=\n"};
    for (const QByteArray& contents : files) {
        writeSettings(contents);
        Form1 started([] { return 0.0; });
        EXPECT_FALSE(QApplication::activeModalWidget());
        const auto entries = started.findChild<QMenu*>("contextMenu")->actions();
        EXPECT_TRUE(entries[0]->isChecked()) << contents.toStdString();
    }
}

TEST_F(WindowMenu, AveTooltipSaysWhatEveryStrikeMade) {
    tapAt({10.0, 10.5, 11.0});
    const auto* box = control<QLineEdit>("Text1");
    EXPECT_EQ(box->toolTip(), "Mean of the tempos: 120.000 BPM (intervals: 2)");
    tapAt({11.6});
    // The beat that goes out is the line's; where the mean reads otherwise, it says so.
    EXPECT_EQ(box->toolTip(), "Mean of the tempos: 113.333 BPM (intervals: 3)\n"
                              "The beat goes on at 113.208 BPM (the line through the strikes)");
    EXPECT_EQ(box->accessibleDescription(), box->toolTip());
}

TEST_F(WindowMenu, AveTooltipSaysWhereInItsBarTheBeatIsAsItShows) {
    tapAt({10.0, 10.5, 11.0}); // the first strike is the one
    auto* box = control<QLineEdit>("Text1");
    const auto shown = [&](double reading) {
        now = reading;
        QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), box->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(box, &hover);
        return box->toolTip();
    };
    EXPECT_TRUE(shown(12.01).endsWith("\nbeat 1 of 4")) << shown(12.01).toStdString();
    EXPECT_TRUE(shown(12.52).endsWith("\nbeat 2 of 4")) << shown(12.52).toStdString();
    EXPECT_TRUE(shown(13.24).endsWith("\nbeat 3 of 4")) << shown(13.24).toStdString();
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    EXPECT_FALSE(shown(14.0).contains("beat ")) << "no bar without a grid";
}

TEST_F(WindowMenu, EachChoiceIsWrittenAloneSoThatTwoWindowsKeepBoth) {
    Settings other = Settings::load(); // another window's, read at its start
    action("Line through the strikes")->trigger();
    other.setMidiMessage("note 1 60"); // a choice made there afterwards
    const Settings both = Settings::load();
    EXPECT_EQ(both.average, AverageMethod::line);
    EXPECT_EQ(both.midiMessage, "note 1 60");
}

TEST_F(WindowMenu, ADamagedLineLosesOnlyWhatItHeld) {
    writeSettings("[link]\nenabled=true\n[average\nmethod=line\n\x01\xff=\n"
                  "[midi]\nport=pedal:out\napi=jack\n");
    Settings read = Settings::load();
    EXPECT_TRUE(read.link);
    EXPECT_EQ(read.average, AverageMethod::line);
    EXPECT_EQ(read.midiPort, "pedal:out");
    read.setAverage(AverageMethod::mean);
    const Settings again = Settings::load();
    EXPECT_EQ(again.average, AverageMethod::mean);
    EXPECT_TRUE(again.link);
    EXPECT_EQ(again.midiPort, "pedal:out");
    EXPECT_EQ(again.midiApi, "jack");
}

TEST_F(WindowMenu, SettingsThatCannotBeWrittenChangeNothingElse) {
    QDir().mkpath(Settings::path()); // a folder where the file should be
    tapAt({10.0, 10.5, 11.0});
    action("Line through the strikes")->trigger();
    EXPECT_EQ(text("Text1"), "120.");
    QDir().rmdir(Settings::path());
}

TEST_F(WindowMenu, CtrlCCopiesTheAverageWithTheFocusOnStrike) {
    tapAt({50.0, 50.7});
    QApplication::clipboard()->clear();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), text("Text1"));
    EXPECT_EQ(QApplication::clipboard()->text(), "85.714");
    EXPECT_TRUE(strikeHasFocus());
}

} // namespace
} // namespace tempocalc
