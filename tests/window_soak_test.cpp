#include "resident_memory.h"
#include "window_fixture.h"

#include "tempo_engine.h"

#include <QFile>
#include <QLocale>

#include <cmath>

namespace tempocalc {
namespace {

TEST_F(WindowTest, HundredThousandStrikesKeepTheEngineTextsAndTheMemory) {
    constexpr int strikes = 100'000;
    constexpr int warmUp = 20'000;
    whenModalOpens([](QMessageBox& box) { ADD_FAILURE() << box.text().toStdString(); });

    TempoState expected;
    Shown shown;
    const std::string separator = QLocale::system().decimalPoint().toStdString();
    double beat = 86'000.0; // crosses midnight on the way
    long memoryAfterWarmUp = 0;
    for (int i = 1; i <= strikes; ++i) {
        beat = std::fmod(beat + 0.2 + (i % 7) * 0.05, seconds_per_day);
        tapSpace(beat, beat + 0.02 * (i % 5));
        strike(expected, beat, shown, separator);
        ASSERT_EQ(text("Text2").toStdString(), *shown.text2) << "strike " << i;
        ASSERT_EQ(text("Text1").toStdString(), *shown.text1) << "strike " << i;

        if (i % 997 == 0) {
            QTest::mouseClick(button("Command2"), Qt::LeftButton);
            notetoggle(expected, shown);
            ASSERT_EQ(text("Text3").toStdString(), *shown.text3);
        }
        if (i % 9'973 == 0) {
            QTest::mouseClick(button("Command4"), Qt::LeftButton);
            initialize(expected, shown);
        }
        if (i == warmUp) {
            memoryAfterWarmUp = residentKiB();
        }
    }
    EXPECT_FALSE(modalSeen);
    EXPECT_EQ(form.state(), expected);
    ASSERT_GT(memoryAfterWarmUp, 0);
    const long growth = residentKiB() - memoryAfterWarmUp;
    RecordProperty("MemoryGrowthKiB", static_cast<int>(growth));
    EXPECT_LT(growth, 512) << "KiB grown over " << strikes - warmUp << " strikes";
}

} // namespace
} // namespace tempocalc
