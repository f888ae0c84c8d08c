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
