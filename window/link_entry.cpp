#include "link_entry.h"

#include "day_clock.h"
#include "link_session.h"

#include <QAction>
#include <QLocale>
#include <QMenu>

namespace tempocalc {

LinkEntry::LinkEntry(QMenu* menu, Settings& settings, Clock clock)
    : QObject(menu), settings_(settings), clock_(std::move(clock)), link_(new LinkSession(this)) {
    // Nothing touches the network until the user turns it on and Ave has a tempo.
    action_ = menu->addAction(QString());
    action_->setCheckable(true);
    action_->setChecked(settings_.link);
    connect(action_, &QAction::triggered, this, &LinkEntry::turn);
    align_ = menu->addAction(tr("Put Link's beats on the taps"));
    align_->setCheckable(true);
    align_->setChecked(settings_.align);
    align_->setEnabled(settings_.link);
    // From the next tempo on: turning it on or off sets nothing in the session.
    connect(align_, &QAction::triggered, this, [this](bool on) { settings_.setAlign(on); });
    connect(link_, &LinkSession::joinedChanged, this, &LinkEntry::describe);
    connect(link_, &LinkSession::peersChanged, this, &LinkEntry::describe);
    connect(link_, &LinkSession::sessionTempoChanged, this, &LinkEntry::describe);
    describe();
}

void LinkEntry::share(std::optional<BeatGrid> grid) {
    grid_ = grid;
    publish();
}

void LinkEntry::publish() {
    if (!settings_.link || !grid_) {
        return;
    }
    std::optional<LinkSession::Beat> beat;
    if (settings_.align) {
        beat = steadyTimeOf(clock_, grid_->beat);
    }
    link_->publish(grid_->bpm, beat);
}

void LinkEntry::turn(bool on) {
    settings_.setLink(on);
    align_->setEnabled(on);
    if (on) {
        publish();
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
    emit sessionChanged(
        session ? tr("Link session: %1 BPM").arg(QLocale().toString(*session, 'f', 2)) : QString());
}

} // namespace tempocalc
