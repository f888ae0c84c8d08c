#pragma once

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
    // ...
};

} // namespace tempocalc
