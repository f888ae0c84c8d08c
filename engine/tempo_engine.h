#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tempocalc {

// Everything the calculator remembers between two presses. All fields start at
// zero; notemode 0 is the quarter note, and divisor stays 0 until the first tempo.
struct TempoState {
    double interval = 0;       // seconds between the two latest strikes
    double prevtime = 0;       // clock reading of the strike before the latest
    double curtime = 0;        // clock reading of the latest strike
    std::int32_t tapcount = 0; // strikes since start or the last initialize
    double curtempo = 0;       // tempo of the latest strike, quarter-note BPM
    std::int16_t notemode = 0; // 0, 1, 2: a strike is a 1/4, 1/8 or 1/12 note
    double divisor = 0;        // 60, 30 or 20, by notemode
    double tempototal = 0;     // sum of the tempos of the second and later strikes
    double avetempo = 0;       // tempototal / the number of tempos in it

    friend bool operator==(const TempoState&, const TempoState&) = default;
};

// A numbered failure that ends the operation at the step that raised it. Fields
// changed before that step keep their new values.
class RunTimeError : public std::runtime_error {
public:
    static constexpr int division_by_zero = 11;
    static constexpr int overflow = 6;

    explicit RunTimeError(int number);
    int number() const noexcept { return number_; }

private:
    int number_;
};

// The text boxes an operation has set so far, each as it was set.
struct Shown {
    std::optional<std::string> text1; // average
    std::optional<std::string> text2; // tempo
    std::optional<std::string> text3; // note value
};

// What the three boxes show at start-up and after initialize.
inline constexpr std::string_view initial_average_text = "average";
inline constexpr std::string_view initial_tempo_text = "tempo";
inline constexpr std::array<std::string_view, 3> note_texts = {"1/4 note", "1/8 note", "1/12 note"};

// A day of the clock, which starts again at 0 at local midnight.
inline constexpr double seconds_per_day = 86400.0;

// Throws std::invalid_argument, naming the reading, unless it is a time of day:
// 0 to 86,400 seconds since local midnight.
void require_clock_reading(double reading);

// lop / (tt / divisor) in quarter-note beats per minute, after setting divisor
// from notemode (another notemode leaves divisor as it was). Throws RunTimeError
// 11 for a division by zero and 6 for an overflow or an invalid operation.
double tempo(TempoState& state, const double& tt, const std::int16_t& lop);

// One press of the strike button at the given clock reading (seconds since local
// midnight). Sets shown.text2 to the tempo and shown.text1 to the average.
// Throws std::invalid_argument, with nothing changed or shown, for a reading
// outside 0 to 86,400 seconds or an empty separator; RunTimeError as tempo does,
// and 6 when the strike count would overflow.
void strike(TempoState& state, double reading, Shown& shown,
            std::string_view decimal_separator = ".");

// Steps the note value quarter, eighth, twelfth, quarter and shows it in text3.
void notetoggle(TempoState& state, Shown& shown);

// Back to the state and the texts of a fresh start.
void initialize(TempoState& state, Shown& shown);

} // namespace tempocalc
