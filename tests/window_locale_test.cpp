#include "settings_notice.h"
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

TEST_F(GermanWindow, TellsOfTheMenuAndOfASettingThatCannotBeRead) {
    EXPECT_EQ(button("Command1")->toolTip(),
              "Drück bei jedem Schlag die Leertaste. Rechtsklick, die Menütaste oder Umschalt+F10 "
              "öffnet die Optionen.");
    const SettingsProblem problem{
        SettingsProblem::Kind::notBoolean, "/etc/t.conf", "beat/flash", "vielleicht", {}};
    EXPECT_EQ(SettingsNotice::text(problem),
              "Die Einstellung beat/flash = „vielleicht“ in /etc/t.conf ist weder true noch false: "
              "Sie bleibt aus.");
}

// Run with LC_ALL=ko_KR.UTF-8.
using KoreanWindow = WindowTest;

TEST_F(KoreanWindow, TellsOfTheMenu) {
    EXPECT_EQ(button("Command1")->toolTip(),
              "박자마다 스페이스바를 누르세요. 오른쪽 클릭, 메뉴 키 또는 Shift+F10으로 옵션을 "
              "엽니다.");
}

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
