#include "tempo_engine.h"

#include "number_text.h"

#include <cmath>
#include <limits>

namespace tempocalc {
namespace {

const char* description(int number) {
    switch (number) {
    case RunTimeError::division_by_zero:
        return "Division by zero";
    case RunTimeError::overflow:
        return "Overflow";
    default:
        return "Application-defined or object-defined error";
    }
}

// Every floating-point step is checked, so no field ever holds an infinity or a
// NaN. A result that is not finite is an overflow, except a non-zero number
// divided by zero; an invalid operation such as 0 / 0 reports as an overflow too.
double checked(double result) {
    if (!std::isfinite(result)) {
        throw RunTimeError(RunTimeError::overflow);
    }
    return result;
}

double checked_divide(double dividend, double divisor) {
    if (divisor == 0.0 && dividend != 0.0 && !std::isnan(dividend)) {
        throw RunTimeError(RunTimeError::division_by_zero);
    }
    return checked(dividend / divisor);
}

} // namespace

void require_clock_reading(double reading) {
    if (!(reading >= 0.0 && reading <= seconds_per_day)) {
        throw std::invalid_argument("clock reading " + exact_text(reading) +
                                    " is not a time of day (0 to 86400 seconds)");
    }
}

RunTimeError::RunTimeError(int number) : std::runtime_error(description(number)), number_(number) {}

double tempo(TempoState& state, const double& tt, const std::int16_t& lop) {
    switch (state.notemode) {
    case 0:
        state.divisor = 60.0;
        break;
    case 1:
        state.divisor = 30.0;
        break;
    case 2:
        state.divisor = 20.0;
        break;
    default:
        break;
    }
    // Two divisions in this order: lop * divisor / tt can differ in the last bit.
    const double beat = checked_divide(tt, state.divisor);
    return checked_divide(static_cast<double>(lop), beat);
}

void strike(TempoState& state, double reading, Shown& shown, std::string_view decimal_separator) {
    shown = {};
    require_clock_reading(reading);
    if (decimal_separator.empty()) {
        throw std::invalid_argument("the decimal separator is empty");
    }

    state.curtime = reading;
    double interval = checked(reading - state.prevtime);
    if (interval < 0.0) {
        // The clock started again at midnight since the previous strike.
        interval = checked(interval + seconds_per_day);
    }
    state.interval = interval;

    state.curtempo = tempo(state, state.interval, 1);
    shown.text2 = tempo_text(state.curtempo);

    // The first strike only starts the clock: its interval is measured from 0.
    if (const std::int32_t counted = state.tapcount; counted > 0) {
        state.tempototal = checked(state.curtempo + state.tempototal);
        state.avetempo = checked_divide(state.tempototal, static_cast<double>(counted));
    }
    shown.text1 = average_text(state.avetempo, decimal_separator);

    state.prevtime = state.curtime;
    if (state.tapcount == std::numeric_limits<std::int32_t>::max()) {
        throw RunTimeError(RunTimeError::overflow);
    }
    ++state.tapcount;
}

void notetoggle(TempoState& state, Shown& shown) {
    shown = {};
    switch (state.notemode) {
    case 0:
    case 1:
        ++state.notemode;
        break;
    case 2:
        state.notemode = 0;
        break;
    default:
        return;
    }
    shown.text3 = std::string(note_texts[static_cast<std::size_t>(state.notemode)]);
}

void initialize(TempoState& state, Shown& shown) {
    state = TempoState{};
    shown = {};
    shown.text1 = std::string(initial_average_text);
    shown.text2 = std::string(initial_tempo_text);
    shown.text3 = std::string(note_texts[0]);
}

} // namespace tempocalc
