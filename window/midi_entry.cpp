#include "midi_entry.h"

#include <QActionGroup>
#include <QMenu>

namespace tempocalc {

MidiEntry::MidiEntry(QMenu* menu, Settings& settings, QList<TapInput*> inputs)
    : QObject(menu), settings_(settings), inputs_(std::move(inputs)) {
    submenu_ = menu->addMenu(tr("Tap from MIDI"));
    submenu_->setObjectName(QStringLiteral("midiMenu"));
    choices_ = new QActionGroup(submenu_);
    connect(submenu_, &QMenu::aboutToShow, this, [this] {
        for (TapInput* input : inputs_) {
            input->refresh();
        }
        fill();
    });
    const std::optional<MidiMessage> learned = MidiMessage::fromString(settings_.midiMessage);
    for (TapInput* input : inputs_) {
        connect(input, &TapInput::strikeAt, this, &MidiEntry::strikeAt);
        connect(input, &TapInput::portsChanged, this, [this] {
            if (submenu_->isVisible()) {
                fill();
            }
        });
        connect(input, &TapInput::learnedChanged, this, [this, input] {
            const std::optional<MidiMessage> now = input->learned();
            settings_.setMidiMessage(now ? now->toString() : QString());
            for (TapInput* other : inputs_) {
                if (other != input) {
                    other->setLearned(now);
                }
            }
        });
        input->setLearned(learned);
    }
    if (!settings_.midiPort.isEmpty()) {
        chosen_ = MidiPort{settings_.midiApi, settings_.midiPort};
        if (TapInput* input = inputFor(*chosen_)) {
            input->open(*chosen_);
        }
    }
}

TapInput* MidiEntry::inputFor(const MidiPort& port) const {
    for (TapInput* input : inputs_) {
        if (input->handles(port)) {
            return input;
        }
    }
    return nullptr;
}

void MidiEntry::fill() {
    submenu_->clear(); // the entries go, and with them their places in the group
    int systems = 0;
    QList<MidiPort> ports;
    for (TapInput* input : inputs_) {
        ports += input->ports(systems);
    }
    if (systems == 0 && !chosen_) {
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
    const std::optional<MidiPort> present =
        chosen_ ? MidiPort::find(*chosen_, ports) : std::nullopt;
    TapInput* listening = chosen_ ? inputFor(*chosen_) : nullptr;
    const bool heard = present && listening && listening->isOpen();
    const auto add = [&](const QString& text, const std::optional<MidiPort>& port, bool checked) {
        QAction* entry = submenu_->addAction(text);
        entry->setCheckable(true);
        entry->setChecked(checked);
        choices_->addAction(entry);
        connect(entry, &QAction::triggered, this, [this, port] { choose(port); });
    };
    // A tick means heard: a port chosen but not heard says why.
    add(tr("None"), std::nullopt, !chosen_);
    for (const MidiPort& port : ports) {
        add(port == present && !heard ? tr("%1 (not connected)").arg(label(port)) : label(port),
            port, port == present && heard);
    }
    if (chosen_ && !present) {
        // Unplugged: it is heard again as soon as it is back.
        add(tr("%1 (missing)").arg(label(*chosen_)), chosen_, false);
    }
    submenu_->addSeparator();
    const bool learning = listening && listening->isLearning();
    QAction* learn =
        submenu_->addAction(learning ? tr("Learning… strike the pedal") : tr("Learn tap…"));
    learn->setEnabled(learning || heard);
    connect(learn, &QAction::triggered, this, [listening, learning] {
        if (learning) {
            listening->setLearned(listening->learned()); // stops learning, keeps what was
        } else {
            listening->learn();
        }
    });
    if (const std::optional<MidiMessage> message = MidiMessage::fromString(settings_.midiMessage)) {
        const QString what = message->kind == MidiMessage::Kind::note
                                 ? tr("note %1, channel %2")
                                 : tr("controller %1, channel %2");
        submenu_->addAction(tr("Tap on: %1").arg(what.arg(message->number).arg(message->channel)))
            ->setEnabled(false);
        connect(submenu_->addAction(tr("Any note or pedal")), &QAction::triggered, this,
                &MidiEntry::forget);
    }
}

void MidiEntry::forget() {
    for (TapInput* input : inputs_) {
        input->setLearned(std::nullopt);
    }
    settings_.setMidiMessage(QString());
}

void MidiEntry::choose(const std::optional<MidiPort>& port) {
    for (TapInput* input : inputs_) {
        input->close();
    }
    chosen_ = port;
    if (port) {
        if (TapInput* input = inputFor(*port)) {
            input->open(*port);
        }
        settings_.setMidiPort(port->api, port->name);
    } else {
        // Nothing strikes any more, and what was learned is forgotten.
        forget();
        settings_.setMidiPort(QString(), QString());
    }
}

} // namespace tempocalc
