#include "settings.h"

#include <QSettings>
#include <QStandardPaths>

namespace tempocalc {
namespace {

const QString averageKey = QStringLiteral("average/method");
const QString linkKey = QStringLiteral("link/enabled");
const QString midiPortKey = QStringLiteral("midi/port");
const QString midiApiKey = QStringLiteral("midi/api");
const QString midiMessageKey = QStringLiteral("midi/message");

} // namespace

QString Settings::path() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tempo-calculator/tempo-calculator.conf");
}

Settings Settings::load() {
    Settings settings;
    const QSettings file(path(), QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        return settings;
    }
    if (file.value(averageKey).toString() == QLatin1String("line")) {
        settings.average = AverageMethod::line;
    }
    settings.link = file.value(linkKey).toString() == QLatin1String("true");
    settings.midiPort = file.value(midiPortKey).toString();
    settings.midiApi = file.value(midiApiKey).toString();
    settings.midiMessage = file.value(midiMessageKey).toString();
    return settings;
}

void Settings::save() const {
    QSettings file(path(), QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        return; // a corrupt file is not overwritten behind the user's back
    }
    file.setValue(averageKey,
                  average == AverageMethod::line ? QStringLiteral("line") : QStringLiteral("mean"));
    file.setValue(linkKey, link ? QStringLiteral("true") : QStringLiteral("false"));
    file.setValue(midiPortKey, midiPort);
    file.setValue(midiApiKey, midiApi);
    file.setValue(midiMessageKey, midiMessage);
    file.sync();
}

} // namespace tempocalc
