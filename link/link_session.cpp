#include "link_session.h"

#include <ableton/Link.hpp>

#include <QMetaObject>

#include <cmath>

namespace tempocalc {

struct LinkSession::Peer {
    explicit Peer(double bpm) : link(bpm) {}
    ableton::Link link;
};

LinkSession::LinkSession(QObject* parent) : QObject(parent) {}

LinkSession::~LinkSession() {
    // Leaves the session and joins Link's threads before this object goes: no
    // callback can reach it afterwards.
    peer_.reset();
}

void LinkSession::join(double bpm) {
    // What a session that was left says on its way out is not heard.
    const unsigned session = ++session_;
    peer_ = std::make_unique<Peer>(bpm);
    peer_->link.setNumPeersCallback([this, session](std::size_t peers) {
        QMetaObject::invokeMethod(
            this,
            [this, session, peers] {
                if (session != session_ || !isJoined()) {
                    return;
                }
                const bool met = peers_ == 0 && peers > 0;
                peers_ = static_cast<int>(peers);
                if (met && published_) {
                    commit(*published_); // the older session's timeline replaced ours
                }
                if (met && playing_) {
                    setPlaying(*playing_); // and its start and stop
                }
                emit peersChanged(peers_);
            },
            Qt::QueuedConnection);
    });
    peer_->link.setTempoCallback([this, session](double tempo) {
        QMetaObject::invokeMethod(
            this,
            [this, session, tempo] {
                if (session == session_ && isJoined()) {
                    emit sessionTempoChanged(tempo);
                }
            },
            Qt::QueuedConnection);
    });
    // Start and stop go to the peers that follow them; the others are not touched.
    peer_->link.enableStartStopSync(true);
    peer_->link.enable(true);
    emit joinedChanged(true);
}

void LinkSession::leave() {
    if (!peer_) {
        return;
    }
    peer_.reset();
    peers_ = 0;
    published_.reset();
    playing_.reset();
    emit peersChanged(0);
    emit joinedChanged(false);
}

bool LinkSession::isJoined() const {
    return peer_ != nullptr;
}

bool LinkSession::publish(double bpm, std::optional<Beat> beat, double quantum) {
    if (!(bpm >= lowest_tempo && bpm <= highest_tempo)) {
        return false;
    }
    if (!peer_) {
        join(bpm);
    }
    published_ = Published{bpm, beat, quantum};
    commit(*published_);
    return true;
}

void LinkSession::commit(const Published& published) {
    ableton::Link& link = peer_->link;
    auto state = link.captureAppSessionState();
    state.setTempo(published.bpm, link.clock().micros());
    if (published.beat) {
        // Link's clock (the raw monotonic clock) and the steady clock, read back to back.
        const std::chrono::microseconds host = link.clock().micros();
        const auto at = host + std::chrono::duration_cast<std::chrono::microseconds>(
                                   *published.beat - std::chrono::steady_clock::now());
        const double quantum = published.quantum;
        state.forceBeatAtTime(std::round(state.beatAtTime(at, quantum) / quantum) * quantum, at,
                              quantum);
    }
    link.commitAppSessionState(state);
}

void LinkSession::setPlaying(bool playing, std::optional<Beat> from) {
    if (!peer_) {
        return;
    }
    playing_ = playing;
    ableton::Link& link = peer_->link;
    auto state = link.captureAppSessionState();
    std::chrono::microseconds at = link.clock().micros();
    if (from) {
        at += std::chrono::duration_cast<std::chrono::microseconds>(
            *from - std::chrono::steady_clock::now());
    }
    state.setIsPlaying(playing, std::max(at, link.clock().micros()));
    link.commitAppSessionState(state);
}

std::optional<double> LinkSession::sessionTempo() const {
    if (!peer_) {
        return std::nullopt;
    }
    return peer_->link.captureAppSessionState().tempo();
}

} // namespace tempocalc
