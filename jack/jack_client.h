#pragma once

#include "midi_filter.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

QT_BEGIN_NAMESPACE
class QThread;
class QTimer;
QT_END_NAMESPACE

namespace tempocalc {

class ListenFeed;

// The program's one JACK client, "tempo-calculator", with three ports: MIDI clock out on
// "clock" and a click on "click", both following a beat grid to the sample, and MIDI in
// on "tap", whose strikes are timed by the frame of their event. It connects "tap" to
// the port chosen to tap from, and nothing else.
//
// The client is there while it is wanted, and it is stubborn about it: with no server it
// waits for one and opens as soon as one runs, and when the server goes away it waits
// for it again; a chosen tap port that goes away is connected again as soon as it comes
// back. Everything that talks to the server (opening, closing, connecting, listing ports)
// runs on a thread of its own, so that a server that hangs never holds up this object's
// thread, which only ever hears how it went, as the signals below.
//
// JACK's process callback does the real-time work and never locks, allocates, calls
// into Qt or makes a system call but one: the eventfd that wakes this object's thread
// for a strike or the server's going away.
class JackClient : public QObject {
    Q_OBJECT

public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // Quarter-note beats every 60/bpm seconds in bars of `bar` beats, the first of a bar
    // (the one) at `one`; marks counts the times the one was set anew, as against bars
    // that go on through a change of tempo.
    struct Grid {
        double bpm = 0;
        TimePoint one;
        int bar = 1;
        unsigned marks = 0;
        friend bool operator==(const Grid&, const Grid&) = default;
    };

    enum class State {
        off,     // not wanted
        opening, // wanted: being opened
        waiting, // wanted, but no server runs (or it refused the client): waiting for one
        open,
        closing, // no longer wanted: a Stop goes out, then the client closes
    };

    static constexpr const char* client_name = "tempo-calculator";
    static constexpr int ticks_per_beat = 24;
    static constexpr double merge_seconds = TapFilter::merge_seconds;

    explicit JackClient(QObject* parent = nullptr);
    ~JackClient() override; // closes, waiting for a server that hangs no longer than 0.4 s

    // Whether the client should be there; it opens, waits or closes by itself.
    void setWanted(bool wanted);
    bool wanted() const { return wanted_; }
    State state() const { return state_; }
    bool isOpen() const { return state_ == State::open; }
    // Why it is not open while it is wanted, in one line.
    QString error() const { return error_; }
    // The client's name while open ("tempo-calculator", or "tempo-calculator-01" beside
    // another copy).
    QString name() const { return name_; }

    // The grid, the switches and the tap's port are kept while closed, and hold again
    // on the next open.
    void setGrid(std::optional<Grid> grid);
    std::optional<Grid> grid() const { return grid_; }
    void setClock(bool on);
    bool clock() const { return clock_; }
    void setClick(bool on);
    bool click() const { return click_; }
    // An audio input, "listen", whose samples go to listenFeed() while this is on; the
    // port stays until the client closes.
    void setListening(bool on);
    bool listening() const { return listening_; }
    ListenFeed& listenFeed();

    // The port to tap from, by its full name (empty: none): "tap" is connected to it,
    // and to it alone, whenever both are there; a port of the same stable name stands
    // for it (an a2j bridge that numbers a pedal anew).
    void setTapSource(const QString& port);
    QString tapSource() const { return tapSource_; }
    // Whether "tap" is connected to it now.
    bool tapConnected() const { return tapConnected_; }
    // The MIDI output ports of the other clients, by their full names, as last heard;
    // answered says whether a server answered then. refreshTapSources asks again (while
    // closed, through a client opened for it and closed again), and tapSourcesChanged
    // says when the answer is in.
    QStringList tapSources(bool* answered = nullptr) const;
    void refreshTapSources();
    // Connections of the client's ports ("clock", "click", "tap") with other clients'
    // ports by their full names (a port of the same stable name stands for one), made
    // whenever both are there, and made again whenever either comes back.
    void setConnections(const QList<QPair<QString, QString>>& connections);

    void learn();
    bool isLearning() const;
    std::optional<MidiMessage> learned() const;
    void setLearned(std::optional<MidiMessage> message);
    void learnOne();
    bool isLearningOne() const;
    std::optional<MidiMessage> learnedOne() const;
    void setLearnedOne(std::optional<MidiMessage> message);

    // JACK's clock (CLOCK_MONOTONIC_RAW in jack2 on Linux) minus the steady clock
    // (CLOCK_MONOTONIC), as last measured; nothing while closed.
    std::optional<std::chrono::nanoseconds> clockOffset() const;

signals:
    // A strike, at the time of its MIDI event.
    void strikeAt(std::chrono::steady_clock::time_point at);
    void learnedChanged();
    // The message that marks the one came.
    void oneMarked();
    void stateChanged(JackClient::State state);
    // The server went away or dropped the client, and why, in one line (JACK's words);
    // while the client is wanted, it waits for a server again.
    void shutDown(const QString& reason);
    void tapSourcesChanged();
    void tapConnectedChanged(bool connected);
    // One of the connections asked for was made, or is gone.
    void connectionChanged(const QString& ours, const QString& theirs, bool connected);

private:
    struct Shared;
    class Worker;
    void setState(State state);
    void opened(const QString& name);
    void failed(const QString& error);
    void closed();
    void publish();
    void measureClock();
    void drain();

    std::unique_ptr<TapFilter> filter_; // outlives every client: the learned message stays
    std::unique_ptr<Shared> shared_;
    QThread* thread_;
    Worker* worker_;
    QTimer* remeasure_;
    bool wanted_ = false;
    State state_ = State::off;
    QString error_;
    QString name_;
    std::optional<Grid> grid_;
    std::uint64_t gridSerial_ = 0;
    std::optional<std::int64_t> offsetNs_; // JACK's clock minus the steady clock, while open
    bool clock_ = false;
    bool click_ = false;
    bool listening_ = false;
    QString tapSource_;
    bool tapConnected_ = false;
    QStringList tapSources_;
    bool answered_ = false;
};

} // namespace tempocalc
