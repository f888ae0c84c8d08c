#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tempocalc {

// What the listening hears now.
struct Heard {
    enum class State {
        searching, // no tempo yet
        unsure,    // a tempo and a phase, not yet trusted
        locked,    // the music's beat, followed
        holding,   // no beat in the music: the last tempo and phase go on
    };
    State state = State::searching;
    double bpm = 0;        // quarter-note beats per minute; 0 while searching
    double beat = 0;       // the time of one beat, on the tracker's timeline (seconds)
    double confidence = 0; // 0 to 1
    bool struck = false;   // the player's strikes have settled the tempo and the phase
};

// Turns the music's onset strength, one value pair per hop, and the player's strikes into
// a tempo, a phase and a confidence. Deterministic, causal, no allocation per hop after
// the first seconds. Times are seconds on one timeline that never goes back (a file's
// seconds, or the clock's readings), each hop stamped with when its audio was played.
class ListenTracker {
public:
    explicit ListenTracker(double hopSeconds);

    // One hop's onset strengths: the complex-domain novelty and the energy novelty, each
    // at least 0.
    void hop(double time, double complexDomain, double energy);
    // A strike of the player's at `time`, standing for `quarterBeats` quarter-note beats
    // (1 for quarter notes, 0.5 for eighths, 1/3 for twelfths).
    void strike(double time, double quarterBeats);
    // Forgets the music and the strikes.
    void reset();

    Heard heard() const;
    // The beats placed since the last call, in order, each once: where the tracker has
    // decided that a beat falls (never earlier than the hop that decided it, less than
    // half a beat ahead of it), with the tempo of that moment.
    struct Beat {
        double time;
        double bpm;
    };
    std::vector<Beat> takeBeats();

private:
    // The player's latest strikes in one line: a time and a position in quarter beats.
    struct Strike {
        double time;
        double position;
    };
    static constexpr std::size_t strikes_kept = 8;

    double onsetAt(double time) const; // the combined strength at a time, 0 outside the ring
    void scoreTempos();                // the comb over the autocorrelation, into scores_
    void filterTempos();               // one step of the forward filter over the candidates
    double filteredPeriod() const;     // seconds, interpolated about the filter's best
    double tempoClarity() const;       // the filter's mass about its best, 0 to 1
    void setPrior(double time);        // 120 BPM's, or the strikes' widening with time
    struct Phase {
        double offset; // seconds from the reference to where the music's beats fall
        double near;   // the comb's best within a sixth of a beat of the reference
        double best;   // the comb's best anywhere
        double mean;   // the comb's mean over the beat
    };
    Phase phaseComb(double reference, double period, int beats) const;
    void startGrid(double now);
    void follow(double now);
    void skipPast(double now);
    void commit(double now);
    void forgetMusic();
    void place(double time);

    double hop_;
    std::size_t lags_;           // the autocorrelation's lags, 1 to lags_
    std::size_t mask_;           // the onset rings' size less one (a power of two)
    std::size_t every_;          // hops between steps of the tempo filter
    double acfDecay_;            // a hop's decay of the autocorrelation's sums
    double levelDecay_;          // a hop's decay of the descriptors' levels
    std::vector<float> onset_;   // the combined strength, by hop
    std::vector<float> centred_; // the same less its mean, smoothed, for the autocorrelation
    std::vector<double> acf_;
    std::vector<double> periods_; // the tempo candidates' periods in hops, slowest last
    std::vector<double> logBpm_;
    std::vector<double> prior_; // log of the prior over the candidates
    std::vector<double> scores_;
    std::vector<double> belief_;
    std::vector<double> spread_;
    std::vector<double> phase_; // scratch of phaseComb, one per hop of a beat
    std::vector<Beat> placed_;

    // Music.
    std::int64_t hops_ = 0;      // hops taken since the start or the last forgetting
    std::int64_t musicHops_ = 0; // of which heard as music
    double now_ = 0;
    double levelComplex_ = 0, levelEnergy_ = 0, levelWeight_ = 0;
    double mean_ = 0, peakLevel_ = 0, energy_ = 0;
    float previous_ = 0, previous2_ = 0;
    bool quiet_ = false;

    // The follower.
    bool grid_ = false;
    double period_ = 0; // seconds a beat
    double last_ = 0;   // the latest beat placed
    double next_ = 0;   // the next beat, once corrected
    bool corrected_ = false;
    int disagreements_ = 0;
    double lockedBpm_ = 0; // the tempo followed steadily, whose octaves count less
    int lockedBeats_ = 0;
    double confidence_ = 0;
    int sureBeats_ = 0;
    bool locked_ = false;
    int heldBeats_ = 0;  // beats placed since the music went quiet
    int backBeats_ = -1; // beats since it came back, while it is checked against the grid
    int backAgreed_ = 0;

    // The strikes.
    Strike line_[strikes_kept] = {};
    std::size_t lineCount_ = 0; // in the current line, however many are kept
    double lineQuarter_ = 0;
    double lastStrike_ = 0;
    bool struck_ = false;
    double struckBpm_ = 0, struckLow_ = 0, struckHigh_ = 0, struckAt_ = 0;
    bool changed_ = false; // the music's tempo has moved off the struck range since
};

} // namespace tempocalc
