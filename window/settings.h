#pragma once

#include "tap_session.h"

#include <QString>

namespace tempocalc {

// What the user chose in the window's menu, kept between runs in
// $XDG_CONFIG_HOME/tempo-calculator/tempo-calculator.conf (INI format). Read once at
// start. Each choice writes its own key alone, merged with what is on disk at that
// moment, so that two windows never undo each other's choices. A missing or
// unreadable file, or a value that is none of the known ones, reads as the default; a
// damaged line loses only what it held; a file that cannot be written is left as it
// is: settings never stop the program.
struct Settings {
    AverageMethod average = AverageMethod::mean;
    bool flash = false;     // light the strike button on every beat
    bool midiClock = false; // send MIDI clock on the program's JACK client
    bool click = false;     // and a click
    bool link = false;      // share the tempo with an Ableton Link session
    bool align = false;     // and put the session's beats on the taps
    // The MIDI port that strikes (empty: none), its system, and the one message
    // that strikes there (empty: any note or controller).
    QString midiPort, midiApi, midiMessage;

    static Settings load();
    static QString path();

    void setAverage(AverageMethod method);
    void setFlash(bool on);
    void setMidiClock(bool on);
    void setClick(bool on);
    void setLink(bool on);
    void setAlign(bool on);
    void setMidiPort(const QString& api, const QString& name);
    void setMidiMessage(const QString& message);
};

} // namespace tempocalc
