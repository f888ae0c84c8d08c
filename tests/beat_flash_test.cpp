#include "beat_flash.h"
#include "number_text.h"
#include "window_fixture.h"

#include <QAction>
#include <QMenu>
#include <QSettings>

namespace tempocalc {
namespace {

class FlashWindow : public WindowTest {
protected:
    void turnOn() {
        for (QAction* a : control<QMenu>("contextMenu")->actions()) {
            if (a->text() == "Flash the beat") {
                a->trigger();
            }
        }
    }
    // Whether the strike button shows the flash at a clock reading.
    bool litAt(double reading) {
        now = reading;
        form.findChild<BeatFlash*>()->refresh();
        const QColor shown = button("Command1")->palette().color(QPalette::Button);
        EXPECT_TRUE(shown == BeatFlash::colour || shown == BeatFlash::oneColour ||
                    shown == QColor(128, 255, 128))
            << reading;
        return shown != QColor(128, 255, 128);
    }
    QColor colourAt(double reading) {
        litAt(reading);
        return button("Command1")->palette().color(QPalette::Button);
    }
    void tapAt(std::initializer_list<double> readings) {
        for (const double r : readings) {
            tapSpace(r, r + 0.01);
        }
    }
};

TEST_F(FlashWindow, LightsTheStrikeButtonOnEveryBeatOfTheTapsUntilInitialize) {
    turnOn();
    EXPECT_EQ(QSettings(Settings::path(), QSettings::IniFormat).value("beat/flash").toString(),
              "true");
    tapAt({100.0});
    EXPECT_FALSE(litAt(100.01));
    tapAt({100.5, 101.0, 101.5, 102.0, 102.5, 103.0}); // 120 BPM: 100 ms every half second
    for (const double beat : {103.0, 103.5}) {
        EXPECT_FALSE(litAt(beat - 0.001)) << beat;
        EXPECT_TRUE(litAt(beat + 0.001)) << beat;
        EXPECT_TRUE(litAt(beat + 0.099)) << beat;
        EXPECT_FALSE(litAt(beat + 0.101)) << beat;
    }
    EXPECT_TRUE(strikeHasFocus());

    // A late tap moves the beat a little after the flash began: that flash goes on, no
    // second one starts, and the next follows the new grid.
    EXPECT_TRUE(litAt(103.501));
    tapAt({103.56});
    EXPECT_TRUE(litAt(103.599));
    EXPECT_FALSE(litAt(103.605));
    // The beat is the line's, whichever method fills Ave.
    const double period = 60 / *average_value(average_text(*form.fit().tempo()));
    const double next = *form.fit().beat() + period;
    EXPECT_GT(next, 104.01);
    EXPECT_FALSE(litAt(next - 0.002));
    EXPECT_TRUE(litAt(next + 0.002));
    // Hours later, with no tap in between, still on the beat.
    const double later = next + 8000 * period;
    EXPECT_FALSE(litAt(later - 0.002));
    EXPECT_TRUE(litAt(later + 0.002));

    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    EXPECT_FALSE(litAt(later + period + 0.002));

    // No flicker at a tempo no one plays: two presses 50 ms apart are 1,200 BPM.
    tapAt({20000.0, 20000.05, 20000.1});
    EXPECT_FALSE(litAt(20000.101));
    EXPECT_FALSE(litAt(20000.151));
}

TEST_F(FlashWindow, TheOneFlashesInItsOwnColourAndMovesWhenMarked) {
    turnOn();
    tapAt({200.0, 200.5, 201.0, 201.5, 202.0}); // the first strike is the one
    EXPECT_EQ(colourAt(202.02), BeatFlash::oneColour);
    // Three beats in a bar: the one stays where it was, the bars are shorter.
    for (QAction* a : control<QMenu>("barMenu")->actions()) {
        if (a->text() == "3") {
            a->trigger();
        }
    }
    tapAt({202.5, 203.0, 203.5, 204.0});
    EXPECT_EQ(colourAt(204.02), BeatFlash::colour); // eight beats on: a one in four, not in three
    // The Return key marks the next strike as the one.
    QTest::keyClick(&form, Qt::Key_Return);
    tapAt({204.5});
    EXPECT_EQ(colourAt(204.52), BeatFlash::oneColour);
    EXPECT_EQ(colourAt(205.02), BeatFlash::colour);
    EXPECT_EQ(colourAt(205.52), BeatFlash::colour);
    EXPECT_EQ(colourAt(206.02), BeatFlash::oneColour);
    EXPECT_EQ(QSettings(Settings::path(), QSettings::IniFormat).value("beat/bar").toString(), "3");
}

TEST_F(FlashWindow, KeepsTheBeatAcrossMidnight) {
    turnOn();
    tapAt({86398.5, 86399.0, 86399.5, 0.0, 0.5});
    for (const double beat : {1.0, 3600.5}) {
        EXPECT_FALSE(litAt(beat - 0.001)) << beat;
        EXPECT_TRUE(litAt(beat + 0.001)) << beat;
    }
}

TEST_F(FlashWindow, OffByDefaultAndWhenTheSettingCannotBeRead) {
    for (const QByteArray& contents :
         {QByteArray(), QByteArray("[beat]\nflash=maybe\n"), QByteArray("[beat\nflash\n[[\n")}) {
        writeSettings(contents);
        Form1 started([this] { return now; });
        for (const double r : {10.0, 10.5, 11.0}) {
            now = r;
            started.findChild<QPushButton*>("Command1")->click();
        }
        now = 11.5 + 0.01;
        started.findChild<BeatFlash*>()->refresh();
        EXPECT_FALSE(started.findChild<BeatFlash*>()->isLit()) << contents.toStdString();
    }
}

TEST_F(FlashWindow, OnWhenTheSettingSaysSoInAPersonsWords) {
    for (const char* word : {"yes", " ON", "1", "True"}) {
        writeSettings(QByteArray("[beat]\nflash=") + word + "\n");
        Form1 started([this] { return now; });
        for (const double r : {10.0, 10.5, 11.0}) {
            now = r;
            started.findChild<QPushButton*>("Command1")->click();
        }
        now = 11.5 + 0.01;
        started.findChild<BeatFlash*>()->refresh();
        EXPECT_TRUE(started.findChild<BeatFlash*>()->isLit()) << word;
    }
}

} // namespace
} // namespace tempocalc
