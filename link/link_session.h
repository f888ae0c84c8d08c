#pragma once

#include <QObject>

#include <chrono>
#include <memory>
#include <optional>

namespace tempocalc {

// The program's place in an Ableton Link session. It joins at the first tempo it
// publishes, so that it can never impose a tempo before it has one of its own, and
// publishes that tempo again once it has met the session that was there before it
// (Link keeps the older session's timeline when two meet). Nothing touches the
// network until then. Link calls back on threads of its own; what it says reaches
// this object's thread as the signals below, never anything else.
class LinkSession : public QObject {
    Q_OBJECT

public:
    // The tempi that a Link session can hold, in beats per minute.
    static constexpr double lowest_tempo = 20.0;
    static constexpr double highest_tempo = 999.0;

    explicit LinkSession(QObject* parent = nullptr);
    ~LinkSession() override;

    // A time on the steady clock that a whole beat of the session should fall on.
    using Beat = std::chrono::steady_clock::time_point;

    // Sets the session's tempo from now on; joins the session first if need be.
    // Without a beat the session keeps its phase. With one, the same commit moves the
    // session's bars onto it: the session's bar line (a whole multiple of `quantum`
    // beats, Link's bar) nearest to that time falls exactly there (every peer's phase
    // moves, by half a bar at most). A tempo outside Link's range is not sent (nor
    // joined for); returns whether it was sent.
    bool publish(double bpm, std::optional<Beat> beat = std::nullopt, double quantum = 1);
    // Sets the session playing from a time on (a bar line), or stopped now, for the
    // peers that follow Link's start and stop; while joined.
    void setPlaying(bool playing, std::optional<Beat> from = std::nullopt);
    // Leaves the session; the peers hear it at once.
    void leave();
    bool isJoined() const;

    int peers() const { return peers_; }
    // The session's tempo while joined.
    std::optional<double> sessionTempo() const;

signals:
    void joinedChanged(bool joined);
    void peersChanged(int peers);
    void sessionTempoChanged(double bpm);

private:
    struct Peer;
    struct Published {
        double bpm;
        std::optional<Beat> beat;
        double quantum;
    };
    void join(double bpm);
    void commit(const Published& published);

    std::unique_ptr<Peer> peer_;
    int peers_ = 0;
    unsigned session_ = 0;               // counts the times the session was joined
    std::optional<Published> published_; // what was published last, since joining
    std::optional<bool> playing_;        // what was said of start and stop, since joining
};

} // namespace tempocalc
