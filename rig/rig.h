#pragma once

#include "listen_tracker.h"
#include "settings.h"
#include "tap_session.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <functional>
#include <optional>
#include <string>

namespace tempocalc {

class JackControl;
class LinkControl;
class ListenControl;
class Taps;

// The one composition that both faces share: the player's strikes (from the window's
// button, a MIDI pedal) and what they make, the settings, and the rest of the rig that
// follows the beat (Link, the MIDI clock and the click on JACK, the MIDI ports to strike
// from). Every rule of when to join, open, send or wait lives here or below; a face
// only asks and shows. It says what changed through its signals.
class Rig : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<double()>; // seconds since local midnight

    // What this program was built with.
    struct Built {
        bool link = false;
        bool midi = false; // MIDI ports to strike from, through RtMidi or JACK
        bool jack = false;
        bool listen = false; // the beat heard on the JACK client
    };
    static Built built();

    // decimal_separator: the one Ave's text uses.
    Rig(Clock clock, Settings settings, std::string decimal_separator = ".",
        QObject* parent = nullptr);
    ~Rig() override;

    Settings& settings() { return settings_; }
    const TapSession& session() const { return session_; }
    // Where the beats fall now: while listening, the music's as heard (the bars as the
    // taps put them); else the taps', or until they give one the starting tempo's.
    std::optional<BeatGrid> grid() const;
    // Whether the program listens to the music, and what it hears there (its beat as a
    // clock reading; none while nothing is heard).
    bool listening() const;
    std::optional<Heard> heard() const;
    // Which beat of its bar (1 to the beats in a bar) is the nearest now, while there
    // is a grid.
    std::optional<int> beatInBarNow() const;

    // What the window's buttons do; each says what it shows, and how it failed.
    void strike(double reading, TapSession::Source source = TapSession::Source::pedal);
    void notetoggle();
    void initialize();

    // The next strike is the one (beat 1 of a bar): the bars move, the beats do not.
    void markOne();

    // Choices, each kept in the settings.
    void chooseAverage(AverageMethod method);
    void setBeatsInBar(int beats);
    void setClock(bool on);
    void setClick(bool on);
    void setLink(bool on);
    void setAlign(bool on);
    void setListen(bool on);

    // The stage box's: choices read from the settings again, or given for one run, and
    // never written; a note value (0, 1, 2) to strike in; a grid at bpm from now until
    // the strikes give one; and connections of the JACK client's ports.
    void apply(const Settings& choices);
    void setNote(std::int16_t notemode);
    void startAt(double bpm);
    void setConnections(const QList<QPair<QString, QString>>& connections);

    // The parts of the rig this program was built with; none where it was not.
    JackControl* jack() const { return jack_; }
    LinkControl* link() const { return link_; }
    ListenControl* listen() const { return listen_; }
    Taps* taps() const { return taps_; }

signals:
    // The texts an operation put into the boxes.
    void shown(const tempocalc::Shown& shown);
    // An operation failed: its run-time error's number (0 for another failure), and what
    // the engine said, in English.
    void failed(int number, const QString& what);
    void gridChanged(std::optional<tempocalc::BeatGrid> grid);
    // What is heard in the music changed, or listening was turned on or off.
    void heardChanged();
    // Something the user should hear of once in a run, without a box (user's language).
    void notice(const QString& cause, const QString& text);

private:
    template <typename Operation> void perform(Operation operation);
    void share();
    void hear();

    Clock clock_;
    Settings settings_;
    TapSession session_;
    std::optional<BeatGrid> start_; // a grid before the strikes give one
    std::optional<BeatGrid> shared_;
    JackControl* jack_ = nullptr;
    LinkControl* link_ = nullptr;
    ListenControl* listen_ = nullptr;
    std::string separator_;
    std::optional<double> heardOne_; // the one of what is heard, while no strike gives one
    bool heardShown_ = false;        // Ave shows the tempo heard
    Taps* taps_ = nullptr;
};

} // namespace tempocalc
