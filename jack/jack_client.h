#pragma once

#include "midi_filter.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

namespace tempocalc {

// The program's one JACK client, "tempo-calculator", with three ports it connects to
// nothing by itself: MIDI clock out on "clock" and a click on "click", both following a
// beat grid to the sample, and MIDI in on "tap", whose strikes are timed by the frame
// of their event.
//
// JACK's process callback does the real-time work and never locks, allocates, calls
// into Qt or makes a system call but one: the eventfd that wakes this object's thread
// for a strike. Whatever it says reaches this object's thread as the signals below.
class JackClient : public QObject {
    Q_OBJECT

public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // Quarter-note beats every 60/bpm seconds, one of them at `beat`.
    struct Grid {
        double bpm = 0;
        TimePoint beat;
        friend bool operator==(const Grid&, const Grid&) = default;
    };

    static constexpr const char* client_name = "tempo-calculator";
    static constexpr int ticks_per_beat = 24;
    static constexpr double merge_seconds = TapFilter::merge_seconds;

    explicit JackClient(QObject* parent = nullptr);
    ~JackClient() override; // closes

    // Joins the JACK server that runs (never starts one) with the three ports, and
    // connects "tap" to the port chosen with tapFrom. False, with the reason in
    // error() in one line, when it cannot.
    bool open();
    QString error() const { return error_; }
    // Stops the clock (a Stop goes out first) and leaves the server.
    void close();
    bool isOpen() const;

    // The grid, the switches and the tap's port are kept while closed, and hold again
    // on the next open.
    void setGrid(std::optional<Grid> grid);
    std::optional<Grid> grid() const { return grid_; }
    void setClock(bool on);
    bool clock() const { return clock_; }
    void setClick(bool on);
    bool click() const { return click_; }

    // The MIDI output ports of the other clients, by their full names; while closed,
    // asked through a client that is opened for it and closed again. answered, when
    // given, says whether a JACK server answered at all.
    QStringList tapSources(bool* answered = nullptr) const;
    // Connects the port, and it alone, to "tap" (an empty name: none). False when it
    // cannot be connected now (closed, or the port is not there); the choice is kept.
    bool tapFrom(const QString& port);
    QString tappedFrom() const { return tapped_; }

    void learn();
    bool isLearning() const;
    std::optional<MidiMessage> learned() const;
    void setLearned(std::optional<MidiMessage> message);

    // JACK's clock (CLOCK_MONOTONIC_RAW in jack2 on Linux) minus the steady clock
    // (CLOCK_MONOTONIC), as last measured; nothing while closed.
    std::optional<std::chrono::nanoseconds> clockOffset() const;

signals:
    // A strike, at the time of its MIDI event.
    void strikeAt(std::chrono::steady_clock::time_point at);
    void learnedChanged();
    // The server went away or dropped the client: closed now, and why, in one line.
    void shutDown(const QString& reason);

private:
    struct Shared;
    void publish();
    void measureClock();
    void drain();
    void release(); // closes the JACK side and what waits on it

    std::unique_ptr<TapFilter> filter_; // outlives every client: the learned message stays
    std::unique_ptr<Shared> shared_;
    QString error_;
    std::optional<Grid> grid_;
    bool clock_ = false;
    bool click_ = false;
    QString tapped_;
};

} // namespace tempocalc
