#pragma once

#include <QObject>

#include <memory>
#include <optional>

namespace tempocalc {

// The program's place in an Ableton Link session: join or leave it, set its tempo,
// and hear how many peers it has and what its tempo is. Nothing touches the network
// until the session is joined. Link calls back on threads of its own; what it says
// reaches this object's thread as the signals below, never anything else.
class LinkSession : public QObject {
    Q_OBJECT

public:
    // The tempi that a Link session can hold, in beats per minute.
    static constexpr double lowest_tempo = 20.0;
    static constexpr double highest_tempo = 999.0;

    explicit LinkSession(QObject* parent = nullptr);
    ~LinkSession() override;

    // Joining takes the session's tempo as it is; leaving tells the peers at once.
    void setEnabled(bool enabled);
    bool isEnabled() const;

    // Sets the session's tempo from now on, keeping its beat phase. A tempo outside
    // Link's range is not sent; returns whether it was.
    bool publishTempo(double bpm);

    int peers() const { return peers_; }
    // The session's tempo while joined.
    std::optional<double> sessionTempo() const;

signals:
    void peersChanged(int peers);
    void sessionTempoChanged(double bpm);

private:
    struct Peer;
    std::unique_ptr<Peer> peer_;
    int peers_ = 0;
    unsigned session_ = 0; // counts the times the session was joined
};

} // namespace tempocalc
