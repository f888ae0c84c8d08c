#include "midi_filter.h"

#include <QRegularExpression>
#include <QStringList>

namespace tempocalc {

QString MidiPort::systemName() const {
    return api == QLatin1String("alsa")   ? QStringLiteral("ALSA")
           : api == QLatin1String("jack") ? QStringLiteral("JACK")
                                          : api;
}

QString MidiPort::stableName() const {
    if (api == QLatin1String("alsa")) {
        static const QRegularExpression numbers(QStringLiteral(" \\d+:\\d+$"));
        return QString(name).remove(numbers);
    }
    if (api == QLatin1String("jack")) {
        // "a2j:Pedal [24] (capture): Pedal MIDI 1": the number is the ALSA client's, which
        // the device gets anew each time it is plugged in.
        static const QRegularExpression a2jClientNumber(
            QStringLiteral("^(a2j:.*?) \\[\\d+\\]( \\((?:capture|playback)\\): )"));
        return QString(name).replace(a2jClientNumber, QStringLiteral("\\1\\2"));
    }
    return name;
}

std::optional<MidiPort> MidiPort::find(const MidiPort& wanted, const QList<MidiPort>& ports) {
    if (ports.contains(wanted)) {
        return wanted;
    }
    std::optional<MidiPort> found;
    for (const MidiPort& port : ports) {
        if (port.api == wanted.api && port.stableName() == wanted.stableName()) {
            if (found) {
                return std::nullopt; // two of the same name: only the full name tells
            }
            found = port;
        }
    }
    return found;
}

namespace {

constexpr double secondsPerDay = 86400.0;

int pack(const MidiMessage& m) {
    return (m.kind == MidiMessage::Kind::controller ? 1 << 16 : 0) | (m.channel - 1) << 8 |
           m.number;
}
MidiMessage unpack(int packed) {
    return {packed >> 16 ? MidiMessage::Kind::controller : MidiMessage::Kind::note,
            (packed >> 8 & 0xff) + 1, packed & 0xff};
}

} // namespace

QString MidiMessage::toString() const {
    return QStringLiteral("%1 %2 %3")
        .arg(kind == Kind::note ? QStringLiteral("note") : QStringLiteral("controller"))
        .arg(channel)
        .arg(number);
}

std::optional<MidiMessage> MidiMessage::fromString(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(' '));
    if (parts.size() != 3) {
        return std::nullopt;
    }
    bool channelRead = false, numberRead = false;
    const int channel = parts[1].toInt(&channelRead);
    const int number = parts[2].toInt(&numberRead);
    if (!channelRead || !numberRead || channel < 1 || channel > 16 || number < 0 || number > 127) {
        return std::nullopt;
    }
    if (parts[0] == QLatin1String("note")) {
        return MidiMessage{Kind::note, channel, number};
    }
    if (parts[0] == QLatin1String("controller")) {
        return MidiMessage{Kind::controller, channel, number};
    }
    return std::nullopt;
}

std::optional<MidiMessage> TapFilter::learned() const {
    const int packed = learned_;
    return packed == nothing_learned ? std::nullopt : std::optional(unpack(packed));
}

void TapFilter::setLearned(std::optional<MidiMessage> message) {
    learning_ = false;
    learned_ = message ? pack(*message) : nothing_learned;
}

std::optional<MidiMessage> TapFilter::learnedOne() const {
    const int packed = one_;
    return packed == nothing_learned ? std::nullopt : std::optional(unpack(packed));
}

void TapFilter::setLearnedOne(std::optional<MidiMessage> message) {
    learningOne_ = false;
    one_ = message ? pack(*message) : nothing_learned;
}

TapFilter::Heard TapFilter::hear(const unsigned char* bytes, std::size_t size, double seconds) {
    if (size != 3) {
        return Heard::nothing;
    }
    const int status = bytes[0] & 0xf0;
    const int channel = (bytes[0] & 0x0f) + 1;
    const int number = bytes[1] & 0x7f;
    const int value = bytes[2] & 0x7f;
    MidiMessage message;
    if (status == 0x90 && value > 0) {
        message = {MidiMessage::Kind::note, channel, number};
    } else if (status == 0xb0) {
        unsigned char& previous =
            controllers_[static_cast<std::size_t>((channel - 1) * 128 + number)];
        const bool rose = previous < 64 && value >= 64;
        previous = static_cast<unsigned char>(value);
        if (!rose) {
            return Heard::nothing;
        }
        message = {MidiMessage::Kind::controller, channel, number};
    } else {
        return Heard::nothing; // note-offs, and everything that is not a note or a controller
    }
    if (learningOne_.exchange(false)) {
        one_ = pack(message);
        return Heard::learned;
    }
    if (learning_.exchange(false)) {
        learned_ = pack(message);
        return Heard::learned;
    }
    if (one_ == pack(message)) {
        return Heard::one;
    }
    if (const int only = learned_; only != nothing_learned && only != pack(message)) {
        return Heard::nothing;
    }
    if (lastStrike_) {
        double since = seconds - *lastStrike_;
        if (since < 0) {
            since += secondsPerDay;
        }
        if (since < merge_seconds) {
            return Heard::nothing;
        }
    }
    lastStrike_ = seconds;
    return Heard::strike;
}

void TapFilter::restart() {
    controllers_.fill(0);
    lastStrike_.reset();
}

} // namespace tempocalc
