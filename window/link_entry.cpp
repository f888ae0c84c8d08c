#include "link_entry.h"

#include "link_control.h"
#include "rig.h"

#include <QAction>
#include <QLocale>
#include <QMenu>

namespace tempocalc {

LinkEntry::LinkEntry(QMenu* menu, Rig& rig) : QObject(menu), rig_(rig) {
    action_ = menu->addAction(QString());
    action_->setCheckable(true);
    action_->setChecked(rig_.settings().link);
    connect(action_, &QAction::triggered, this, [this](bool on) {
        rig_.setLink(on);
        align_->setEnabled(on);
    });
    align_ = menu->addAction(tr("Put Link's beats on the taps"));
    align_->setCheckable(true);
    align_->setChecked(rig_.settings().align);
    align_->setEnabled(rig_.settings().link);
    connect(align_, &QAction::triggered, this, [this](bool on) { rig_.setAlign(on); });
    connect(rig_.link(), &LinkControl::changed, this, &LinkEntry::describe);
    describe();
}

void LinkEntry::describe() {
    const LinkControl& link = *rig_.link();
    if (!rig_.link()->isOn()) {
        action_->setText(tr("Share tempo with Link"));
    } else if (!link.isJoined()) {
        action_->setText(tr("Share tempo with Link (from the first tempo)"));
    } else {
        action_->setText(tr("Share tempo with Link (%n peers)", nullptr, link.peers()));
    }
    const std::optional<double> session = link.sessionTempo();
    emit sessionChanged(
        session ? tr("Link session: %1 BPM").arg(QLocale().toString(*session, 'f', 2)) : QString());
}

} // namespace tempocalc
