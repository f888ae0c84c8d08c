#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace tempocalc {

// The tempo of a line fitted by least squares through every strike since the line
// began: the time of each strike against its position in quarter-note beats. It
// reads far closer to the truth than a mean of the single intervals when the taps
// are uneven. In eighth or twelfth notes each place within the beat has an offset
// of its own (one slope for all), so a swung long-short pair tilts it no more than
// an even one. Every rule that reads a strike as other than the next note rests on
// the line's own scatter: a bounce (an early strike whose next one completes the
// note), a missed beat (a late one that fits two or three notes), a slip the line
// could not tell at first (read again once later strikes show its step), a held
// change of tempo (two lines fit the latest strikes far better than one: a new line
// starts at the split; and where the latest strikes keep a steady tempo of their own,
// however the rules above read them, a new line starts at the first of them), a bad
// start (judged once eight strikes follow), a pause, and a change of note value (the
// stretch across it, with a hand off the keys to switch, says nothing of either note: a
// new line starts at its first strike).
// Constant time and memory a strike.
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
    // The line's time of its latest whole beat at or before its last strike, as a
    // clock reading of the day of the line's first strike (past 86,400 once the line
    // crossed midnight); the line's first strike is its beat 0 (after a change of tempo,
    // the strike where it began, in its place within the beat). From the second strike.
    std::optional<double> beat() const;

    // A strike more than this long after the line's last one, and more than four of
    // its notes, starts a new line.
    static constexpr double pause_seconds = 2.0;

private:
    // Positions count sixths of a quarter-note beat, so that quarter, eighth and
    // twelfth notes all land on whole numbers.
    static constexpr std::int64_t sixths_a_beat = 6;
    static constexpr std::size_t window = 10; // the latest strikes that may be read again

    // The least-squares sums of a line whose strikes share one slope, with an offset
    // for each place within the beat, kept in a form that stays exact over long
    // lines: means and centred sums updated one strike at a time.
    class Line {
    public:
        void add(std::int64_t p, double t);
        void remove(std::int64_t p, double t); // a strike added before
        std::int32_t n() const noexcept { return all_.n; }
        std::optional<double> slope() const; // seconds a quarter-note beat
        double residual_squares() const noexcept { return ssr_; }
        // The time the line gives position p, and that prediction's variance in
        // units of the scatter of one strike (1 + leverage). Need slope().
        double at(std::int64_t p) const;
        double variance_factor(std::int64_t p) const;
        // One strike's scatter about the line (seconds), no less than a floor; 0
        // while unknown.
        double spread() const;
        // The spread that rules judge by: wider for a short line, whose own spread
        // says little, and infinite while it is unknown.
        double judged_spread() const;
        // How far a strike may lie from at(p) and still be an ordinary one, given so
        // many judged spreads. Needs slope().
        double allowance(std::int64_t p, double spreads) const;
        std::optional<double> slope_error() const; // seconds a beat

    private:
        struct Sums {
            std::int32_t n = 0;
            double mean_p = 0, mean_t = 0; // position in beats, time in seconds
            double spp = 0, spt = 0;       // centred sums of squares and products
        };
        std::int32_t degrees_of_freedom() const noexcept { return all_.n - places_used_ - 1; }

        std::array<Sums, sixths_a_beat> places_; // by position modulo a beat
        Sums all_;                               // every strike, one offset
        std::int32_t places_used_ = 0;
        double spp_ = 0, spt_ = 0; // pooled over the places
        double ssr_ = 0;           // sum of squared residuals about the line
        double clipped_ssr_ = 0;   // the same with each strike's share clipped, for spread()
    };
    struct Point {
        std::int64_t p = 0; // position in sixths of a beat since the line's first strike
        double t = 0;       // seconds since the line's first strike
    };
    struct Recent {
        Point at;
        std::int64_t note = 0;  // the note value it was struck as
        std::int32_t index = 0; // its order in the line
        Line before;            // the line before it was taken
    };

    // The line's first strike, at its time 0, in the given place within the beat.
    void begin_line(double reading, std::int64_t place = 0);
    bool judge(std::int64_t note); // places the latest strike; false unless taken
    bool completes_the_note(double t, std::int64_t note) const;
    void take(Point s, std::int64_t note);
    void after_a_strike(); // the rules that look back over the line's strikes
    void drop_early_strikes_that_disagree();
    bool read_again();
    void follow_a_change();
    void follow_a_held_change();

    Line line_;                         // every strike of the line
    std::array<Point, 3> early_;        // the line's first three strikes
    bool judging_start_ = false;        // until enough later strikes have judged them
    std::array<Recent, window> recent_; // the line's latest strikes, oldest first
    std::int32_t recent_count_ = 0;
    std::int32_t taken_ = 0; // strikes taken into the line since it began
    Point last_;             // the line's last strike
    struct Pending {
        double t = 0;
        std::int64_t note = 0;
    };
    std::optional<Pending> pending_; // an early strike that the next one may show to be a bounce
    double origin_ = 0;              // the clock reading of the line's first strike
    double last_reading_ = 0;        // the latest strike's clock reading, kept or not
    double last_t_ = 0;              // and its time in the line
    std::int64_t line_note_ = 0;     // the note value of the line's strikes
    // The latest strikes as they came, whatever the line read them as: their clock
    // readings, and their times on a clock of the line's own that never starts again.
    static constexpr std::size_t steady_strikes = 5;
    struct Raw {
        double reading = 0;
        double t = 0;
    };
    std::array<Raw, steady_strikes> raw_{};
    std::size_t raw_count_ = 0;
    double raw_clock_ = 0;
};

} // namespace tempocalc
