#pragma once

#include "beat_grid.h"

#include <QObject>

#include <functional>
#include <optional>

namespace tempocalc {

class LinkSession;

// Sharing the beat with an Ableton Link session: while it is on, the session follows
// the beat's tempo from its first one on (the program joins only then, so that it never
// imposes a tempo it does not have); with the alignment on, each tempo set also puts
// the session's beats onto the beat grid.
class LinkControl : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<double()>; // seconds since local midnight

    LinkControl(Clock clock, QObject* parent = nullptr);

    void setOn(bool on);
    bool isOn() const { return on_; }
    // From the next tempo on: turning it on or off sets nothing in the session.
    void setAlign(bool on) { align_ = on; }
    bool align() const { return align_; }
    // The beats fall here now (or nowhere yet).
    void share(std::optional<BeatGrid> grid);

    LinkSession* session() const { return link_; }
    // The session as the faces show it: joined, its peers, its tempo.
    bool isJoined() const;
    int peers() const;
    std::optional<double> sessionTempo() const;

signals:
    // Joined or left, the peers, the session's tempo.
    void changed();

private:
    void publish();

    Clock clock_;
    LinkSession* link_;
    bool on_ = false;
    bool align_ = false;
    std::optional<BeatGrid> grid_;
};

} // namespace tempocalc
