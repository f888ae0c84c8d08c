#include "rtmidi_input.h"

#include <QTimer>

namespace tempocalc {

RtMidiInput::RtMidiInput(const MidiTap::Clock& clock, const QString& leftOut, QObject* parent)
    : TapInput(parent), tap_(new MidiTap(clock, this)), leftOut_(leftOut), look_(new QTimer(this)) {
    // ALSA's sequencer says nothing through RtMidi of a device plugged in again: while
    // the chosen port is missing it is looked for once a second, and only then.
    look_->setInterval(1000);
    connect(look_, &QTimer::timeout, this, &RtMidiInput::refresh);
    if (!leftOut.isEmpty()) {
        tap_->leaveOut(leftOut);
    }
    connect(tap_, &MidiTap::strikeAt, this, &TapInput::strikeAt);
    connect(tap_, &MidiTap::learnedChanged, this, &TapInput::learnedChanged);
    connect(tap_, &MidiTap::oneMarked, this, &TapInput::oneMarked);
}

void RtMidiInput::refresh() {
    // Its system went away and is back (a device unplugged and plugged in again).
    if (const std::optional<MidiPort> chosen = tap_->chosen(); chosen && !tap_->isOpen()) {
        if (const std::optional<MidiPort> present = MidiPort::find(*chosen, tap_->ports())) {
            if (tap_->open(*present)) {
                emit portsChanged();
            }
        }
    }
    lookAgainLater();
}

bool RtMidiInput::open(const MidiPort& port) {
    const bool opened = tap_->open(port);
    lookAgainLater();
    return opened;
}

void RtMidiInput::close() {
    tap_->close();
    look_->stop();
}

void RtMidiInput::lookAgainLater() {
    if (tap_->chosen() && !tap_->isOpen()) {
        look_->start();
    } else {
        look_->stop();
    }
}

QList<MidiPort> RtMidiInput::ports(int& systems) {
    int answered = 0;
    const QList<MidiPort> found = tap_->ports(&answered);
    systems += answered;
    return found;
}

bool RtMidiInput::handles(const MidiPort& port) const {
    return port.api != leftOut_;
}

} // namespace tempocalc
