#include "midi_entry.h"

#include "taps.h"

#include <QActionGroup>
#include <QMenu>

namespace tempocalc {

MidiEntry::MidiEntry(QMenu* menu, Taps& taps) : QObject(menu), taps_(taps) {
    submenu_ = menu->addMenu(tr("Tap from MIDI"));
    submenu_->setObjectName(QStringLiteral("midiMenu"));
    choices_ = new QActionGroup(submenu_);
    connect(submenu_, &QMenu::aboutToShow, this, [this] {
        taps_.refresh();
        fill();
    });
    // An answer that comes while the submenu shows changes it there and then.
    for (const auto changed : {&Taps::portsChanged, &Taps::learnedChanged}) {
        connect(&taps_, changed, this, [this] {
            if (submenu_->isVisible()) {
                fill();
            }
        });
    }
}

void MidiEntry::fill() {
    submenu_->clear(); // the entries go, and with them their places in the group
    int systems = 0;
    const QList<MidiPort> ports = taps_.ports(systems);
    const std::optional<MidiPort> chosen = taps_.chosen();
    if (systems == 0 && !chosen) {
        submenu_->addAction(tr("No MIDI inputs"))->setEnabled(false);
        return;
    }
    // The system in brackets only where ports of more than one are listed.
    QStringList apis;
    for (const MidiPort& port : ports) {
        if (!apis.contains(port.api)) {
            apis << port.api;
        }
    }
    const auto label = [&](const MidiPort& port) {
        return apis.size() > 1 ? QStringLiteral("%1 (%2)").arg(port.name, port.systemName())
                               : port.name;
    };
    const std::optional<MidiPort> present = chosen ? MidiPort::find(*chosen, ports) : std::nullopt;
    const bool heard = present && taps_.heard();
    const auto add = [&](const QString& text, const std::optional<MidiPort>& port, bool checked) {
        QAction* entry = submenu_->addAction(text);
        entry->setCheckable(true);
        entry->setChecked(checked);
        choices_->addAction(entry);
        connect(entry, &QAction::triggered, this, [this, port] { taps_.choose(port); });
    };
    // A tick means heard: a port chosen but not heard says why.
    add(tr("None"), std::nullopt, !chosen);
    for (const MidiPort& port : ports) {
        add(port == present && !heard ? tr("%1 (not connected)").arg(label(port)) : label(port),
            port, port == present && heard);
    }
    if (chosen && !present) {
        // Unplugged: it is heard again as soon as it is back.
        add(tr("%1 (missing)").arg(label(*chosen)), chosen, false);
    }
    submenu_->addSeparator();
    const bool learning = taps_.isLearning();
    QAction* learn =
        submenu_->addAction(learning ? tr("Learning… strike the pedal") : tr("Learn tap…"));
    learn->setEnabled(learning || heard);
    connect(learn, &QAction::triggered, this,
            [this, learning] { learning ? taps_.stopLearning() : taps_.learn(); });
    const auto what = [](const MidiMessage& message) {
        return (message.kind == MidiMessage::Kind::note ? tr("note %1, channel %2")
                                                        : tr("controller %1, channel %2"))
            .arg(message.number)
            .arg(message.channel);
    };
    if (const std::optional<MidiMessage> message = taps_.learned()) {
        submenu_->addAction(tr("Tap on: %1").arg(what(*message)))->setEnabled(false);
        connect(submenu_->addAction(tr("Any note or pedal")), &QAction::triggered, &taps_,
                &Taps::forget);
    }
    // A second message, a pad or a switch of its own, that marks the one.
    const bool learningOne = taps_.isLearningOne();
    QAction* learnOne =
        submenu_->addAction(learningOne ? tr("Learning… strike the one") : tr("Learn the one…"));
    learnOne->setEnabled(learningOne || heard);
    connect(learnOne, &QAction::triggered, this, [this, learningOne] {
        learningOne ? taps_.setLearnedOne(taps_.learnedOne(), true) : taps_.learnOne();
    });
    if (const std::optional<MidiMessage> message = taps_.learnedOne()) {
        submenu_->addAction(tr("The one on: %1").arg(what(*message)))->setEnabled(false);
        connect(submenu_->addAction(tr("No message for the one")), &QAction::triggered, this,
                [this] { taps_.setLearnedOne(std::nullopt, true); });
    }
}

} // namespace tempocalc
