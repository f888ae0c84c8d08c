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
