#pragma once

#include <QList>
#include <QString>

#include <array>
#include <atomic>
#include <cstddef>
#include <optional>

namespace tempocalc {

// An input port of a MIDI system, as the system names it.
struct MidiPort {
    QString api;  // the system: "alsa" or "jack"
    QString name; // the port's name there

    // "ALSA", "JACK"
    QString systemName() const;
    // The name without what changes between sessions: ALSA's ends in the sequencer's
    // client and port numbers ("Pedal:Pedal MIDI 1 24:0"), which follow the order in
    // which devices were plugged in and clients started; JACK's a2j bridge puts the ALSA
    // client number into its port's name ("a2j:Pedal [24] (capture): Pedal MIDI 1").
    QString stableName() const;
    friend bool operator==(const MidiPort&, const MidiPort&) = default;

    // The port of the list that is the one wanted: the same name, or else the only
    // port of the same system with the same stable name.
    static std::optional<MidiPort> find(const MidiPort& wanted, const QList<MidiPort>& ports);
};

// The one message that taps, once learned: a note or a controller on a channel.
struct MidiMessage {
    enum class Kind { note, controller };
    Kind kind = Kind::note;
    int channel = 1; // 1 to 16
    int number = 0;  // 0 to 127

    // "note 1 60", "controller 1 64"; anything else reads as nothing.
    QString toString() const;
    static std::optional<MidiMessage> fromString(const QString& text);
    friend bool operator==(const MidiMessage&, const MidiMessage&) = default;
};

// Which MIDI messages strike: every note-on, and every controller that rises from below
// 64 to 64 or more, or only the message learned. Messages within 30 ms of the previous
// strike are the same strike (a chord, a pad's double trigger, a bouncing switch);
// everything else is ignored.
//
// Two threads share it. The one that chooses (the window's) learns and sets what is
// learned, through atomics. The MIDI thread alone hears messages: hear() neither
// locks nor allocates nor calls into Qt, so that it may run in a real-time callback.
class TapFilter {
public:
    static constexpr double merge_seconds = 0.030;

    enum class Heard {
        nothing,
        strike,
        learned, // a message to strike with, or to mark the one with
        one,     // the message that marks the one: the next strike is the one
    };

    // The next message that would strike becomes the only one that does.
    void learn() { learning_ = true; }
    bool isLearning() const { return learning_; }
    std::optional<MidiMessage> learned() const;
    // Stops learning, too.
    void setLearned(std::optional<MidiMessage> message);
    // The next message that would strike becomes the one that marks the one, and strikes
    // no more.
    void learnOne() { learningOne_ = true; }
    bool isLearningOne() const { return learningOne_; }
    std::optional<MidiMessage> learnedOne() const;
    void setLearnedOne(std::optional<MidiMessage> message);

    // One message of size bytes at `seconds`, a reading of a clock that counts up; a
    // reading below the previous strike's is taken as one a day later (readings since
    // midnight). Only on the MIDI thread.
    Heard hear(const unsigned char* bytes, std::size_t size, double seconds);
    // Forgets the controllers' positions and the last strike, for a new stream of
    // messages; only while no thread hears.
    void restart();

private:
    static constexpr int nothing_learned = -1;
    std::atomic<int> learned_{nothing_learned}; // packed, so that the MIDI thread reads it at once
    std::atomic<bool> learning_{false};
    std::atomic<int> one_{nothing_learned};
    std::atomic<bool> learningOne_{false};
    // The MIDI thread's own.
    std::array<unsigned char, 16 * 128> controllers_{};
    std::optional<double> lastStrike_;
};

} // namespace tempocalc
