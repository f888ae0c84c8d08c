#pragma once

#include "midi_tap.h"
#include "settings.h"

#include <QObject>

#include <optional>

QT_BEGIN_NAMESPACE
class QActionGroup;
class QMenu;
QT_END_NAMESPACE

namespace tempocalc {

// "Tap from MIDI" in the menu: the ports to strike from, the one chosen (kept for the
// next start, and listed as missing while it is unplugged), and learning the one
// message that strikes.
class MidiEntry : public QObject {
    Q_OBJECT

public:
    MidiEntry(QMenu* menu, Settings& settings, const MidiTap::Clock& clock);

signals:
    void strikeAt(double reading);

private:
    void fill();
    void choose(const std::optional<MidiPort>& port);

    Settings& settings_;
    QMenu* submenu_;
    QActionGroup* choices_;
    MidiTap* tap_;
};

} // namespace tempocalc
