#include "day_clock.h"
#include "number_text.h"
#include "version.h"
#include "window_fixture.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QTest>
#include <QTime>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace tempocalc {
namespace {

TEST_F(WindowTest, OpensWithTheStartingTextsAndTheFocusOnStrike) {
    EXPECT_EQ(form.windowTitle(), "Tempo calculator");
    EXPECT_EQ(text("Text2"), "tempo");
    EXPECT_EQ(text("Text1"), "average");
    EXPECT_EQ(text("Text3"), "1/4 note");
    EXPECT_TRUE(strikeHasFocus());
    EXPECT_EQ(form.state(), TempoState{});
}

TEST_F(WindowTest, IsLaidOutInTwipsAtFifteenToThePixel) {
    EXPECT_EQ(form.size(), QSize(268, 121));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    const struct {
        const char* name;
        QRect pixels;
    } table[] = {
        {"Command1", {16, 56, 233, 33}}, {"Text2", {88, 8, 57, 18}},
        {"Label1", {16, 8, 81, 17}},     {"Command2", {16, 32, 105, 17}},
        {"Text3", {128, 32, 121, 18}},   {"Command3", {88, 96, 161, 17}},
        {"Text1", {192, 8, 57, 18}},     {"Label2", {152, 8, 41, 17}},
        {"Command4", {16, 96, 65, 17}},
    };
    for (const auto& row : table) {
        EXPECT_EQ(control<QWidget>(row.name)->geometry(), row.pixels) << row.name;
    }
}

TEST_F(WindowTest, TabsThroughTheControlsInOrder) {
    QStringList order;
    QWidget* w = button("Command1");
    for (int i = 0; i < 6; ++i) {
        order << w->objectName();
        w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus)) {
            w = w->nextInFocusChain();
        }
    }
    EXPECT_EQ(order, QStringList({"Command1", "Text2", "Command2", "Text3", "Command3", "Text1"}));
    EXPECT_EQ(w->objectName(), "Command4");
}

TEST_F(WindowTest, EveryCaptionFitsItsControl) {
    for (QPushButton* b : form.findChildren<QPushButton*>()) {
        QStyleOptionButton option;
        option.initFrom(b);
        option.text = b->text();
        const QRect room = b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b);
        const QRect ink = b->fontMetrics().boundingRect(room, Qt::AlignCenter, b->text());
        EXPECT_TRUE(room.contains(ink)) << b->objectName().toStdString();
    }
    for (QLineEdit* e : form.findChildren<QLineEdit*>()) {
        QStyleOptionFrame option;
        option.initFrom(e);
        option.lineWidth = e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, e);
        const QRect room = e->style()->subElementRect(QStyle::SE_LineEditContents, &option, e);
        EXPECT_GE(room.height(), e->fontMetrics().height()) << e->objectName().toStdString();
    }
    // The captions end where the text boxes drawn over them begin.
    const QRect tempoInk = control<QLabel>("Label1")->fontMetrics().tightBoundingRect("Tempo");
    EXPECT_LE(tempoInk.width(), control<QWidget>("Text2")->x() - control<QWidget>("Label1")->x());
    const QRect aveInk = control<QLabel>("Label2")->fontMetrics().tightBoundingRect("Ave");
    EXPECT_LE(aveInk.width(), control<QWidget>("Text1")->x() - control<QWidget>("Label2")->x());
    EXPECT_LE(tempoInk.height(), control<QWidget>("Label1")->height());
}

TEST_F(WindowTest, ShowsItsColours) {
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(255, 224, 192));
    EXPECT_EQ(button("Command1")->palette().color(QPalette::Button), QColor(128, 255, 128));
    EXPECT_EQ(control<QLabel>("Label1")->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_TRUE(control<QLabel>("Label2")->font().bold());
    EXPECT_EQ(control<QLabel>("Label2")->font().pointSize(), 12);
}

TEST_F(WindowTest, SpaceBarStrikesWithTheEngineTexts) {
    TempoState expected;
    const std::string separator = QLocale::system().decimalPoint().toStdString();
    for (const double beat : {100.0, 100.5, 101.0, 101.7}) {
        tapSpace(beat, beat + 0.08);
        Shown shown;
        strike(expected, beat, shown, separator);
        EXPECT_EQ(text("Text2").toStdString(), *shown.text2);
        EXPECT_EQ(text("Text1").toStdString(), *shown.text1);
    }
    EXPECT_EQ(text("Text2"), " 85.714");
    EXPECT_EQ(form.state(), expected);
    EXPECT_TRUE(strikeHasFocus());
}

TEST_F(WindowTest, MeasuresFromTheMomentTheKeyWentDown) {
    // Held for very different times: only the presses count.
    tapSpace(10.0, 10.4);
    tapSpace(10.5, 10.52);
    tapSpace(11.0, 11.45);
    EXPECT_EQ(form.state().curtime, 11.0);
    EXPECT_EQ(text("Text2"), " 120");
    EXPECT_EQ(text("Text1").left(3), "120");
}

TEST_F(WindowTest, MouseClickMeasuresFromTheButtonGoingDown) {
    now = 20.0;
    QTest::mousePress(button("Command1"), Qt::LeftButton);
    now = 20.3;
    QTest::mouseRelease(button("Command1"), Qt::LeftButton);
    EXPECT_EQ(form.state().curtime, 20.0);
    EXPECT_EQ(form.state().tapcount, 1);
}

TEST_F(WindowTest, ClickWithNoPressEventBehindItReadsTheClockThen) {
    now = 7.0;
    button("Command1")->click();
    EXPECT_EQ(form.state().curtime, 7.0);
    // A screen reader's press action goes down at once and clicks a moment later.
    now = 7.5;
    QAccessible::queryAccessibleInterface(button("Command1"))
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::pressAction());
    now = 9.0;
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.state().tapcount == 2; }));
    EXPECT_EQ(form.state().curtime, 7.5);
    EXPECT_EQ(text("Text2"), " 120");
}

TEST_F(WindowTest, HoldingTheSpaceBarStrikesOnce) {
    QWidget* strikeButton = button("Command1");
    now = 30.0;
    QTest::keyPress(strikeButton, Qt::Key_Space);
    for (int i = 0; i < 10; ++i) {
        now += 0.03;
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "),
                         true);
        QApplication::sendEvent(strikeButton, &repeat);
    }
    QTest::keyRelease(strikeButton, Qt::Key_Space);
    EXPECT_EQ(form.state().tapcount, 1);
    EXPECT_EQ(form.state().curtime, 30.0);
}

TEST_F(WindowTest, NoteToggleCyclesAndGivesTheFocusBack) {
    const QStringList expected{"1/8 note", "1/12 note", "1/4 note"};
    for (const QString& note : expected) {
        QTest::mouseClick(button("Command2"), Qt::LeftButton);
        EXPECT_EQ(text("Text3"), note);
        EXPECT_TRUE(strikeHasFocus());
    }
    // Eighth notes: a strike 0.5 s after the previous one is 60 quarter-note beats.
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    tapSpace(40.0, 40.1);
    tapSpace(40.5, 40.6);
    EXPECT_EQ(text("Text2"), " 60");
}

TEST_F(WindowTest, InitializeReturnsToTheStartAndGivesTheFocusBack) {
    tapSpace(50.0, 50.1);
    tapSpace(50.5, 50.6);
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    EXPECT_EQ(text("Text2"), "tempo");
    EXPECT_EQ(text("Text1"), "average");
    EXPECT_EQ(text("Text3"), "1/4 note");
    EXPECT_EQ(form.state(), TempoState{});
    EXPECT_TRUE(strikeHasFocus());
}

TEST_F(WindowTest, AboutBoxShowsTheVersionAndGivesTheFocusBack) {
    QString title, body;
    QMessageBox::Icon icon = QMessageBox::Critical;
    int buttons = 0;
    whenModalOpens([&](QMessageBox& box) {
        title = box.windowTitle();
        body = box.text();
        icon = box.icon();
        buttons = static_cast<int>(box.buttons().size());
    });
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    ASSERT_TRUE(modalSeen);
    EXPECT_EQ(title, "ver 1.0");
    EXPECT_EQ(QStringLiteral(TEMPOCALC_VERSION), "1.0");
    EXPECT_TRUE(body.startsWith("English version / programmer : lurano #mail : "));
    EXPECT_TRUE(body.contains("@example.org  Special thanks : "));
    EXPECT_FALSE(body.contains('\n'));
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(buttons, 1);
    EXPECT_TRUE(strikeHasFocus());
}

TEST_F(WindowTest, RunTimeErrorIsReportedAndTheWindowGoesOn) {
    tapSpace(60.0, 60.1);
    tapSpace(60.5, 60.6);
    QString title, body;
    whenModalOpens([&](QMessageBox& box) {
        title = box.windowTitle();
        body = box.text();
    });
    tapSpace(60.5, 60.7); // the same instant again: a division by zero
    ASSERT_TRUE(modalSeen);
    EXPECT_EQ(title, "Tempo calculator");
    EXPECT_TRUE(body.startsWith("Run-time error '11':")) << body.toStdString();
    EXPECT_TRUE(body.endsWith("Division by zero")) << body.toStdString();
    EXPECT_EQ(text("Text2"), " 120"); // nothing was shown for the failed strike
    EXPECT_TRUE(strikeHasFocus());

    tapSpace(61.0, 61.1);
    EXPECT_EQ(text("Text2"), " 120");
    EXPECT_EQ(form.state().tapcount, 3);
}

TEST_F(WindowTest, TypingIntoABoxChangesNothingUntilTheNextStrike) {
    tapSpace(70.0, 70.1);
    tapSpace(70.5, 70.6);
    const TempoState before = form.state();
    QLineEdit* tempoBox = control<QLineEdit>("Text2");
    QTest::mouseClick(tempoBox, Qt::LeftButton);
    QTest::keyClicks(tempoBox, " 999 ");
    EXPECT_TRUE(text("Text2").contains("999"));
    EXPECT_EQ(form.state(), before);

    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    EXPECT_EQ(form.state().tapcount, 3);
    EXPECT_FALSE(text("Text2").contains("999"));
}

TEST_F(WindowTest, ScreenReadersHearTheBoxesByName) {
    const struct {
        const char* box;
        const char* name;
    } boxes[] = {{"Text2", "Tempo"}, {"Text1", "Average"}, {"Text3", "Note value"}};
    tapSpace(80.0, 80.1);
    for (const auto& b : boxes) {
        QAccessibleInterface* access =
            QAccessible::queryAccessibleInterface(control<QWidget>(b.box));
        ASSERT_NE(access, nullptr);
        EXPECT_EQ(access->text(QAccessible::Name), b.name);
        EXPECT_EQ(access->text(QAccessible::Value), text(b.box));
    }
    QAccessibleInterface* strikeAccess = QAccessible::queryAccessibleInterface(button("Command1"));
    EXPECT_EQ(strikeAccess->text(QAccessible::Name), "Strike the spacebar with the music!");
}

TEST(ApplicationIcon, HoldsTheIconGroupAndTheScalableArtwork) {
    const QList<QSize> sizes = applicationIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_FALSE(QApplication::windowIcon().isNull());
    const struct {
        const char* file;
        int side;
        int colours;
    } images[] = {{":/icons/tempo-32-monochrome.png", 32, 2},
                  {":/icons/tempo-32-16colours.png", 32, 16},
                  {":/icons/tempo-16-16colours.png", 16, 16}};
    for (const auto& image : images) {
        const QImage loaded(QString::fromLatin1(image.file));
        EXPECT_EQ(loaded.size(), QSize(image.side, image.side)) << image.file;
        EXPECT_GT(loaded.colorCount(), 1) << image.file;
        EXPECT_LE(loaded.colorCount(), image.colours) << image.file;
    }
    QFile artwork(QStringLiteral(":/icons/org.example.TempoCalculator.svg"));
    ASSERT_TRUE(artwork.open(QIODevice::ReadOnly));
    EXPECT_TRUE(artwork.readAll().contains("<svg"));
}

TEST(DayClock, ReadsTheLocalTimeOfDayFinelyAndSteadily) {
    const DayClock clock;
    const double first = clock();
    const double wall = QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
    const double apart = std::fabs(first - wall);
    EXPECT_LT(std::min(apart, seconds_per_day - apart), 0.5);

    // Successive readings never go back (but at midnight) and resolve well below a millisecond.
    double previous = clock();
    double finestStep = 1.0;
    for (int i = 0; i < 100000 && finestStep >= 1e-4; ++i) {
        const double next = clock();
        ASSERT_TRUE(next >= previous || previous - next > seconds_per_day - 1.0);
        ASSERT_GE(next, 0.0);
        ASSERT_LT(next, seconds_per_day);
        if (next > previous) {
            finestStep = std::min(finestStep, next - previous);
        }
        previous = next;
    }
    EXPECT_LT(finestStep, 1e-4);
}

// Run by CTest with LC_ALL=de_DE.UTF-8 only.
TEST_F(WindowTest, DISABLED_GermanRegionalSettingsPutACommaInTheAverage) {
    tapSpace(90.0, 90.1);
    tapSpace(90.7, 90.8);
    EXPECT_EQ(text("Text1"), "85,714");
    EXPECT_EQ(text("Text2"), " 85.714");
}

} // namespace
} // namespace tempocalc
