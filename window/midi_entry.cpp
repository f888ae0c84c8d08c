#include "midi_entry.h"

#include <QActionGroup>
#include <QMenu>

namespace tempocalc {

MidiEntry::MidiEntry(QMenu* menu, Settings& settings, QList<TapInput*> inputs)
    : QObject(menu), settings_(settings), inputs_(std::move(inputs)) {
    submenu_ = menu->addMenu(tr("Tap from MIDI"));
    submenu_->setObjectName(QStringLiteral("midiMenu"));
    choices_ = new QActionGroup(submenu_);
    connect(submenu_, &QMenu::aboutToShow, this, &MidiEntry::fill);
    const std::optional<MidiMessage> learned = MidiMessage::fromString(settings_.midiMessage);
    for (TapInput* input : inputs_) {
        connect(input, &TapInput::strikeAt, this, &MidiEntry::strikeAt);
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
    // Its system went away and is back (a JACK server started again): listen again.
    if (present && listening && !listening->isOpen()) {
        listening->open(*present);
    }
    const auto add = [&](const QString& text, const std::optional<MidiPort>& port, bool checked) {
        QAction* entry = submenu_->addAction(text);
        entry->setCheckable(true);
        entry->setChecked(checked);
        choices_->addAction(entry);
        connect(entry, &QAction::triggered, this, [this, port] { choose(port); });
    };
    add(tr("None"), std::nullopt, !chosen_);
    for (const MidiPort& port : ports) {
        add(label(port), port, port == present);
    }
    if (chosen_ && !present) {
        // Unplugged: choosing it again once it is back listens to it again.
        add(tr("%1 (missing)").arg(label(*chosen_)), chosen_, true);
    }
    submenu_->addSeparator();
    QAction* learn = submenu_->addAction(tr("Learn tap…"));
    learn->setEnabled(listening && listening->isOpen());
    connect(learn, &QAction::triggered, this, [listening] { listening->learn(); });
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
        for (TapInput* input : inputs_) {
            input->setLearned(std::nullopt);
        }
        settings_.setMidiPort(QString(), QString());
        settings_.setMidiMessage(QString());
    }
}

} // namespace tempocalc
