#pragma once

#include "tap_session.h"

#include <QList>

#include <QSet>
#include <QString>
#include <cstdint>

#include <functional>
#include <initializer_list>
#include <utility>

namespace tempocalc {

// Something about the settings file that the program could not use, as data: each
// face says it in its own way (a line on stderr, a notice in the window).
struct SettingsProblem {
    enum class Kind {
        unreadable, // the file is there but cannot be read: every key has its default
        damaged,    // some lines cannot be read: what they held has its default
        unwritable, // a choice cannot be saved: it holds until the program ends
        notBoolean, // key's value is none of true/false, yes/no, on/off, 1/0: it is off
        notMethod,  // average/method is neither mean nor line: Ave is the mean
        notNote,    // note/value is none of 4, 8, 12: quarter notes
        notBar,     // beat/bar is no number from 2 to 7: four beats
    };
    Kind kind;
    QString file;
    QString key;      // notBoolean, notMethod, notNote, notBar
    QString value;    // notBoolean, notMethod, notNote, notBar: as written in the file
    QString obstacle; // unwritable: a file where a folder must be, or the other way round

    // The same cause is said once a run.
    QString cause() const;
    // The line for stderr, in English: "tempo-calculator: FILE: what; what follows".
    QString line() const;
};

// What the user chose in the window's menu, kept between runs in
// $XDG_CONFIG_HOME/tempo-calculator/tempo-calculator.conf (INI format). Read once at
// start. Each choice writes its own key alone, merged with what is on disk at that
// moment, so that two windows never undo each other's choices. Settings never stop
// the program: a missing file or key, or an empty value, is the default without a
// word; a value that cannot be read is the default for its key alone, and a file that
// cannot be read or written leaves every choice as it is in memory. Those are
// problems, told once each.
struct Settings {
    AverageMethod average = AverageMethod::mean;
    // The note value last chosen in the window (a notemode: 0, 1, 2), which a stage box
    // strikes in; the window itself starts with quarter notes, as ever.
    std::int16_t note = 0;
    bool flash = false;     // light the strike button on every beat
    bool midiClock = false; // send MIDI clock on the program's JACK client
    bool click = false;     // and a click
    bool link = false;      // share the tempo with an Ableton Link session
    bool align = false;     // and put the session's beats on the taps
    bool listen = false;    // the beat heard on the JACK client's "listen" port is the grid
    // Beats in a bar (2 to 7).
    int bar = 4;
    // The MIDI port that strikes (empty: none), its system, the one message that
    // strikes there (empty: any note or controller), and the message that marks the one
    // (empty: none).
    QString midiPort, midiApi, midiMessage, midiOne;

    // What load found: values in the order of the keys above, then damaged lines.
    QList<SettingsProblem> problems;
    // Told when a choice cannot be written, once for each cause.
    std::function<void(const SettingsProblem&)> onProblem;

    // Booleans are read as true/false, yes/no, on/off or 1/0 and the method as mean or
    // line, in any case and with spaces around; they are written as true/false and
    // mean/line.
    static Settings load();
    static QString path();

    void setAverage(AverageMethod method);
    void setNote(std::int16_t notemode);
    void setFlash(bool on);
    void setMidiClock(bool on);
    void setClick(bool on);
    void setListen(bool on);
    void setLink(bool on);
    void setAlign(bool on);
    void setMidiPort(const QString& api, const QString& name);
    void setMidiMessage(const QString& message);
    void setBar(int beats);
    void setMidiOne(const QString& message);

private:
    void write(std::initializer_list<std::pair<QString, QString>> values);

    QSet<QString> told_;
};

} // namespace tempocalc
