#pragma once

#include "midi_tap.h"
#include "tap_input.h"

QT_BEGIN_NAMESPACE
class QTimer;
QT_END_NAMESPACE

namespace tempocalc {

// The MIDI systems that RtMidi reaches (ALSA's sequencer, and JACK where the program
// has no JACK client of its own), as a way into "Tap from MIDI".
class RtMidiInput : public TapInput {
    Q_OBJECT

public:
    // leftOut: a system whose ports another input handles ("jack"), or none.
    RtMidiInput(const MidiTap::Clock& clock, const QString& leftOut, QObject* parent = nullptr);

    void refresh() override;
    QList<MidiPort> ports(int& systems) override;
    bool handles(const MidiPort& port) const override;
    bool open(const MidiPort& port) override;
    void close() override;
    bool isOpen() const override { return tap_->isOpen(); }
    void learn() override { tap_->learn(); }
    bool isLearning() const override { return tap_->isLearning(); }
    std::optional<MidiMessage> learned() const override { return tap_->learned(); }
    void setLearned(std::optional<MidiMessage> message) override { tap_->setLearned(message); }
    void learnOne() override { tap_->learnOne(); }
    bool isLearningOne() const override { return tap_->isLearningOne(); }
    std::optional<MidiMessage> learnedOne() const override { return tap_->learnedOne(); }
    void setLearnedOne(std::optional<MidiMessage> message) override {
        tap_->setLearnedOne(message);
    }

private:
    // Looks for the chosen port while it is not there; nothing says when it comes back.
    void lookAgainLater();

    MidiTap* tap_;
    QString leftOut_;
    QTimer* look_;
};

} // namespace tempocalc
