#include "window_fixture.h"

#include <QFontInfo>
#include <QLabel>

namespace tempocalc {
namespace {

// Run with LC_ALL=de_DE.UTF-8.
using GermanWindow = WindowTest;

TEST_F(GermanWindow, SpeaksGermanAndPutsACommaInTheAverage) {
    EXPECT_EQ(button("Command1")->text(), "Schlag die Leertaste im Takt der Musik!");
    EXPECT_EQ(text("Text3"), "1/4-Note");
    tapSpace(90.0, 90.1);
    tapSpace(90.7, 90.8);
    EXPECT_EQ(text("Text1"), "85,714");
    EXPECT_EQ(text("Text2"), " 85.714");
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    EXPECT_EQ(text("Text3"), "1/8-Note");
}

// Run with LC_ALL=ko_KR.UTF-8.
using KoreanWindow = WindowTest;

TEST_F(KoreanWindow, SpeaksKoreanInTheHangulFontsItAsksFor) {
    EXPECT_EQ(form.windowTitle(), "템포 계산기");
    EXPECT_EQ(text("Text1"), "평균");
    for (const char* name : {"Label1", "Label2"}) {
        auto* caption = control<QLabel>(name);
        // The family as this locale names it.
        EXPECT_EQ(QFontInfo(caption->font()).family(),
                  QFontInfo(QFont(QStringLiteral("NanumGothic"))).family())
            << name;
        for (const QChar c : caption->text()) {
            EXPECT_TRUE(caption->fontMetrics().inFont(c)) << name;
        }
    }
    QString ok;
    whenModalOpens([&](QMessageBox& box) { ok = box.button(QMessageBox::Ok)->text(); });
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    EXPECT_EQ(ok, "확인"); // Qt's own translation
    EXPECT_TRUE(strikeHasFocus());
}

} // namespace
} // namespace tempocalc
