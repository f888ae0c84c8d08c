#pragma once

#include "beat_grid.h"
#include "tap_input.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <functional>
#include <optional>

namespace tempocalc {

class JackClient;
class JackTapInput;

// The program's one JACK client and when it is there: while the MIDI clock, the click
// or a JACK port to tap from is chosen. It follows the beat grid, waits for a server
// and comes back with it by itself; no server is ever started.
class JackControl : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<double()>; // seconds since local midnight

    JackControl(Clock clock, QObject* parent = nullptr);

    // Where the client is: as the program's JACK client says it, in the rig's words.
    enum class State { off, opening, waiting, open, closing };
    State state() const;
    QString clientName() const; // while open
    QString error() const;      // why it is not open while it is wanted
    // A Stop to whatever counts the clock, then the client closes, whatever is chosen;
    // stateChanged says when it is off.
    void closeNow();

    void setClock(bool on);
    bool clock() const;
    void setClick(bool on);
    bool click() const;
    // The "listen" port, for listening to the music.
    void setListening(bool on);
    // Where the beats fall now (or nowhere): the clock and the click follow.
    void share(std::optional<BeatGrid> grid);
    // Connections of the client's ports ("clock", "click", "tap") with others' by their
    // full names, made whenever both are there.
    void setConnections(const QList<QPair<QString, QString>>& connections);

    // JACK's MIDI ports as a way to strike from; made once, owned by whoever takes it.
    TapInput* takeTapInput();
    JackClient* client() const { return client_; }

signals:
    void stateChanged(tempocalc::JackControl::State state);
    // The server went away; the client waits for it to come back.
    void serverGone(const QString& reason);
    // A connection asked for was made, or is gone.
    void connectionChanged(const QString& ours, const QString& theirs, bool connected);
    // Something the user should hear of once in a run (in the user's language).
    void notice(const QString& cause, const QString& text);

private:
    friend class JackTapInput;
    void want();

    Clock clock_;
    JackClient* client_;
    JackTapInput* tap_ = nullptr;
};

} // namespace tempocalc
