#include "link_control.h"

#include "day_clock.h"
#include "link_session.h"

namespace tempocalc {

LinkControl::LinkControl(Clock clock, QObject* parent)
    : QObject(parent), clock_(std::move(clock)), link_(new LinkSession(this)) {
    connect(link_, &LinkSession::joinedChanged, this, &LinkControl::changed);
    connect(link_, &LinkSession::peersChanged, this, &LinkControl::changed);
    connect(link_, &LinkSession::sessionTempoChanged, this, &LinkControl::changed);
}

void LinkControl::setOn(bool on) {
    if (on == on_) {
        return;
    }
    on_ = on;
    if (on) {
        publish();
    } else {
        link_->leave();
    }
    emit changed();
}

void LinkControl::share(std::optional<BeatGrid> grid) {
    grid_ = grid;
    publish();
}

void LinkControl::publish() {
    // Nothing touches the network until it is on and there is a tempo.
    if (!on_ || !grid_) {
        return;
    }
    std::optional<LinkSession::Beat> beat;
    if (align_) {
        beat = steadyTimeOf(clock_, grid_->beat);
    }
    link_->publish(grid_->bpm, beat);
}

} // namespace tempocalc
