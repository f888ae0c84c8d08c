#pragma once

#include "settings.h"
#include "tap_input.h"

#include <QList>
#include <QObject>

#include <optional>

namespace tempocalc {

// Striking from MIDI: the ports of every input to strike from, the one chosen (kept in
// the settings, and waited for while it is unplugged), and the one message that
// strikes, learned on any input and held for all of them.
class Taps : public QObject {
    Q_OBJECT

public:
    Taps(Settings& settings, QList<TapInput*> inputs, QObject* parent = nullptr);

    // Asks every system for its ports again (as a menu opens); portsChanged follows
    // when the answers change what ports() gives.
    void refresh();
    // The ports offered now; systems counts the systems that answered.
    QList<MidiPort> ports(int& systems) const;
    std::optional<MidiPort> chosen() const { return chosen_; }
    // Whether the chosen port is heard now.
    bool heard() const;
    // Listens to the port (none: to nothing); kept in the settings, or for this run only.
    void choose(const std::optional<MidiPort>& port, bool keep = true);

    // The next message that would strike becomes the only one that does.
    void learn();
    void stopLearning();
    bool isLearning() const;
    std::optional<MidiMessage> learned() const;
    // Any note or pedal strikes again.
    void forget();
    // The message that strikes (none: any), on every input; kept in the settings, or
    // for this run only.
    void setLearned(const std::optional<MidiMessage>& message, bool keep);

    // The message that marks the one, learned as the one to strike with is, on the
    // chosen port; it strikes no more.
    void learnOne();
    bool isLearningOne() const;
    std::optional<MidiMessage> learnedOne() const;
    void setLearnedOne(const std::optional<MidiMessage>& message, bool keep);

signals:
    void strikeAt(double reading);
    void portsChanged();
    void learnedChanged();
    void oneMarked();

private:
    TapInput* inputFor(const MidiPort& port) const;

    Settings& settings_;
    QList<TapInput*> inputs_;
    std::optional<MidiPort> chosen_;
};

} // namespace tempocalc
