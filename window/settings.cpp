#include "settings.h"

#include <QSettings>
#include <QStandardPaths>

#include <initializer_list>
#include <utility>

namespace tempocalc {
namespace {

const QString averageKey = QStringLiteral("average/method");
const QString flashKey = QStringLiteral("beat/flash");
const QString midiClockKey = QStringLiteral("beat/midi_clock");
const QString clickKey = QStringLiteral("beat/click");
const QString linkKey = QStringLiteral("link/enabled");
const QString alignKey = QStringLiteral("link/align");
const QString midiPortKey = QStringLiteral("midi/port");
const QString midiApiKey = QStringLiteral("midi/api");
const QString midiMessageKey = QStringLiteral("midi/message");

QString boolText(bool on) {
    return on ? QStringLiteral("true") : QStringLiteral("false");
}

// QSettings merges what it writes with the file as it is on disk at that moment, and
// rewrites only the keys set here.
void write(std::initializer_list<std::pair<QString, QString>> values) {
    QSettings file(Settings::path(), QSettings::IniFormat);
    if (file.status() == QSettings::AccessError) {
        return;
    }
    for (const auto& [key, value] : values) {
        file.setValue(key, value);
    }
    file.sync();
}

} // namespace

QString Settings::path() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tempo-calculator/tempo-calculator.conf");
}

Settings Settings::load() {
    Settings settings;
    const QSettings file(path(), QSettings::IniFormat);
    // A format error leaves out the damaged lines alone: the rest is read as it stands.
    if (file.status() == QSettings::AccessError) {
        return settings;
    }
    if (file.value(averageKey).toString() == QLatin1String("line")) {
        settings.average = AverageMethod::line;
    }
    settings.flash = file.value(flashKey).toString() == boolText(true);
    settings.midiClock = file.value(midiClockKey).toString() == boolText(true);
    settings.click = file.value(clickKey).toString() == boolText(true);
    settings.link = file.value(linkKey).toString() == boolText(true);
    settings.align = file.value(alignKey).toString() == boolText(true);
    settings.midiPort = file.value(midiPortKey).toString();
    settings.midiApi = file.value(midiApiKey).toString();
    settings.midiMessage = file.value(midiMessageKey).toString();
    return settings;
}

void Settings::setAverage(AverageMethod method) {
    average = method;
    write({{averageKey,
            method == AverageMethod::line ? QStringLiteral("line") : QStringLiteral("mean")}});
}

void Settings::setFlash(bool on) {
    flash = on;
    write({{flashKey, boolText(on)}});
}

void Settings::setMidiClock(bool on) {
    midiClock = on;
    write({{midiClockKey, boolText(on)}});
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
