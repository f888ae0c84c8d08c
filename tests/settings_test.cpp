#include "window_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cctype>
#include <random>

namespace tempocalc {
namespace {

using Kind = SettingsProblem::Kind;

// Settings read from files as a person might write them, in a folder of the test run's own.
class SettingsFile : public testing::Test {
protected:
    void SetUp() override { QFile::remove(Settings::path()); }
    void TearDown() override {
        QFile::remove(Settings::path());
        QDir().rmdir(Settings::path());
        const QString folder = QFileInfo(Settings::path()).path();
        if (QFileInfo(folder).isFile()) {
            QFile::remove(folder);
        }
    }

    static Settings loaded(const QByteArray& contents) {
        QDir().mkpath(QFileInfo(Settings::path()).path());
        QFile file(Settings::path());
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();
        return Settings::load();
    }

    // The word in a random mix of cases, with random blanks around it, and sometimes
    // in quotes as QSettings writes a value that has them.
    QByteArray handWritten(const QByteArray& word) {
        QByteArray mixed;
        for (const char c : word) {
            mixed += static_cast<char>(coin(random) ? std::toupper(c) : c);
        }
        const QByteArray blanks[] = {"", " ", "  ", "\t"};
        std::uniform_int_distribution<int> blank(0, 3);
        const QByteArray padded = blanks[blank(random)] + mixed + blanks[blank(random)];
        return coin(random) ? '"' + padded + '"' : padded;
    }

    std::mt19937 random{1402};
    std::bernoulli_distribution coin;
};

TEST_F(SettingsFile, ReadsEveryBooleanSpellingInAnyCaseWithBlanksAround) {
    const std::pair<QByteArray, bool> spellings[] = {
        {"true", true},   {"yes", true}, {"on", true},   {"1", true},
        {"false", false}, {"no", false}, {"off", false}, {"0", false}};
    for (int round = 0; round < 6; ++round) {
        for (const auto& [word, on] : spellings) {
            const QByteArray flash = handWritten(word), click = handWritten(word);
            const QByteArray clock = handWritten(word), link = handWritten(word);
            const QByteArray align = handWritten(word);
            const Settings read =
                loaded("[beat]\nflash=" + flash + "\nclick=" + click + "\nmidi_clock=" + clock +
                       "\n[link]\nenabled=" + link + "\nalign=" + align + "\n");
            const std::string file =
                (flash + '|' + click + '|' + clock + '|' + link + '|' + align).toStdString();
            EXPECT_EQ(read.flash, on) << file;
            EXPECT_EQ(read.click, on) << file;
            EXPECT_EQ(read.midiClock, on) << file;
            EXPECT_EQ(read.link, on) << file;
            EXPECT_EQ(read.align, on) << file;
            EXPECT_TRUE(read.problems.isEmpty()) << file;
        }
    }
}

TEST_F(SettingsFile, ReadsTheMethodInAnyCase) {
    for (const char* line : {"line", "Line", "LINE", " lInE ", "\"Line\""}) {
        const Settings read = loaded(QByteArray("[average]\nmethod=") + line + "\n");
        EXPECT_EQ(read.average, AverageMethod::line) << line;
        EXPECT_TRUE(read.problems.isEmpty()) << line;
    }
    for (const char* mean : {"mean", "Mean", "MEAN", "\tmean"}) {
        const Settings read = loaded(QByteArray("[average]\nmethod=") + mean + "\n");
        EXPECT_EQ(read.average, AverageMethod::mean) << mean;
        EXPECT_TRUE(read.problems.isEmpty()) << mean;
    }
}

TEST_F(SettingsFile, AValueThatCannotBeReadIsTheDefaultForItsKeyAlone) {
    const Settings read = loaded("[average]\nmethod=Median\n"
                                 "[beat]\nflash=maybe\nclick=Yes\nmidi_clock=yes, please\n"
                                 "[link]\nenabled=2\\n3\nalign=ON\n"
                                 "[midi]\nport=pedal:out\n");
    EXPECT_EQ(read.average, AverageMethod::mean);
    EXPECT_FALSE(read.flash);
    EXPECT_TRUE(read.click);
    EXPECT_FALSE(read.midiClock);
    EXPECT_FALSE(read.link);
    EXPECT_TRUE(read.align);
    EXPECT_EQ(read.midiPort, "pedal:out");

    ASSERT_EQ(read.problems.size(), 4);
    const QString file = Settings::path();
    const struct {
        Kind kind;
        const char* key;
        const char* value;
        QString line;
    } expected[] = {
        {Kind::notMethod, "average/method", "Median",
         "tempo-calculator: " + file +
             ": average/method = \"Median\" is not mean or line; the average stays the mean of "
             "the tempos"},
        {Kind::notBoolean, "beat/flash", "maybe",
         "tempo-calculator: " + file +
             ": beat/flash = \"maybe\" is not true or false; flash stays off"},
        {Kind::notBoolean, "beat/midi_clock", "yes, please",
         "tempo-calculator: " + file +
             ": beat/midi_clock = \"yes, please\" is not true or false; MIDI clock stays off"},
        {Kind::notBoolean, "link/enabled", "2\\x0a3",
         "tempo-calculator: " + file +
             ": link/enabled = \"2\\x0a3\" is not true or false; Link stays off"},
    };
    QStringList causes;
    for (int i = 0; i < 4; ++i) {
        const SettingsProblem& p = read.problems[i];
        EXPECT_EQ(p.kind, expected[i].kind) << i;
        EXPECT_EQ(p.file, file);
        EXPECT_EQ(p.key, expected[i].key);
        EXPECT_EQ(p.value, expected[i].value);
        EXPECT_EQ(p.line(), expected[i].line);
        EXPECT_FALSE(p.line().contains('\n'));
        causes << p.cause();
    }
    causes.removeDuplicates();
    EXPECT_EQ(causes.size(), 4);
}

TEST_F(SettingsFile, AnOverlongValueIsCutShortInTheMessage) {
    const Settings read = loaded("[average]\nmethod=" + QByteArray(500, 'x') + "\n");
    ASSERT_EQ(read.problems.size(), 1);
    EXPECT_EQ(read.problems[0].value, QString(40, 'x') + "…");
}

TEST_F(SettingsFile, AMissingFileKeyOrValueIsNoProblem) {
    const Settings none = Settings::load();
    EXPECT_TRUE(none.problems.isEmpty());
    EXPECT_EQ(none.average, AverageMethod::mean);
    for (const QByteArray& contents :
         {QByteArray(), QByteArray("[midi]\nport=pedal:out\n"),
          QByteArray("[average]\nmethod=\n[beat]\nflash=\nclick=  \n")}) {
        const Settings read = loaded(contents);
        EXPECT_TRUE(read.problems.isEmpty()) << contents.toStdString();
        EXPECT_FALSE(read.flash || read.click);
        EXPECT_EQ(read.average, AverageMethod::mean);
    }
}

TEST_F(SettingsFile, DamagedLinesAreOneProblemAndTheRestIsRead) {
    const Settings read = loaded("[link]\nalign=yes\n[beat]\nflash\nclick=on\n");
    EXPECT_TRUE(read.align);
    ASSERT_EQ(read.problems.size(), 1);
    EXPECT_EQ(read.problems[0].kind, Kind::damaged);
    EXPECT_EQ(read.problems[0].line(), "tempo-calculator: " + Settings::path() +
                                           ": some lines cannot be read; what they held keeps "
                                           "its default");
}

TEST_F(SettingsFile, AFileThatCannotBeReadIsOneProblemAndEverythingItsDefault) {
    QDir().mkpath(Settings::path()); // a folder where the file should be
    const Settings read = Settings::load();
    ASSERT_EQ(read.problems.size(), 1);
    EXPECT_EQ(read.problems[0].kind, Kind::unreadable);
    EXPECT_EQ(read.problems[0].line(), "tempo-calculator: " + Settings::path() +
                                           ": cannot be read; every setting keeps its default");
    EXPECT_EQ(read.average, AverageMethod::mean);
    EXPECT_FALSE(read.flash);
}

TEST_F(SettingsFile, AChoiceThatCannotBeWrittenIsToldOnceAndHolds) {
    const QString folder = QFileInfo(Settings::path()).path();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    {
        QFile blocker(folder); // a file where the folder should be made
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    Settings settings = Settings::load();
    EXPECT_TRUE(settings.problems.isEmpty()); // as good as a missing file
    QList<SettingsProblem> told;
    settings.onProblem = [&](const SettingsProblem& p) { told << p; };
    settings.setFlash(true);
    settings.setAverage(AverageMethod::line);
    settings.setMidiPort("jack", "pedal:out");
    EXPECT_TRUE(settings.flash);
    EXPECT_EQ(settings.average, AverageMethod::line);
    EXPECT_EQ(settings.midiPort, "pedal:out");
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(told[0].kind, Kind::unwritable);
    EXPECT_EQ(told[0].obstacle, folder);
    EXPECT_EQ(told[0].line(), "tempo-calculator: " + Settings::path() + ": cannot be written (" +
                                  folder + " is in the way); choices hold until the program ends");
}

} // namespace
} // namespace tempocalc
