#pragma once

#include <QString>

namespace tempocalc {

// How Ave is filled: the mean of the tempos of the intervals, or the tempo of a line
// fitted through the strikes.
enum class AverageMethod { mean, line };

// What the user chose in the window's menu, kept between runs in
// $XDG_CONFIG_HOME/tempo-calculator/tempo-calculator.conf (INI format). Read once at
// start, written when the user changes something. A missing, unreadable or corrupt
// file, or a value that is none of the known ones, reads as the default, and a file
// that cannot be written is left as it is: settings never stop the program.
struct Settings {
    AverageMethod average = AverageMethod::mean;
    bool link = false; // share the tempo with an Ableton Link session
    // The MIDI port that strikes (empty: none), its system, and the one message
    // that strikes there (empty: any note or controller).
    QString midiPort, midiApi, midiMessage;

    static Settings load();
    void save() const;

    static QString path();
};

} // namespace tempocalc
