#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace tempocalc {

// The tempo of a line fitted by least squares through every strike since the line
// began: the time of each strike against its position in quarter-note beats. It
// reads far closer to the truth than a mean of the single intervals when the taps
// are uneven, and it is robust to what players do: a missed beat, an extra tap (a
// bounce) and a pause, which starts a new line. Constant time and memory a strike.
class TempoFit {
public:
    // A strike at a clock reading (seconds since local midnight) that stands for one
    // note of notemode (0, 1, 2: a quarter, eighth or twelfth note, as in TempoState).
    // Throws std::invalid_argument, naming the value and changing nothing, for a
    // reading that is not a time of day or another notemode.
    void add(double reading, std::int16_t notemode);
    void reset();                                 // forget every strike
    std::int32_t strikes() const noexcept;        // strikes in the current line
    std::optional<double> tempo() const;          // quarter-note BPM, from the line's second strike
    std::optional<double> standard_error() const; // one standard error of tempo() in BPM

    // A strike more than this long after the line's last one, and more than four of
    // its notes, starts a new line.
    static constexpr double pause_seconds = 2.0;

private:
    // The running least-squares sums of a set of strikes, in a form that stays exact
    // over long lines: means and centred sums updated one strike at a time.
    struct Sums {
        std::int32_t n = 0;
        double mean_p = 0, mean_t = 0; // position in beats, time in seconds
        double spp = 0, spt = 0;       // centred sums of squares and products
        double ssr = 0;                // sum of squared residuals about the line

        void add(double p, double t);
        std::optional<double> slope() const; // seconds a beat
    };
    struct Strike {
        double p = 0, t = 0; // position and time in the line
        double beats = 1;    // the note length it was struck as
    };

    void begin_line(double beats); // the line's first strike, at its time 0
    void take(double p, double t, double beats);
    void restart_from_recent();
    void drop_early_strikes_that_disagree();

    Sums line_;                    // every strike of the line
    Sums late_;                    // the line's strikes from the fourth on
    std::array<Strike, 3> early_;  // the line's first three strikes
    bool early_in_line_ = false;   // whether line_ still counts them
    std::array<Strike, 3> recent_; // the latest strikes added, kept or not, oldest first
    std::int32_t recent_count_ = 0;
    unsigned odd_history_ = 0; // one bit a strike, latest lowest: a missed beat or extra tap
    double last_reading_ = 0;  // the clock reading of the line's last strike
    Strike last_;              // the line's last strike
};

} // namespace tempocalc
