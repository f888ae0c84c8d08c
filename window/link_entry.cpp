#include "link_entry.h"

#include "link_session.h"

#include <QAction>
#include <QLocale>
#include <QMenu>

namespace tempocalc {

LinkEntry::LinkEntry(QMenu* menu, Settings& settings)
    : QObject(menu), settings_(settings), link_(new LinkSession(this)) {
    // Nothing touches the network until the user turns it on and Ave has a tempo.
    action_ = menu->addAction(QString());
    action_->setCheckable(true);
    action_->setChecked(settings_.link);
    connect(action_, &QAction::triggered, this, &LinkEntry::turn);
    connect(link_, &LinkSession::joinedChanged, this, &LinkEntry::describe);
    connect(link_, &LinkSession::peersChanged, this, &LinkEntry::describe);
    connect(link_, &LinkSession::sessionTempoChanged, this, &LinkEntry::describe);
    describe();
}

void LinkEntry::share(std::optional<double> bpm) {
    shown_ = bpm;
    if (settings_.link && bpm) {
        link_->publishTempo(*bpm);
    }
}

void LinkEntry::turn(bool on) {
    settings_.setLink(on);
    if (on) {
        share(shown_);
    } else {
        link_->leave();
    }
    describe();
}

void LinkEntry::describe() {
    if (!settings_.link) {
        action_->setText(tr("Share tempo with Link"));
    } else if (!link_->isJoined()) {
        action_->setText(tr("Share tempo with Link (from the first tempo)"));
    } else {
        action_->setText(tr("Share tempo with Link (%n peers)", nullptr, link_->peers()));
    }
    const std::optional<double> session = link_->sessionTempo();
    emit sessionChanged(session ? tr("Link session: %1 BPM").arg(QLocale().toString(*session, 'f', 2))
                                : QString());
}

} // namespace tempocalc
