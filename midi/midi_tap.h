#pragma once

#include "midi_filter.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace tempocalc {

// Strikes from a MIDI port: every note-on, and every controller that rises from below
// 64 to 64 or more, or only the message learned. Messages within 30 ms of the
// previous strike are the same strike (a chord, a pad's double trigger, a bouncing
// switch); everything else is ignored. The clock is read on the MIDI thread as a
// message arrives, and the reading reaches this object's thread as strikeAt.
class MidiTap : public QObject {
    Q_OBJECT

public:
    // Seconds since local midnight; read on the MIDI thread, so it must be safe there.
    using Clock = std::function<double()>;
    static constexpr double merge_seconds = TapFilter::merge_seconds;

    explicit MidiTap(Clock clock, QObject* parent = nullptr);
    ~MidiTap() override;

    // A system ("jack") whose ports another input of the program's handles: left out.
    void leaveOut(const QString& api) { leftOut_ << api; }

    // Every input port the MIDI systems offer now. systems, when given, counts the
    // systems that answered (none: no MIDI at all).
    QList<MidiPort> ports(int* systems = nullptr) const;

    // Listens to the port, and to it alone; false, with nothing open, when it is not there.
    bool open(const MidiPort& port);
    void close();
    // The port chosen last, whether it is still there or not.
    std::optional<MidiPort> chosen() const { return chosen_; }
    bool isOpen() const;

    // The next message that would tap becomes the only one that does.
    void learn();
    bool isLearning() const;
    std::optional<MidiMessage> learned() const;
    void setLearned(std::optional<MidiMessage> message);
    // The message that marks the one, learned as the one to strike with is.
    void learnOne();
    bool isLearningOne() const;
    std::optional<MidiMessage> learnedOne() const;
    void setLearnedOne(std::optional<MidiMessage> message);

signals:
    void strikeAt(double reading);
    void learnedChanged();
    void oneMarked();

private:
    struct Listener;
    struct Port;
    std::unique_ptr<Listener> listener_;
    std::optional<MidiPort> chosen_;
    QStringList leftOut_;
};

} // namespace tempocalc
