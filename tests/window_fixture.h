#pragma once

#include "application.h"
#include "form1.h"
#include "settings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>

// Failure messages show texts as text.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace tempocalc {

// The window under test, with a clock that reads whatever the test sets.
class WindowTest : public testing::Test {
protected:
    void SetUp() override {
        form.show();
        QApplication::setActiveWindow(&form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    }

    template <typename T> T* control(const char* name) {
        T* found = form.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QPushButton* button(const char* name) { return control<QPushButton>(name); }
    QString text(const char* name) { return control<QLineEdit>(name)->text(); }
    // The window's own focus: where the keys go while it is active, and where they
    // go again when it is activated after a message box closes.
    bool strikeHasFocus() {
        const bool focused = form.focusWidget() == button("Command1");
        // The offscreen platform has no window manager to hand activation back.
        QApplication::setActiveWindow(&form);
        form.windowHandle()->requestActivate();
        return focused && QTest::qWaitForWindowActive(&form) &&
               QApplication::focusWidget() == button("Command1");
    }

    // Presses and releases the space bar on the focused widget, reading the clock
    // at both edges.
    void tapSpace(double down, double up) {
        QWidget* target = QApplication::focusWidget();
        now = down;
        QTest::keyPress(target, Qt::Key_Space);
        now = up;
        QTest::keyRelease(target, Qt::Key_Space);
    }

    // Answers the next modal box when it opens, after handing it to inspect.
    void whenModalOpens(std::function<void(QMessageBox&)> inspect) {
        modalSeen = false;
        auto* poll = new QTimer(&form);
        QObject::connect(poll, &QTimer::timeout, poll, [this, poll, inspect] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                poll->stop();
                poll->deleteLater();
                modalSeen = true;
                inspect(*box);
                box->button(QMessageBox::Ok)->click();
            }
        });
        poll->start(10);
    }

    static void writeSettings(const QByteArray& contents) {
        QDir().mkpath(QFileInfo(Settings::path()).path());
        QFile file(Settings::path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    // Each test starts with no settings file; a test that wants one writes it first.
    struct NoSettings {
        NoSettings() { QFile::remove(Settings::path()); }
    } noSettings;
    double now = 0;
    Form1 form{[this] { return now; }};
    bool modalSeen = false;
};

} // namespace tempocalc
