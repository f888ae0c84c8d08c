#pragma once

namespace tempocalc {

// Quarter-note beats every 60/bpm seconds, one of them at the clock reading `beat`
// (seconds since local midnight; past 86,400 when the line crossed midnight), in bars
// of `bar` beats, of which the beat at `one` is the first (the downbeat).
struct BeatGrid {
    double bpm = 0;
    double beat = 0;
    int bar = 4;
    double one = 0;
    // Counts the times the one was set anew (marked, or a new line's first strike), as
    // against bars that go on through a change of tempo.
    unsigned marks = 0;
};

// Beats faster than this are no beat anyone plays along to (nor a Link session's tempo):
// nothing flashes or ticks on them.
inline constexpr double fastest_beat_bpm = 999.0;

// The beats a bar can have.
inline constexpr int fewest_beats_in_a_bar = 2;
inline constexpr int most_beats_in_a_bar = 7;

// Which beat of its bar (1 to bar) the grid's beat nearest to a reading is.
int beat_in_bar(const BeatGrid& grid, double reading);

// The grid's beat nearest to a reading, across midnight the nearer way round.
double nearest_beat(const BeatGrid& grid, double reading);

} // namespace tempocalc
