#pragma once

namespace tempocalc {

// Quarter-note beats every 60/bpm seconds, one of them at the clock reading `beat`
// (seconds since local midnight; past 86,400 when the line crossed midnight).
struct BeatGrid {
    double bpm = 0;
    double beat = 0;
};

// Beats faster than this are no beat anyone plays along to (nor a Link session's tempo):
// nothing flashes or ticks on them.
inline constexpr double fastest_beat_bpm = 999.0;

} // namespace tempocalc
