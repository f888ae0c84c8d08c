#include "rtmidi_input.h"

namespace tempocalc {

RtMidiInput::RtMidiInput(const MidiTap::Clock& clock, const QString& leftOut, QObject* parent)
    : TapInput(parent), tap_(new MidiTap(clock, this)), leftOut_(leftOut) {
    if (!leftOut.isEmpty()) {
        tap_->leaveOut(leftOut);
    }
    connect(tap_, &MidiTap::strikeAt, this, &TapInput::strikeAt);
    connect(tap_, &MidiTap::learnedChanged, this, &TapInput::learnedChanged);
}

void RtMidiInput::refresh() {
    // Its system went away and is back (a device unplugged and plugged in again).
    if (const std::optional<MidiPort> chosen = tap_->chosen(); chosen && !tap_->isOpen()) {
        if (const std::optional<MidiPort> present = MidiPort::find(*chosen, tap_->ports())) {
            tap_->open(*present);
        }
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
