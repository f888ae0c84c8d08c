#include "jack_entry.h"

#include "jack_control.h"
#include "rig.h"

#include <QAction>
#include <QMenu>

namespace tempocalc {

JackEntry::JackEntry(QMenu* menu, Rig& rig) : QObject(menu), rig_(rig) {
    clock_entry_ = menu->addAction(QString());
    click_entry_ = menu->addAction(QString());
    for (QAction* entry : {clock_entry_, click_entry_}) {
        entry->setCheckable(true);
    }
    clock_entry_->setChecked(rig_.settings().midiClock);
    click_entry_->setChecked(rig_.settings().click);
    if (Rig::built().listen) {
        listen_entry_ = menu->addAction(QString());
        listen_entry_->setCheckable(true);
        listen_entry_->setChecked(rig_.settings().listen);
        connect(listen_entry_, &QAction::triggered, this, [this](bool on) {
            rig_.setListen(on);
            describe();
        });
    }
    connect(clock_entry_, &QAction::triggered, this, [this](bool on) {
        rig_.setClock(on);
        describe();
    });
    connect(click_entry_, &QAction::triggered, this, [this](bool on) {
        rig_.setClick(on);
        describe();
    });
    connect(rig_.jack(), &JackControl::stateChanged, this, &JackEntry::describe);
    describe();
}

void JackEntry::describe() {
    const JackControl::State state = rig_.jack()->state();
    QString doing;
    switch (state) {
    case JackControl::State::opening:
        doing = tr("connecting to JACK…");
        break;
    case JackControl::State::waiting:
        doing = tr("waiting for JACK");
        break;
    case JackControl::State::closing:
        doing = tr("stopping…");
        break;
    case JackControl::State::off:
    case JackControl::State::open:
        break;
    }
    const auto text = [&](QAction* entry, const QString& name) {
        const bool says =
            !doing.isEmpty() && (entry->isChecked() || state == JackControl::State::closing);
        entry->setText(says ? tr("%1 — %2").arg(name, doing) : name);
    };
    text(clock_entry_, tr("Send MIDI clock (JACK)"));
    text(click_entry_, tr("Click on the beat (JACK)"));
    if (listen_entry_) {
        text(listen_entry_, tr("Listen on JACK"));
    }
}

} // namespace tempocalc
