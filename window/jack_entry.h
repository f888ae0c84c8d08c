#pragma once

#include "beat_grid.h"
#include "settings.h"
#include "tap_input.h"

#include <QObject>

#include <functional>
#include <optional>

QT_BEGIN_NAMESPACE
class QAction;
class QMenu;
QT_END_NAMESPACE

namespace tempocalc {

class JackClient;
class JackTapInput;

// "Send MIDI clock (JACK)" and "Click on the beat (JACK)" in the menu, and the
// program's one JACK client behind them, which "Tap from MIDI" uses for JACK's ports
// too. The client is there only while something uses it; no server is ever started.
// While there is none the entries stay as the user left them, say that they wait for
// JACK, and come back by themselves when a server runs.
class JackEntry : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<double()>; // seconds since local midnight

    JackEntry(QMenu* menu, Settings& settings, Clock clock);

    // Where the beats fall now (or nowhere): the clock and the click follow.
    void share(std::optional<BeatGrid> grid);
    // JACK's MIDI ports as a way into "Tap from MIDI".
    TapInput* tapInput() const;

signals:
    // Something the user should hear of once in a run, without a box that takes the keys.
    void notice(const QString& cause, const QString& text);

private:
    friend class JackTapInput;
    void turn(QAction* entry, bool on);
    // The client is wanted while the clock, the click or a JACK tap port is chosen.
    void want();
    void describe();

    Settings& settings_;
    Clock clock_;
    JackClient* client_;
    JackTapInput* tap_;
    QAction* clock_entry_;
    QAction* click_entry_;
};

} // namespace tempocalc
