#pragma once

#include "listen_tracker.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <optional>

QT_BEGIN_NAMESPACE
class QThread;
QT_END_NAMESPACE

namespace tempocalc {

class JackControl;

// Listening on the JACK client's "listen" port: the audio goes through the onset front
// end and the tracker on a thread of their own, and what they hear comes back here. The
// player's strikes go to the tracker as the prior that settles the tempo's octave and
// the beat's phase.
class ListenControl : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<double()>; // seconds since local midnight

    ListenControl(Clock clock, JackControl* jack, QObject* parent = nullptr);
    ~ListenControl() override;

    void setOn(bool on);
    bool on() const { return on_; }
    // A strike of the player's at a clock reading, standing for `quarterBeats`.
    void strike(double reading, double quarterBeats);
    // Forgets the music and the strikes.
    void forget();

    // What is heard now, its beat as a clock reading; none while off or still searching.
    std::optional<Heard> heard() const;

signals:
    void heardChanged();

private:
    class Worker;
    void take(const Heard& heard);

    Clock clock_;
    JackControl* jack_;
    QThread* thread_;
    Worker* worker_;
    bool on_ = false;
    std::optional<Heard> heard_; // the beat in steady-clock seconds
};

} // namespace tempocalc
