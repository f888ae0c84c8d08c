#include "link_session.h"

#include <ableton/Link.hpp>

#include <QMetaObject>

namespace tempocalc {

struct LinkSession::Peer {
    // The tempo this side starts with is never heard: a session found on the network
    // sets it, and the first strike replaces it otherwise.
    ableton::Link link{120.0};
};

LinkSession::LinkSession(QObject* parent) : QObject(parent) {}

LinkSession::~LinkSession() {
    // Leaves the session and joins Link's threads before this object goes: no
    // callback can reach it afterwards.
    peer_.reset();
}

void LinkSession::setEnabled(bool enabled) {
    if (enabled == isEnabled()) {
        return;
    }
    if (!enabled) {
        peer_.reset();
        peers_ = 0;
        emit peersChanged(0);
        return;
    }
    // What a session that was left says on its way out is not heard.
    const unsigned session = ++session_;
    peer_ = std::make_unique<Peer>();
    peer_->link.setNumPeersCallback([this, session](std::size_t peers) {
        QMetaObject::invokeMethod(
            this,
            [this, session, peers] {
                if (session == session_ && isEnabled()) {
                    peers_ = static_cast<int>(peers);
                    emit peersChanged(peers_);
                }
            },
            Qt::QueuedConnection);
    });
    peer_->link.setTempoCallback([this, session](double bpm) {
        QMetaObject::invokeMethod(
            this,
            [this, session, bpm] {
                if (session == session_ && isEnabled()) {
                    emit sessionTempoChanged(bpm);
                }
            },
            Qt::QueuedConnection);
    });
    peer_->link.enable(true);
}

bool LinkSession::isEnabled() const {
    return peer_ != nullptr;
}

bool LinkSession::publishTempo(double bpm) {
    if (!peer_ || !(bpm >= lowest_tempo && bpm <= highest_tempo)) {
        return false;
    }
    ableton::Link& link = peer_->link;
    auto state = link.captureAppSessionState();
    state.setTempo(bpm, link.clock().micros());
    link.commitAppSessionState(state);
    return true;
}

std::optional<double> LinkSession::sessionTempo() const {
    if (!peer_) {
        return std::nullopt;
    }
    return peer_->link.captureAppSessionState().tempo();
}

} // namespace tempocalc
