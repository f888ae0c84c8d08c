#include "notice.h"
#include "number_text.h"
#include "settings_notice.h"
#include "tempo_fit.h"
#include "window_fixture.h"

#include <QAction>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScreen>

namespace tempocalc {
namespace {

QFrame* panelOf(const QWidget& window) {
    return window.findChild<QFrame*>(QStringLiteral("notices"));
}

QStringList noticesOf(const QWidget& window) {
    QStringList texts;
    for (const QLabel* line : panelOf(window)->findChildren<QLabel*>(QStringLiteral("notice"))) {
        texts << line->text();
    }
    return texts;
}

// The lines the program wrote, without the toolkit's own messages.
QStringList toldLines(const std::string& stderrText) {
    QStringList told;
    for (const QString& line : QString::fromStdString(stderrText).split('\n')) {
        if (line.startsWith("tempo-calculator: ")) {
            told << line;
        }
    }
    return told;
}

class SettingsNotices : public WindowTest {
protected:
    void TearDown() override {
        const QString folder = QFileInfo(Settings::path()).path();
        if (QFileInfo(folder).isFile()) {
            QFile::remove(folder);
        }
    }
    QAction* entry(QWidget& window, const QString& text) {
        for (QAction* a : window.findChild<QMenu*>("contextMenu")->actions()) {
            if (a->text() == text) {
                return a;
            }
        }
        ADD_FAILURE() << "no menu entry " << text.toStdString();
        return nullptr;
    }
};

TEST_F(SettingsNotices, AValueThatCannotBeReadIsOneLineAndOneNoticeAndTheOtherKeysAreRead) {
    writeSettings("[average]\nmethod=LINE\n[beat]\nflash=maybe\n");
    testing::internal::CaptureStderr();
    Form1 started([this] { return now; });
    started.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&started));
    const QStringList told = toldLines(testing::internal::GetCapturedStderr());

    EXPECT_EQ(told, QStringList{"tempo-calculator: " + Settings::path() +
                                ": beat/flash = \"maybe\" is not true or false; flash stays off"});
    EXPECT_TRUE(panelOf(started)->isVisible());
    EXPECT_EQ(noticesOf(started),
              QStringList{"The setting beat/flash = \"maybe\" in " + Settings::path() +
                          " is not true or false: it stays off."});
    EXPECT_FALSE(entry(started, "Flash the beat")->isChecked());
    EXPECT_TRUE(entry(started, "Line through the strikes")->isChecked());
    EXPECT_FALSE(QApplication::activeModalWidget());
}

TEST_F(SettingsNotices, AConfigFolderThatIsAFileIsToldOnceAndTheChoicesHold) {
    const QString folder = QFileInfo(Settings::path()).path();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    {
        QFile blocker(folder);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    testing::internal::CaptureStderr();
    QMenu* menu = control<QMenu>("contextMenu");
    for (QAction* a : menu->actions()) {
        if (a->text() == "Line through the strikes" || a->text() == "Flash the beat") {
            a->trigger();
        }
    }
    const QStringList told = toldLines(testing::internal::GetCapturedStderr());

    EXPECT_EQ(told, QStringList{"tempo-calculator: " + Settings::path() + ": cannot be written (" +
                                folder + " is in the way); choices hold until the program ends"});
    EXPECT_EQ(noticesOf(form), QStringList{"Your choices cannot be saved, as " + folder +
                                           " is in the way: they hold until the program ends."});
    EXPECT_TRUE(panelOf(form)->isVisible());
    // The line through the strikes fills Ave all the same, from uneven taps.
    TempoFit expected;
    for (const double r : {100.0, 100.52, 101.0, 101.55, 101.98}) {
        tapSpace(r, r + 0.06);
        expected.add(r, 0);
    }
    EXPECT_EQ(text("Text1").toStdString(), average_text(*expected.tempo()));
    EXPECT_TRUE(strikeHasFocus());
}

TEST_F(SettingsNotices, ANoticeLeavesTheFocusSoTheSpaceBarStrikes) {
    auto* notices = form.findChild<Notices*>();
    ASSERT_NE(notices, nullptr);
    EXPECT_TRUE(notices->show("test: focus", "Something the user should know"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panelOf(form)));
    QApplication::processEvents();
    EXPECT_EQ(QGuiApplication::focusWindow(), form.windowHandle());
    EXPECT_EQ(QApplication::activeWindow(), &form);
    // Keys go where the window system sends them: to the window that has the focus,
    // stamped a few milliseconds apart (a press at the very stamp of the release before
    // it is the key repeating).
    for (const double beat : {30.0, 30.5, 31.02}) {
        QTest::qWait(3);
        now = beat;
        QTest::keyPress(QGuiApplication::focusWindow(), Qt::Key_Space);
        QTest::qWait(3);
        now = beat + 0.08;
        QTest::keyRelease(QGuiApplication::focusWindow(), Qt::Key_Space);
    }
    EXPECT_EQ(form.state().tapcount, 3);
    EXPECT_TRUE(panelOf(form)->isVisible());
}

// Notices on a window of their own, which go after 2 s (long enough for a busy machine
// not to take them away between two lines of a test).
class NoticesOnAWindow : public testing::Test {
protected:
    void SetUp() override { window.resize(300, 100); }
    QFrame* panel() { return panelOf(window); }
    QWidget window;
    Notices* notices = new Notices(&window, std::chrono::seconds(2));
};

TEST_F(NoticesOnAWindow, WaitForTheWindowAndSayEachCauseOnce) {
    EXPECT_TRUE(notices->show("a", "First"));
    EXPECT_FALSE(panel()->isVisible());
    EXPECT_EQ(notices->texts(), QStringList{"First"});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(panel()->isVisible());
    // Under the window, off what it shows.
    EXPECT_GT(panel()->geometry().top(), window.geometry().bottom());

    EXPECT_FALSE(notices->show("a", "First, again"));
    EXPECT_TRUE(notices->show("b", "Second"));
    EXPECT_EQ(notices->texts(), QStringList({"First", "Second"}));
    QTest::mouseClick(panel(), Qt::LeftButton);
    EXPECT_FALSE(panel()->isVisible());
    EXPECT_TRUE(notices->texts().isEmpty());
    // Gone is not forgotten: the same cause stays quiet for the rest of the run.
    EXPECT_FALSE(notices->show("a", "First"));
    EXPECT_FALSE(panel()->isVisible());
}

TEST_F(NoticesOnAWindow, GoAfterTheirTimeAndStayOnOneLine) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    notices->show("long", "Your choices cannot be saved, as ~/.config/tempo-calculator is in the "
                          "way: they hold until the program ends.");
    auto* line = panel()->findChild<QLabel*>("notice");
    ASSERT_NE(line, nullptr);
    EXPECT_LT(line->height(), 2 * line->fontMetrics().lineSpacing());
    EXPECT_TRUE(panel()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !panel()->isVisible(); }, 10000));
    EXPECT_TRUE(notices->texts().isEmpty());
}

TEST_F(NoticesOnAWindow, GoOverAWindowAtTheFootOfTheScreen) {
    const QRect screen = window.screen()->availableGeometry();
    window.move(screen.left() + 40, screen.bottom() - 110);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    notices->show("a", "Near the foot of the screen");
    EXPECT_LT(panel()->geometry().bottom(), window.geometry().top());
    EXPECT_TRUE(screen.contains(panel()->geometry()));
}

TEST(SettingsNoticeText, NamesTheFileInTheUsersHome) {
    const SettingsProblem problem{SettingsProblem::Kind::notMethod,
                                  QDir::homePath() +
                                      "/.config/tempo-calculator/tempo-calculator.conf",
                                  "average/method",
                                  "median",
                                  {}};
    EXPECT_EQ(SettingsNotice::text(problem),
              "The setting average/method = \"median\" in "
              "~/.config/tempo-calculator/tempo-calculator.conf is not mean or line: Ave stays "
              "the mean of the tempos.");
}

} // namespace
} // namespace tempocalc
