#include "settings.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace tempocalc {
namespace {

const QString averageKey = QStringLiteral("average/method");
const QString noteKey = QStringLiteral("note/value");
const QString flashKey = QStringLiteral("beat/flash");
const QString midiClockKey = QStringLiteral("beat/midi_clock");
const QString clickKey = QStringLiteral("beat/click");
const QString linkKey = QStringLiteral("link/enabled");
const QString alignKey = QStringLiteral("link/align");
const QString midiPortKey = QStringLiteral("midi/port");
const QString midiApiKey = QStringLiteral("midi/api");
const QString midiMessageKey = QStringLiteral("midi/message");
const QString midiOneKey = QStringLiteral("midi/one");
const QString barKey = QStringLiteral("beat/bar");
const QString listenKey = QStringLiteral("listen/on");

struct BooleanKey {
    const QString& key;
    bool Settings::*member;
    const char* name; // what stays off, for the stderr line
};

const BooleanKey booleanKeys[] = {
    {flashKey, &Settings::flash, "flash"},
    {midiClockKey, &Settings::midiClock, "MIDI clock"},
    {clickKey, &Settings::click, "the click"},
    {linkKey, &Settings::link, "Link"},
    {alignKey, &Settings::align, "aligning Link's beats"},
    {listenKey, &Settings::listen, "listening"},
};

QString boolText(bool on) {
    return on ? QStringLiteral("true") : QStringLiteral("false");
}

// A value as a person wrote it: QSettings reads one with a comma as a list.
QString written(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QStringLiteral(", "));
    }
    return value.toString();
}

// A value that cannot be read, fit for one line of a message: QSettings unescapes
// "\n" and the like, and a value can be any length.
QString quotable(const QString& value) {
    constexpr qsizetype longest = 40;
    QString shown;
    for (const QChar c : value.left(longest)) {
        shown += c.isPrint() ? QString(c)
                             : QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    }
    return value.size() > longest ? shown + QStringLiteral("…") : shown;
}

std::optional<bool> readBoolean(const QString& text) {
    static const QStringList yes{QStringLiteral("true"), QStringLiteral("yes"),
                                 QStringLiteral("on"), QStringLiteral("1")};
    static const QStringList no{QStringLiteral("false"), QStringLiteral("no"),
                                QStringLiteral("off"), QStringLiteral("0")};
    if (yes.contains(text, Qt::CaseInsensitive)) {
        return true;
    }
    if (no.contains(text, Qt::CaseInsensitive)) {
        return false;
    }
    return std::nullopt;
}

// Where the file cannot be written, the first thing on its way that is of the wrong
// kind: the file's name taken by a folder, or a folder's by a file. Empty when the
// cause lies elsewhere (permissions, a full disk).
QString obstacleTo(const QString& path) {
    const QFileInfo file(path);
    if (file.exists() && !file.isFile()) {
        return path;
    }
    for (QString folder = file.absolutePath();; folder = QFileInfo(folder).path()) {
        const QFileInfo info(folder);
        if (info.exists()) {
            return info.isDir() ? QString() : folder;
        }
        if (info.isRoot()) {
            return {};
        }
    }
}

} // namespace

QString SettingsProblem::cause() const {
    switch (kind) {
    case Kind::unreadable:
        return QStringLiteral("settings: read");
    case Kind::damaged:
        return QStringLiteral("settings: damaged");
    case Kind::unwritable:
        return QStringLiteral("settings: write");
    case Kind::notBoolean:
    case Kind::notMethod:
    case Kind::notNote:
    case Kind::notBar:
        break;
    }
    return QStringLiteral("settings: ") + key;
}

QString SettingsProblem::line() const {
    QString what;
    switch (kind) {
    case Kind::unreadable:
        what = QStringLiteral("cannot be read; every setting keeps its default");
        break;
    case Kind::damaged:
        what = QStringLiteral("some lines cannot be read; what they held keeps its default");
        break;
    case Kind::unwritable:
        what = obstacle.isEmpty()
                   ? QStringLiteral("cannot be written; choices hold until the program ends")
                   : QStringLiteral("cannot be written (%1 is in the way); choices hold until "
                                    "the program ends")
                         .arg(obstacle);
        break;
    case Kind::notBoolean: {
        const char* name = "it";
        for (const BooleanKey& b : booleanKeys) {
            if (b.key == key) {
                name = b.name;
            }
        }
        what = QStringLiteral("%1 = \"%2\" is not true or false; %3 stays off")
                   .arg(key, value, QLatin1String(name));
        break;
    }
    case Kind::notMethod:
        what = QStringLiteral("%1 = \"%2\" is not mean or line; the average stays the mean of "
                              "the tempos")
                   .arg(key, value);
        break;
    case Kind::notNote:
        what = QStringLiteral("%1 = \"%2\" is not 4, 8 or 12; strikes stay quarter notes")
                   .arg(key, value);
        break;
    case Kind::notBar:
        what = QStringLiteral("%1 = \"%2\" is no number from 2 to 7; bars stay of four beats")
                   .arg(key, value);
        break;
    }
    return QStringLiteral("tempo-calculator: %1: %2").arg(file, what);
}

QString Settings::path() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tempo-calculator/tempo-calculator.conf");
}

Settings Settings::load() {
    Settings settings;
    const QString name = path();
    const QSettings file(name, QSettings::IniFormat);
    const auto problem = [&](SettingsProblem::Kind kind, const QString& key = {},
                             const QString& value = {}) {
        settings.problems << SettingsProblem{kind, name, key, quotable(value), {}};
        settings.told_ << settings.problems.last().cause();
    };
    if (file.status() == QSettings::AccessError) {
        problem(SettingsProblem::Kind::unreadable);
        return settings;
    }
    // An empty value is no choice, as a missing key is.
    const auto value = [&file](const QString& key) { return written(file.value(key)).trimmed(); };

    if (const QString method = value(averageKey); !method.isEmpty()) {
        if (method.compare(QLatin1String("line"), Qt::CaseInsensitive) == 0) {
            settings.average = AverageMethod::line;
        } else if (method.compare(QLatin1String("mean"), Qt::CaseInsensitive) != 0) {
            problem(SettingsProblem::Kind::notMethod, averageKey, method);
        }
    }
    if (const QString note = value(noteKey); !note.isEmpty()) {
        // The number of notes in a whole note, as musicians write 1/8.
        const QString notes = note.startsWith(QLatin1String("1/")) ? note.mid(2) : note;
        if (const qsizetype mode = QStringList({"4", "8", "12"}).indexOf(notes); mode >= 0) {
            settings.note = static_cast<std::int16_t>(mode);
        } else {
            problem(SettingsProblem::Kind::notNote, noteKey, note);
        }
    }
    for (const BooleanKey& b : booleanKeys) {
        const QString text = value(b.key);
        if (text.isEmpty()) {
            continue;
        }
        if (const std::optional<bool> on = readBoolean(text)) {
            settings.*b.member = *on;
        } else {
            problem(SettingsProblem::Kind::notBoolean, b.key, text);
        }
    }
    settings.midiPort = file.value(midiPortKey).toString();
    settings.midiApi = file.value(midiApiKey).toString();
    settings.midiMessage = file.value(midiMessageKey).toString();
    settings.midiOne = file.value(midiOneKey).toString();
    if (const QString bar = value(barKey); !bar.isEmpty()) {
        bool read = false;
        const int beats = bar.toInt(&read);
        if (read && beats >= 2 && beats <= 7) {
            settings.bar = beats;
        } else {
            problem(SettingsProblem::Kind::notBar, barKey, bar);
        }
    }
    // A format error leaves out the damaged lines alone: the rest is read as it stands.
    // QSettings finds some only as it reads the keys.
    if (file.status() == QSettings::FormatError) {
        problem(SettingsProblem::Kind::damaged);
    }
    return settings;
}

// QSettings merges what it writes with the file as it is on disk at that moment, and
// rewrites only the keys set here.
void Settings::write(std::initializer_list<std::pair<QString, QString>> values) {
    const QString name = path();
    QSettings file(name, QSettings::IniFormat);
    if (file.status() != QSettings::AccessError) {
        for (const auto& [key, value] : values) {
            file.setValue(key, value);
        }
        file.sync();
    }
    if (file.status() != QSettings::AccessError) {
        return;
    }
    SettingsProblem problem{SettingsProblem::Kind::unwritable, name, {}, {}, obstacleTo(name)};
    if (!told_.contains(problem.cause())) {
        told_ << problem.cause();
        if (onProblem) {
            onProblem(problem);
        }
    }
}

void Settings::setAverage(AverageMethod method) {
    average = method;
    write({{averageKey,
            method == AverageMethod::line ? QStringLiteral("line") : QStringLiteral("mean")}});
}

void Settings::setNote(std::int16_t notemode) {
    note = notemode;
    write({{noteKey, QString::number(notemode == 0 ? 4 : notemode == 1 ? 8 : 12)}});
}

void Settings::setBar(int beats) {
    bar = beats;
    write({{barKey, QString::number(beats)}});
}

void Settings::setMidiOne(const QString& message) {
    midiOne = message;
    write({{midiOneKey, message}});
}

void Settings::setFlash(bool on) {
    flash = on;
    write({{flashKey, boolText(on)}});
}

void Settings::setMidiClock(bool on) {
    midiClock = on;
    write({{midiClockKey, boolText(on)}});
}

void Settings::setListen(bool on) {
    listen = on;
    write({{listenKey, boolText(on)}});
}

void Settings::setClick(bool on) {
    click = on;
    write({{clickKey, boolText(on)}});
}

void Settings::setLink(bool on) {
    link = on;
    write({{linkKey, boolText(on)}});
}

void Settings::setAlign(bool on) {
    align = on;
    write({{alignKey, boolText(on)}});
}

void Settings::setMidiPort(const QString& api, const QString& name) {
    midiApi = api;
    midiPort = name;
    write({{midiApiKey, api}, {midiPortKey, name}});
}

void Settings::setMidiMessage(const QString& message) {
    midiMessage = message;
    write({{midiMessageKey, message}});
}

} // namespace tempocalc
