#pragma once

#include "midi_filter.h"

#include <QObject>

#include <optional>

QT_BEGIN_NAMESPACE
class QActionGroup;
class QMenu;
QT_END_NAMESPACE

namespace tempocalc {

class Taps;

// "Tap from MIDI" in the menu: the ports of every input to strike from, the one chosen
// (ticked while it is heard, and listed as missing while it is unplugged), and learning
// the one message that strikes.
class MidiEntry : public QObject {
    Q_OBJECT

public:
    MidiEntry(QMenu* menu, Taps& taps);

private:
    void fill();

    Taps& taps_;
    QMenu* submenu_;
    QActionGroup* choices_;
};

} // namespace tempocalc
