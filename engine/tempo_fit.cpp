#include "tempo_fit.h"

#include "tempo_engine.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace tempocalc {
namespace {

// The length of one note of notemode in quarter-note beats.
double note_beats(std::int16_t notemode) {
    switch (notemode) {
    case 0:
        return 1.0;
    case 1:
        return 1.0 / 2.0;
    case 2:
        return 1.0 / 3.0;
    default:
        throw std::invalid_argument("notemode " + std::to_string(notemode) +
                                    " is not a note value (0, 1 or 2)");
    }
}

// How far off a strike may be, in notes of the line, and still be read as a missed
// beat; how close after the last one it is read as an extra tap; how far an early
// strike may lie from the line of the later ones.
constexpr double missed_beat_tolerance = 0.25;
constexpr double extra_tap_below = 0.5;
constexpr double early_strike_tolerance = 0.2;
constexpr double early_strike_deviations = 4.0;
// Strikes after the first three that the line must have before those three are judged.
constexpr std::int32_t strikes_to_judge_the_start = 8;

} // namespace

void TempoFit::Sums::add(double p, double t) {
    if (n >= 2) {
        // The new strike's residual against the line so far, scaled by its leverage,
        // is what it adds to the residual sum (recursive least squares): no
        // difference of large sums, so no cancellation however long the line.
        const double dp = p - mean_p;
        const double residual = t - (mean_t + spt / spp * dp);
        const double leverage = 1.0 / n + dp * dp / spp;
        ssr += residual * residual / (1.0 + leverage);
    }
    ++n;
    const double dp = p - mean_p;
    const double dt = t - mean_t;
    mean_p += dp / n;
    mean_t += dt / n;
    spp += dp * (p - mean_p);
    spt += dp * (t - mean_t);
}

std::optional<double> TempoFit::Sums::slope() const {
    if (n < 2 || !(spp > 0)) {
        return std::nullopt;
    }
    const double s = spt / spp;
    if (!(s > 0) || !std::isfinite(s)) {
        return std::nullopt;
    }
    return s;
}

void TempoFit::add(double reading, std::int16_t notemode) {
    const double beats = note_beats(notemode);
    require_clock_reading(reading);
    if (line_.n == 0) {
        begin_line(beats);
        last_reading_ = reading;
        return;
    }

    double interval = reading - last_reading_;
    if (interval < 0) {
        interval += seconds_per_day; // the clock started again at midnight
    }
    if (interval == 0) {
        return; // the same instant as the line's last strike tells nothing
    }
    const double t = last_.t + interval;
    if (recent_count_ == static_cast<std::int32_t>(recent_.size())) {
        recent_ = {recent_[1], recent_[2], {}};
        --recent_count_;
    }
    recent_[static_cast<std::size_t>(recent_count_++)] = {0, t, beats};

    const std::optional<double> beat = line_.slope();
    const double note = beat ? *beat * beats : 0;
    if (interval > pause_seconds && (!beat || interval > 4 * note)) {
        begin_line(beats);
        last_reading_ = reading;
        return;
    }
    if (line_.n < 4) {
        take(last_.p + beats, t, beats);
        last_reading_ = reading;
        return;
    }

    double p = last_.p + beats;
    bool extra = false;
    bool missed = false;
    if (interval < extra_tap_below * note) {
        extra = true;
    } else {
        for (const double notes : {2.0, 3.0}) {
            if (std::fabs(interval - notes * note) <= missed_beat_tolerance * notes * note) {
                missed = true;
                p = last_.p + notes * beats;
                break; // where both would do, the nearer: two notes
            }
        }
    }
    const bool odd = extra || missed;
    const bool odd_lately = (odd_history_ & 0b111u) != 0;
    odd_history_ = ((odd_history_ << 1) | (odd ? 1u : 0u)) & 0b1111u;
    if (odd && odd_lately) {
        // Two odd strikes among four are not a player's slips: the line has the
        // wrong note length (a mistimed tap early on). Start again from the latest
        // strikes as they came, so the line can never lock onto a wrong tempo.
        restart_from_recent();
        last_reading_ = reading;
        return;
    }
    if (extra) {
        return; // left out: the next interval counts from the line's last strike
    }
    take(p, t, beats);
    last_reading_ = reading;
    drop_early_strikes_that_disagree();
}

void TempoFit::reset() {
    *this = TempoFit{};
}

std::int32_t TempoFit::strikes() const noexcept {
    return line_.n;
}

std::optional<double> TempoFit::tempo() const {
    const std::optional<double> beat = line_.slope();
    if (!beat) {
        return std::nullopt;
    }
    const double bpm = 60.0 / *beat;
    return std::isfinite(bpm) ? std::optional(bpm) : std::nullopt;
}

std::optional<double> TempoFit::standard_error() const {
    const std::optional<double> beat = line_.slope();
    if (!beat || line_.n < 3) {
        return std::nullopt;
    }
    const double slope_variance = line_.ssr / (line_.n - 2) / line_.spp;
    const double se = 60.0 * std::sqrt(slope_variance) / (*beat * *beat);
    return std::isfinite(se) ? std::optional(se) : std::nullopt;
}

void TempoFit::begin_line(double beats) {
    line_ = {};
    late_ = {};
    early_in_line_ = true;
    odd_history_ = 0;
    recent_ = {Strike{0, 0, beats}};
    recent_count_ = 1;
    take(0, 0, beats);
}

void TempoFit::take(double p, double t, double beats) {
    if (early_in_line_ && line_.n < static_cast<std::int32_t>(early_.size())) {
        early_[static_cast<std::size_t>(line_.n)] = {p, t, beats};
    } else {
        late_.add(p, t);
    }
    line_.add(p, t);
    last_ = {p, t, beats};
}

void TempoFit::restart_from_recent() {
    const std::array<Strike, 3> strikes = recent_;
    const std::int32_t count = recent_count_;
    begin_line(strikes[0].beats);
    double p = 0;
    for (std::int32_t i = 1; i < count; ++i) {
        const Strike& s = strikes[static_cast<std::size_t>(i)];
        p += s.beats;
        const Strike again{p, s.t - strikes[0].t, s.beats};
        recent_[static_cast<std::size_t>(recent_count_++)] = again;
        take(again.p, again.t, again.beats);
    }
}

void TempoFit::drop_early_strikes_that_disagree() {
    if (!early_in_line_ || late_.n < strikes_to_judge_the_start) {
        return;
    }
    const std::optional<double> beat = late_.slope();
    if (!beat) {
        return;
    }
    // A bounce, a missed beat or a badly timed tap among the first three strikes,
    // before the line knew its note length, would bend it for good: judged against
    // the line of the later strikes, and their own scatter, such a start is dropped.
    const double scatter = std::sqrt(late_.ssr / (late_.n - 2));
    for (const Strike& s : early_) {
        const double expected = late_.mean_t + *beat * (s.p - late_.mean_p);
        if (std::fabs(s.t - expected) >
            std::max(early_strike_tolerance * *beat * s.beats, early_strike_deviations * scatter)) {
            line_ = late_;
            early_in_line_ = false;
            return;
        }
    }
}

} // namespace tempocalc
