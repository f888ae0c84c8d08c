#include "beat_flash.h"
#include "day_clock.h"
#include "number_text.h"
#include "version.h"
#include "window_fixture.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QFontInfo>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QTest>
#include <QTime>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <string_view>
#include <utility>

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

TEST_F(WindowTest, StrikeButtonTellsOfTheMenu) {
    EXPECT_EQ(button("Command1")->toolTip(), "Press the space bar on every beat. Right-click, the "
                                             "Menu key or Shift+F10 opens the options.");
}

TEST_F(WindowTest, LaysOutFourRowsWithoutOverlapAndOneRightEdge) {
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    QList<QWidget*> controls = form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    controls.removeIf([](QWidget* w) { return !w->isVisible(); });
    ASSERT_EQ(controls.size(), 9);
    for (QWidget* c : controls) {
        EXPECT_TRUE(form.rect().contains(c->geometry())) << c->objectName().toStdString();
    }
    // Only a caption lies under a box, which is drawn over it.
    const std::pair<QString, QString> underBoxes[] = {{"Label1", "Text2"}, {"Label2", "Text1"}};
    const auto captionUnder = [&](QWidget* a, QWidget* b) {
        return std::find(std::begin(underBoxes), std::end(underBoxes),
                         std::pair{a->objectName(), b->objectName()}) != std::end(underBoxes);
    };
    for (QWidget* a : controls) {
        for (QWidget* b : controls) {
            if (a != b && a->geometry().intersects(b->geometry())) {
                EXPECT_TRUE(captionUnder(a, b) || captionUnder(b, a))
                    << a->objectName().toStdString() << " overlaps "
                    << b->objectName().toStdString();
            }
        }
    }
    for (const auto& [label, box] : underBoxes) {
        // Later siblings are drawn on top.
        EXPECT_GT(controls.indexOf(control<QWidget>(qPrintable(box))),
                  controls.indexOf(control<QWidget>(qPrintable(label))));
    }
    const int rightEdge = control<QWidget>("Text1")->geometry().right();
    for (const char* name : {"Text3", "Command1", "Command3"}) {
        EXPECT_EQ(control<QWidget>(name)->geometry().right(), rightEdge) << name;
    }
    // Top to bottom: the two boxes, the note value, the strike button, the last buttons.
    const QStringList rows[] = {{"Label1", "Text2", "Label2", "Text1"},
                                {"Command2", "Text3"},
                                {"Command1"},
                                {"Command4", "Command3"}};
    int above = -1;
    for (const QStringList& row : rows) {
        int bottom = 0;
        for (const QString& name : row) {
            const QRect r = control<QWidget>(qPrintable(name))->geometry();
            EXPECT_GT(r.top(), above) << name.toStdString();
            bottom = std::max(bottom, r.bottom());
        }
        above = bottom;
    }
    EXPECT_GT(button("Command1")->height(), 1.8 * button("Command2")->height());
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

// The window built in each of its languages.
class WindowInLanguage : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (std::string_view(GetParam()) != "en") {
            ASSERT_TRUE(loadTranslations(QLocale(QString::fromLatin1(GetParam())), ours, qts));
            QCoreApplication::installTranslator(&ours);
            QCoreApplication::installTranslator(&qts);
        }
        form = std::make_unique<Form1>([] { return 0.0; });
        form->show();
    }
    void TearDown() override {
        form.reset();
        QCoreApplication::removeTranslator(&ours);
        QCoreApplication::removeTranslator(&qts);
    }
    QTranslator ours, qts;
    std::unique_ptr<Form1> form;
};

TEST_P(WindowInLanguage, EveryCaptionFitsItsControl) {
    for (QPushButton* b : form->findChildren<QPushButton*>()) {
        QStyleOptionButton option;
        option.initFrom(b);
        option.text = b->text();
        const QRect room = b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b);
        const QRect ink = b->fontMetrics().boundingRect(room, Qt::AlignCenter, b->text());
        EXPECT_TRUE(room.contains(ink)) << b->text().toStdString();
    }
    for (QLineEdit* e : form->findChildren<QLineEdit*>()) {
        QStyleOptionFrame option;
        option.initFrom(e);
        option.lineWidth = e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, e);
        const QRect room = e->style()->subElementRect(QStyle::SE_LineEditContents, &option, e);
        EXPECT_GE(room.height(), e->fontMetrics().height()) << e->objectName().toStdString();
        EXPECT_LE(e->fontMetrics().horizontalAdvance(e->text()), room.width())
            << e->text().toStdString();
    }
    // The captions end where the text boxes drawn over them begin.
    for (const auto& [label, box] : {std::pair{"Label1", "Text2"}, std::pair{"Label2", "Text1"}}) {
        auto* caption = form->findChild<QLabel*>(QString::fromLatin1(label));
        auto* covering = form->findChild<QWidget*>(QString::fromLatin1(box));
        const QRect ink = caption->fontMetrics().tightBoundingRect(caption->text());
        EXPECT_LE(ink.width(), covering->x() - caption->x()) << caption->text().toStdString();
        EXPECT_LE(ink.height(), caption->height()) << caption->text().toStdString();
    }
}

TEST_P(WindowInLanguage, AboutTextStaysOnOneLineOnAnOrdinaryScreen) {
    bool seen = false;
    QTimer::singleShot(0, form.get(), [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        auto* text = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        ASSERT_NE(text, nullptr);
        seen = true;
        // A window system lays the box out again once it is mapped.
        QEvent relayout(QEvent::LayoutRequest);
        QApplication::sendEvent(box, &relayout);
        EXPECT_LT(text->height(), 2 * text->fontMetrics().lineSpacing())
            << text->text().toStdString();
        EXPECT_GE(text->width(), text->fontMetrics().horizontalAdvance(text->text()));
        EXPECT_LE(box->frameGeometry().width(), box->screen()->availableGeometry().width());
        box->button(QMessageBox::Ok)->click();
    });
    form->findChild<QPushButton*>(QStringLiteral("Command3"))->click();
    EXPECT_TRUE(seen);
}

INSTANTIATE_TEST_SUITE_P(Languages, WindowInLanguage, testing::Values("en", "de", "ko"),
                         [](const auto& info) { return std::string(info.param); });

// Relative luminance and contrast ratio as the Web Content Accessibility Guidelines
// define them.
double luminance(QColor c) {
    const auto linear = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double contrast(QColor a, QColor b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// How the text in an area of the picture stands out: the colour that covers most of
// the area is the background, and the ink is the pixel farthest from it.
double inkContrast(const QImage& image, const QRect& area) {
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    QRgb background = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    }
    double best = 1.0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        best = std::max(best, contrast(QColor(background), QColor(it.key())));
    }
    return best;
}

QPalette darkPalette() {
    QPalette dark;
    const QColor window(45, 45, 48), base(30, 30, 30), light(240, 240, 240);
    for (const auto role : {QPalette::Window, QPalette::Button}) {
        dark.setColor(role, window);
    }
    for (const auto role : {QPalette::Base, QPalette::AlternateBase, QPalette::ToolTipBase}) {
        dark.setColor(role, base);
    }
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText,
                            QPalette::ToolTipText, QPalette::BrightText}) {
        dark.setColor(role, light);
    }
    dark.setColor(QPalette::Light, window.lighter(150));
    dark.setColor(QPalette::Midlight, window.lighter(125));
    dark.setColor(QPalette::Mid, window.darker(120));
    dark.setColor(QPalette::Dark, window.darker(150));
    dark.setColor(QPalette::Shadow, Qt::black);
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    return dark;
}

class WindowInTheme : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        saved = QApplication::palette();
        if (GetParam()) {
            QApplication::setPalette(darkPalette());
        }
        Settings::load().setFlash(true);
        form = std::make_unique<Form1>([this] { return now; });
        form->show();
    }
    void TearDown() override {
        form.reset();
        QFile::remove(Settings::path());
        QApplication::setPalette(saved);
    }
    QPalette saved;
    double now = 0;
    std::unique_ptr<Form1> form;
};

TEST_P(WindowInTheme, EveryTextStandsOutFromItsBackgroundAlsoInTheFlash) {
    const auto checkAll = [&](const char* when) {
        const QImage picture = form->grab().toImage();
        const auto check = [&](QWidget* w, const QRect& area) {
            EXPECT_GE(inkContrast(picture, area), 4.5) << w->objectName().toStdString() << when;
        };
        for (QPushButton* b : form->findChildren<QPushButton*>()) {
            QStyleOptionButton option;
            option.initFrom(b);
            const QRect room =
                b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b);
            check(b, b->fontMetrics()
                         .boundingRect(room, Qt::AlignCenter, b->text())
                         .translated(b->pos()));
        }
        for (QLineEdit* e : form->findChildren<QLineEdit*>()) {
            check(e, e->geometry().adjusted(3, 3, -3, -3));
        }
        for (const auto& [label, box] :
             {std::pair{"Label1", "Text2"}, std::pair{"Label2", "Text1"}}) {
            auto* caption = form->findChild<QLabel*>(QString::fromLatin1(label));
            QRect visible = caption->geometry();
            visible.setRight(form->findChild<QWidget*>(QString::fromLatin1(box))->x() - 1);
            check(caption, visible);
        }
    };
    checkAll("");
    for (const double r : {10.0, 10.5, 11.0}) {
        form->strikeAt(r);
    }
    now = 11.5 + 0.01;
    auto* flash = form->findChild<BeatFlash*>();
    flash->refresh();
    ASSERT_TRUE(flash->isLit());
    checkAll(" in the flash");
    now = 12.0 + 0.01; // the first strike's beat, a bar on: the one, in its own colour
    flash->refresh();
    ASSERT_EQ(form->findChild<QPushButton*>("Command1")->palette().color(QPalette::Button),
              BeatFlash::oneColour);
    checkAll(" in the one's flash");
}

INSTANTIATE_TEST_SUITE_P(LightAndDark, WindowInTheme, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Dark" : "Light"; });

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

TEST_F(WindowTest, KeyPressArrivingLateIsReadAtItsTimestamp) {
    // Two presses on time teach the offset between the stamps (ms) and the clock; the
    // third reaches the button 30 ms after its stamp, within a millisecond after it.
    const struct {
        double arrival;
        quint64 stampMs;
    } presses[] = {{100.0, 5000}, {100.5, 5500}, {101.030, 6000}};
    for (const auto& p : presses) {
        now = p.arrival;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        press.setTimestamp(p.stampMs);
        QCoreApplication::sendEvent(button("Command1"), &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        release.setTimestamp(p.stampMs + 80);
        QCoreApplication::sendEvent(button("Command1"), &release);
    }
    EXPECT_EQ(form.state().tapcount, 3);
    EXPECT_NEAR(form.state().curtime, 101.001, 1e-9);
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

// Sends the strike button a key or mouse event stamped in milliseconds, reading the clock
// at arrival.
class StampedStrikeTest : public WindowTest {
protected:
    void key(QEvent::Type type, Qt::Key which, quint64 stampMs, double arrival) {
        now = arrival;
        QKeyEvent event(type, which, Qt::NoModifier,
                        which == Qt::Key_Space ? QStringLiteral(" ") : QString());
        event.setTimestamp(stampMs);
        QApplication::sendEvent(button("Command1"), &event);
    }
    void mouse(QEvent::Type type, quint64 stampMs, double arrival) {
        now = arrival;
        QWidget* target = button("Command1");
        const QPointF at = QRectF(target->rect()).center();
        QMouseEvent event(type, at, target->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                          Qt::NoModifier);
        event.setTimestamp(stampMs);
        QApplication::sendEvent(target, &event);
    }
};

// X sends a held key's repeats as a release and a press with one stamp; on a busy machine
// they reach the window apart, and Qt does not mark them as repeats.
TEST_F(StampedStrikeTest, HeldSpaceBarWhoseRepeatsArriveApartStrikesOnce) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> delay(0.0002, 0.040);
    key(QEvent::KeyPress, Qt::Key_Space, 40'000, 40.0);
    quint64 stamp = 40'500;
    for (int i = 0; i < 30; ++i, stamp += 33) {
        const double due = std::max(now, static_cast<double>(stamp) / 1000);
        key(QEvent::KeyRelease, Qt::Key_Space, stamp, due + delay(random));
        key(QEvent::KeyPress, Qt::Key_Space, stamp, now + delay(random));
    }
    key(QEvent::KeyRelease, Qt::Key_Space, stamp + 12, static_cast<double>(stamp + 12) / 1000);
    EXPECT_EQ(form.state().tapcount, 1);
    EXPECT_EQ(form.state().curtime, 40.0);

    // The next press has a stamp of its own.
    key(QEvent::KeyPress, Qt::Key_Space, 42'000, 42.0);
    key(QEvent::KeyRelease, Qt::Key_Space, 42'080, 42.08);
    EXPECT_EQ(form.state().tapcount, 2);
    EXPECT_DOUBLE_EQ(form.state().curtime, 42.0);
}

TEST_F(StampedStrikeTest, PressAtTheInstantOfAnotherReleaseStrikes) {
    key(QEvent::KeyPress, Qt::Key_Space, 50'000, 50.0);
    key(QEvent::KeyRelease, Qt::Key_Space, 50'080, 50.08);
    ASSERT_EQ(form.state().tapcount, 1);

    // Another key let go as the space bar goes down.
    key(QEvent::KeyPress, Qt::Key_A, 50'300, 50.3);
    key(QEvent::KeyRelease, Qt::Key_A, 50'500, 50.5);
    key(QEvent::KeyPress, Qt::Key_Space, 50'500, 50.5);
    key(QEvent::KeyRelease, Qt::Key_Space, 51'000, 51.0);
    EXPECT_EQ(form.state().tapcount, 2);

    // A mouse press is no key, whatever its stamp.
    mouse(QEvent::MouseButtonPress, 51'000, 51.0);
    mouse(QEvent::MouseButtonRelease, 51'080, 51.08);
    EXPECT_EQ(form.state().tapcount, 3);
    EXPECT_EQ(text("Text2"), " 120");
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
    EXPECT_EQ(title, "ver " TEMPOCALC_VERSION);
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

TEST(DayClock, StartsAgainAtZeroAtMidnight) {
    const DayClock clock(seconds_per_day - 0.05);
    double reading = clock();
    EXPECT_GE(reading, seconds_per_day - 0.05);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        reading = clock();
        return reading < 1.0;
    }));
    EXPECT_GE(reading, 0.0);
}

} // namespace
} // namespace tempocalc
