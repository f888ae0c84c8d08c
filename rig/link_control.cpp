#include "link_control.h"

#include "day_clock.h"
#include "link_session.h"

#include <cmath>

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
        if (grid_) {
            const double bar = grid_->bar * 60.0 / grid_->bpm;
            const double next = grid_->one + std::ceil((clock_() - grid_->one) / bar) * bar;
            link_->setPlaying(true, steadyTimeOf(clock_, next));
        }
    } else {
        link_->leave();
    }
    emit changed();
}

void LinkControl::share(std::optional<BeatGrid> grid) {
    const bool started = grid && !grid_, ended = !grid && grid_;
    grid_ = grid;
    publish();
    // The session plays from the grid's next one while there is a grid.
    if (on_ && started) {
        const double bar = grid_->bar * 60.0 / grid_->bpm;
        const double now = clock_();
        const double next = grid_->one + std::ceil((now - grid_->one) / bar) * bar;
        link_->setPlaying(true, steadyTimeOf(clock_, next));
    } else if (on_ && ended) {
        link_->setPlaying(false);
    }
}

void LinkControl::publish() {
    // Nothing touches the network until it is on and there is a tempo.
    if (!on_ || !grid_) {
        return;
    }
    // Link's quantum is the bar; aligned, its bar lines fall on the taps' ones.
    std::optional<LinkSession::Beat> one;
    if (align_) {
        one = steadyTimeOf(clock_, grid_->one);
    }
    link_->publish(grid_->bpm, one, grid_->bar);
}

bool LinkControl::isJoined() const {
    return link_->isJoined();
}

int LinkControl::peers() const {
    return link_->peers();
}

std::optional<double> LinkControl::sessionTempo() const {
    return link_->sessionTempo();
}

} // namespace tempocalc
