#pragma once

#include "beat_grid.h"
#include "settings.h"

#include <QObject>

#include <functional>
#include <optional>

QT_BEGIN_NAMESPACE
class QAction;
class QMenu;
QT_END_NAMESPACE

namespace tempocalc {

class LinkSession;

// "Share tempo with Link" in the menu, and the Ableton Link session behind it. While
// it is on, the session follows the beat of the taps, from its first tempo on: the
// program joins only then, so that it never imposes a tempo it does not have. Under
// it, "Put Link's beats on the taps" moves the session's beats onto the beat grid of
// the taps at each tempo it sets.
class LinkEntry : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<double()>; // seconds since local midnight

    LinkEntry(QMenu* menu, Settings& settings, Clock clock);

    // The beats fall here now (or nowhere yet).
    void share(std::optional<BeatGrid> grid);

signals:
    // "Link session: 97.00 BPM" for Ave's tooltip while joined; empty otherwise.
    void sessionChanged(const QString& line);

private:
    void turn(bool on);
    void publish();
    void describe();

    Settings& settings_;
    Clock clock_;
    QAction* action_;
    QAction* align_;
    LinkSession* link_;
    // The beat, shared once sharing is on.
    std::optional<BeatGrid> grid_;
};

} // namespace tempocalc
