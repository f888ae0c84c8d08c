#include "midi_entry.h"

#include <QActionGroup>
#include <QMenu>

namespace tempocalc {

MidiEntry::MidiEntry(QMenu* menu, Settings& settings, const MidiTap::Clock& clock)
    : QObject(menu), settings_(settings), tap_(new MidiTap(clock, this)) {
    submenu_ = menu->addMenu(tr("Tap from MIDI"));
    submenu_->setObjectName(QStringLiteral("midiMenu"));
    choices_ = new QActionGroup(submenu_);
    connect(submenu_, &QMenu::aboutToShow, this, &MidiEntry::fill);
    connect(tap_, &MidiTap::strikeAt, this, &MidiEntry::strikeAt);
    connect(tap_, &MidiTap::learnedChanged, this, [this] {
        const std::optional<MidiMessage> learned = tap_->learned();
        settings_.setMidiMessage(learned ? learned->toString() : QString());
    });
    tap_->setLearned(MidiMessage::fromString(settings_.midiMessage));
    if (!settings_.midiPort.isEmpty()) {
        tap_->open({settings_.midiApi, settings_.midiPort});
    }
}

void MidiEntry::fill() {
    submenu_->clear(); // the entries go, and with them their places in the group
    int systems = 0;
    const QList<MidiPort> ports = tap_->ports(&systems);
    const std::optional<MidiPort> chosen = tap_->chosen();
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
    const auto add = [&](const QString& text, const std::optional<MidiPort>& port, bool checked) {
        QAction* entry = submenu_->addAction(text);
        entry->setCheckable(true);
        entry->setChecked(checked);
        choices_->addAction(entry);
        connect(entry, &QAction::triggered, this, [this, port] { choose(port); });
    };
    add(tr("None"), std::nullopt, !chosen);
    for (const MidiPort& port : ports) {
        add(label(port), port, port == present);
    }
    if (chosen && !present) {
        // Unplugged: choosing it again once it is back listens to it again.
        add(tr("%1 (missing)").arg(label(*chosen)), chosen, true);
    }
    submenu_->addSeparator();
    QAction* learn = submenu_->addAction(tr("Learn tap…"));
    learn->setEnabled(tap_->isOpen());
    connect(learn, &QAction::triggered, tap_, &MidiTap::learn);
}

void MidiEntry::choose(const std::optional<MidiPort>& port) {
    if (port) {
        tap_->open(*port);
        settings_.setMidiPort(port->api, port->name);
    } else {
        // Nothing strikes any more, and what was learned is forgotten.
        tap_->close();
        tap_->setLearned(std::nullopt);
        settings_.setMidiPort(QString(), QString());
        settings_.setMidiMessage(QString());
    }
}

} // namespace tempocalc
