#pragma once

#include "midi_filter.h"

#include <QList>
#include <QObject>

#include <optional>

namespace tempocalc {

// One way into "Tap from MIDI": the input ports of one or more MIDI systems, the one
// listened to, and learning the message that strikes there.
class TapInput : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Asks the systems for their ports again, as the menu opens; portsChanged says when
    // the answer changes what ports() gives. Listens again to the chosen port where it
    // is back and nothing else would notice.
    virtual void refresh() {}
    // The ports offered now; systems counts the systems that answered.
    virtual QList<MidiPort> ports(int& systems) = 0;
    // Whether ports of this port's system come through this input.
    virtual bool handles(const MidiPort& port) const = 0;
    // Listens to the port, and to it alone; false when it is not there now.
    virtual bool open(const MidiPort& port) = 0;
    virtual void close() = 0;
    // Whether the chosen port is heard now.
    virtual bool isOpen() const = 0;

    virtual void learn() = 0;
    virtual bool isLearning() const = 0;
    virtual std::optional<MidiMessage> learned() const = 0;
    virtual void setLearned(std::optional<MidiMessage> message) = 0;
    // The message that marks the one, learned in the same way.
    virtual void learnOne() = 0;
    virtual bool isLearningOne() const = 0;
    virtual std::optional<MidiMessage> learnedOne() const = 0;
    virtual void setLearnedOne(std::optional<MidiMessage> message) = 0;

signals:
    // A strike, at a reading of the window's clock.
    void strikeAt(double reading);
    void learnedChanged();
    void portsChanged();
    // The message that marks the one came: the next strike is the one.
    void oneMarked();
};

} // namespace tempocalc
