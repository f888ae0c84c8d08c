#include "taps.h"

namespace tempocalc {

Taps::Taps(Settings& settings, QList<TapInput*> inputs, QObject* parent)
    : QObject(parent), settings_(settings), inputs_(std::move(inputs)) {
    for (TapInput* input : inputs_) {
        input->setParent(this);
        connect(input, &TapInput::strikeAt, this, &Taps::strikeAt);
        connect(input, &TapInput::portsChanged, this, &Taps::portsChanged);
        connect(input, &TapInput::oneMarked, this, &Taps::oneMarked);
        // Learned on one input, it holds for every input, and for the next start.
        connect(input, &TapInput::learnedChanged, this, [this, input] {
            setLearned(input->learned(), true);
            setLearnedOne(input->learnedOne(), true);
            emit learnedChanged();
        });
    }
    setLearned(MidiMessage::fromString(settings_.midiMessage), false);
    setLearnedOne(MidiMessage::fromString(settings_.midiOne), false);
    if (!settings_.midiPort.isEmpty()) {
        choose(MidiPort{settings_.midiApi, settings_.midiPort}, false);
    }
}

TapInput* Taps::inputFor(const MidiPort& port) const {
    for (TapInput* input : inputs_) {
        if (input->handles(port)) {
            return input;
        }
    }
    return nullptr;
}

void Taps::refresh() {
    for (TapInput* input : inputs_) {
        input->refresh();
    }
}

QList<MidiPort> Taps::ports(int& systems) const {
    QList<MidiPort> ports;
    for (TapInput* input : inputs_) {
        ports += input->ports(systems);
    }
    return ports;
}

bool Taps::heard() const {
    const TapInput* input = chosen_ ? inputFor(*chosen_) : nullptr;
    return input && input->isOpen();
}

void Taps::choose(const std::optional<MidiPort>& port, bool keep) {
    for (TapInput* input : inputs_) {
        input->close();
    }
    chosen_ = port;
    if (port) {
        if (TapInput* input = inputFor(*port)) {
            input->open(*port);
        }
    } else {
        // Nothing strikes any more, and what was learned is forgotten.
        setLearned(std::nullopt, keep);
        setLearnedOne(std::nullopt, keep);
    }
    if (keep) {
        settings_.setMidiPort(port ? port->api : QString(), port ? port->name : QString());
    }
    emit portsChanged();
}

void Taps::learn() {
    if (TapInput* input = chosen_ ? inputFor(*chosen_) : nullptr) {
        input->learn();
        emit learnedChanged();
    }
}

void Taps::stopLearning() {
    setLearned(learned(), false); // setting what is learned ends learning
    emit learnedChanged();
}

bool Taps::isLearning() const {
    const TapInput* input = chosen_ ? inputFor(*chosen_) : nullptr;
    return input && input->isLearning();
}

std::optional<MidiMessage> Taps::learned() const {
    return inputs_.isEmpty() ? std::nullopt : inputs_.first()->learned();
}

void Taps::forget() {
    setLearned(std::nullopt, true);
    emit learnedChanged();
}

void Taps::setLearned(const std::optional<MidiMessage>& message, bool keep) {
    for (TapInput* input : inputs_) {
        if (input->learned() != message || input->isLearning()) {
            input->setLearned(message);
        }
    }
    if (keep) {
        settings_.setMidiMessage(message ? message->toString() : QString());
    }
}

void Taps::learnOne() {
    if (TapInput* input = chosen_ ? inputFor(*chosen_) : nullptr) {
        input->learnOne();
        emit learnedChanged();
    }
}

bool Taps::isLearningOne() const {
    const TapInput* input = chosen_ ? inputFor(*chosen_) : nullptr;
    return input && input->isLearningOne();
}

std::optional<MidiMessage> Taps::learnedOne() const {
    return inputs_.isEmpty() ? std::nullopt : inputs_.first()->learnedOne();
}

void Taps::setLearnedOne(const std::optional<MidiMessage>& message, bool keep) {
    for (TapInput* input : inputs_) {
        if (input->learnedOne() != message || input->isLearningOne()) {
            input->setLearnedOne(message);
        }
    }
    if (keep) {
        settings_.setMidiOne(message ? message->toString() : QString());
    }
}

} // namespace tempocalc
