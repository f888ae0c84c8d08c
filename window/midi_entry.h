#pragma once

#include "settings.h"
#include "tap_input.h"

#include <QList>
#include <QObject>

#include <optional>

QT_BEGIN_NAMESPACE
class QActionGroup;
class QMenu;
QT_END_NAMESPACE

namespace tempocalc {

// "Tap from MIDI" in the menu: the ports of every input to strike from, the one chosen
// (kept for the next start, and listed as missing while it is unplugged), and learning
// the one message that strikes, which holds for every input.
class MidiEntry : public QObject {
    Q_OBJECT

public:
    MidiEntry(QMenu* menu, Settings& settings, QList<TapInput*> inputs);

signals:
    void strikeAt(double reading);

private:
    void fill();
    void choose(const std::optional<MidiPort>& port);
    void forget(); // any note or pedal strikes again
    TapInput* inputFor(const MidiPort& port) const;

    Settings& settings_;
    QList<TapInput*> inputs_;
    QMenu* submenu_;
    QActionGroup* choices_;
    std::optional<MidiPort> chosen_;
};

} // namespace tempocalc
