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
// When there is none, or it goes away, the entries turn off and a one-line message
// says why.
class JackEntry : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<double()>; // seconds since local midnight

    JackEntry(QMenu* menu, Settings& settings, Clock clock);

    // Where the beats fall now (or nowhere): the clock and the click follow.
    void share(std::optional<BeatGrid> grid);
    // JACK's MIDI ports as a way into "Tap from MIDI".
    TapInput* tapInput() const;

private:
    friend class JackTapInput;
    void set(QAction* entry, bool on);
    void turn(QAction* entry, bool on);
    // Opens the client when something needs it and closes it when nothing does;
    // false, with the entries off (and the user told, if asked), when there is no
    // server.
    bool needed(bool tellWhenMissing);
    void lost(const QString& why);
    void tell(const QString& message);

    Settings& settings_;
    Clock clock_;
    QWidget* window_;
    JackClient* client_;
    JackTapInput* tap_;
    QAction* clock_entry_;
    QAction* click_entry_;
};

} // namespace tempocalc
