#include "tempo_fit.h"

#include "tempo_engine.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace tempocalc {
namespace {

// The length of one note of notemode in sixths of a quarter-note beat.
std::int64_t note_sixths(std::int16_t notemode) {
    switch (notemode) {
    case 0:
        return 6;
    case 1:
        return 3;
    case 2:
        return 2;
    default:
        throw std::invalid_argument("notemode " + std::to_string(notemode) +
                                    " is not a note value (0, 1 or 2)");
    }
}

// A strike further than this many of the line's spreads from where the line puts
// it is not an ordinary one: of ordinary strikes, one in 15,000 is.
constexpr double outlier_spreads = 4.0;
// A line's spread is taken as no less than this (seconds); and with few strikes it
// says little about the player, so the allowance widens, as Student's t does, by
// the square root of 1 + this many strikes over the line's degrees of freedom.
constexpr double spread_floor = 0.003;
constexpr double few_strikes = 2.0;
// Strikes a line needs before an interval may be read as a missed beat or a bounce.
constexpr std::int32_t strikes_to_read_a_slip = 6;
// The latest strikes are read again, a note later or earlier from one of them on,
// when that fits the line better by this many spreads (squared sums).
constexpr double read_again_spreads = 4.0;
constexpr std::int32_t strikes_after_a_step = 2;
// A change of tempo: two lines, split among the latest strikes, must fit them this
// much better than one (an F statistic), their scatter taken as no less than the
// floor nor the line's own spread before the split. The split leaves at least two
// of the latest strikes before it and so many after, and the line has at least so
// many before it.
constexpr std::int32_t strikes_before_a_change = 4;
constexpr std::int32_t strikes_after_a_change = 4;
constexpr double change_f = 40.0;
// A held change that the rules read as slips (half or twice the tempo, or far from the
// old one): the latest strikes must come evenly, each interval within this part of their
// middle one (a missed beat or a bounce among them never does) and all of them within so
// many of the line's spreads of a line of their own; and that line's note must differ
// from the line's by so many of its standard errors, taken from the line's spread (one
// steady player in a billion strikes), and by this part of a note.
constexpr double steady_part = 0.15;
constexpr double steady_spreads = 2.5;
constexpr double held_change_errors = 6.0;
constexpr double held_change_part = 0.08;
// How far an early strike may lie from the line of the later ones, in notes of the
// line or in their spreads, whichever is more.
constexpr double early_strike_tolerance = 0.2;
constexpr double early_strike_spreads = 4.0;
// Strikes after the first three that the line must have before those three are judged.
constexpr std::int32_t strikes_to_judge_the_start = 8;

double beats(std::int64_t sixths) {
    return static_cast<double>(sixths) / 6.0;
}

std::size_t place_of(std::int64_t p) {
    return static_cast<std::size_t>(p % 6);
}

// The sum of squared residuals of the least-squares line through points [from, to).
template <class Points>
double residual_squares(const Points& x, const Points& y, std::size_t from, std::size_t to) {
    const auto n = static_cast<double>(to - from);
    double mx = 0, my = 0;
    for (std::size_t i = from; i < to; ++i) {
        mx += x[i] / n;
        my += y[i] / n;
    }
    double sxx = 0, sxy = 0, syy = 0;
    for (std::size_t i = from; i < to; ++i) {
        sxx += (x[i] - mx) * (x[i] - mx);
        sxy += (x[i] - mx) * (y[i] - my);
        syy += (y[i] - my) * (y[i] - my);
    }
    return sxx > 0 ? std::max(0.0, syy - sxy * sxy / sxx) : syy;
}

} // namespace

void TempoFit::Line::add(std::int64_t p, double t) {
    const double x = beats(p);
    Sums& place = places_[place_of(p)];
    if (place.n >= 1 && spp_ > 0) {
        // The new strike's residual against the line so far, scaled by its leverage,
        // is what it adds to the residual sum (recursive least squares): no
        // difference of large sums, so no cancellation however long the line.
        const double dx = x - place.mean_p;
        const double residual = t - (place.mean_t + spt_ / spp_ * dx);
        const double share = residual * residual / (1.0 + 1.0 / place.n + dx * dx / spp_);
        ssr_ += share;
        // One wild strike kept as an ordinary one must not blind the rules for good.
        const double limit = slope() ? allowance(p, outlier_spreads) : HUGE_VAL;
        clipped_ssr_ += std::min(share, limit * limit);
    }
    places_used_ += place.n == 0 ? 1 : 0;
    for (Sums* s : {&place, &all_}) {
        ++s->n;
        const double dx = x - s->mean_p;
        s->mean_p += dx / s->n;
        s->mean_t += (t - s->mean_t) / s->n;
        const double dspp = dx * (x - s->mean_p);
        const double dspt = dx * (t - s->mean_t);
        s->spp += dspp;
        s->spt += dspt;
        if (s == &place) {
            spp_ += dspp;
            spt_ += dspt;
        }
    }
}

void TempoFit::Line::remove(std::int64_t p, double t) {
    const double x = beats(p);
    Sums& place = places_[place_of(p)];
    if (place.n >= 2 && spp_ > 0) {
        // The reverse of add: the strike's residual about the whole line, scaled up
        // by its leverage, is what it took from the residual sum.
        const double dx = x - place.mean_p;
        const double residual = t - (place.mean_t + spt_ / spp_ * dx);
        const double leverage = 1.0 / place.n + dx * dx / spp_;
        const double share = leverage < 1 ? residual * residual / (1.0 - leverage) : 0.0;
        ssr_ = std::max(0.0, ssr_ - share);
        clipped_ssr_ = std::max(0.0, clipped_ssr_ - share);
    }
    places_used_ -= place.n == 1 ? 1 : 0;
    for (Sums* s : {&place, &all_}) {
        if (s->n == 1) {
            *s = {};
            continue;
        }
        const double mean_p = (s->n * s->mean_p - x) / (s->n - 1);
        const double mean_t = (s->n * s->mean_t - t) / (s->n - 1);
        const double dspp = (x - mean_p) * (x - s->mean_p);
        const double dspt = (x - mean_p) * (t - s->mean_t);
        --s->n;
        s->mean_p = mean_p;
        s->mean_t = mean_t;
        s->spp -= dspp;
        s->spt -= dspt;
        if (s == &place) {
            spp_ -= dspp;
            spt_ -= dspt;
        }
    }
}

std::optional<double> TempoFit::Line::slope() const {
    // Until one place has two strikes, the places share their offset too.
    const double spp = spp_ > 0 ? spp_ : all_.spp;
    const double spt = spp_ > 0 ? spt_ : all_.spt;
    if (!(spp > 0)) {
        return std::nullopt;
    }
    const double s = spt / spp;
    if (!(s > 0) || !std::isfinite(s)) {
        return std::nullopt;
    }
    return s;
}

double TempoFit::Line::at(std::int64_t p) const {
    const Sums& place = places_[place_of(p)];
    const Sums& from = spp_ > 0 && place.n > 0 ? place : all_;
    return from.mean_t + *slope() * (beats(p) - from.mean_p);
}

double TempoFit::Line::variance_factor(std::int64_t p) const {
    const Sums& place = places_[place_of(p)];
    const bool own = spp_ > 0 && place.n > 0;
    const Sums& from = own ? place : all_;
    const double spp = own ? spp_ : all_.spp;
    const double dx = beats(p) - from.mean_p;
    return 1.0 + 1.0 / std::max(from.n, 1) + (spp > 0 ? dx * dx / spp : 0.0);
}

double TempoFit::Line::spread() const {
    const std::int32_t df = degrees_of_freedom();
    return df > 0 ? std::max(std::sqrt(clipped_ssr_ / df), spread_floor) : 0.0;
}

double TempoFit::Line::judged_spread() const {
    const std::int32_t df = degrees_of_freedom();
    return df > 0 ? std::sqrt(1.0 + few_strikes / df) * spread() : HUGE_VAL;
}

double TempoFit::Line::allowance(std::int64_t p, double spreads) const {
    return spreads * judged_spread() * std::sqrt(variance_factor(p));
}

std::optional<double> TempoFit::Line::slope_error() const {
    const std::int32_t df = degrees_of_freedom();
    if (df < 1 || !(spp_ > 0)) {
        return std::nullopt;
    }
    return std::sqrt(ssr_ / df / spp_);
}

void TempoFit::add(double reading, std::int16_t notemode) {
    const std::int64_t note = note_sixths(notemode);
    require_clock_reading(reading);
    if (line_.n() == 0 || note != line_note_) {
        begin_line(reading);
        line_note_ = note;
        raw_count_ = 0;
        raw_[raw_count_++] = {reading, raw_clock_};
        return;
    }

    double interval = reading - last_reading_;
    if (interval < 0) {
        interval += seconds_per_day; // the clock started again at midnight
    }
    if (interval == 0) {
        return; // the same instant as the latest strike tells nothing
    }
    last_reading_ = reading;
    last_t_ += interval;
    raw_clock_ += interval;
    if (raw_count_ == steady_strikes) {
        std::rotate(raw_.begin(), raw_.begin() + 1, raw_.end());
        --raw_count_;
    }
    raw_[raw_count_++] = {reading, raw_clock_};

    bool taken = false;
    if (pending_) {
        // A short interval whose next one completes the note holds a bounce: the two
        // strikes are one note, struck where the nearer of them lies. Otherwise (a
        // swing, a rushed note) the early strike counts as a note of its own.
        const Pending early = *pending_;
        pending_.reset();
        const std::int64_t p = last_.p + early.note;
        if (!completes_the_note(last_t_, note)) {
            take({p, early.t}, early.note);
            taken = true;
        } else if (std::fabs(early.t - line_.at(p)) <= std::fabs(last_t_ - line_.at(p))) {
            take({p, early.t}, early.note);
            after_a_strike();
            return;
        }
    }
    if (judge(note) || taken) {
        after_a_strike();
    }
    if (line_.n() == 1) {
        raw_[0] = raw_[raw_count_ - 1]; // a pause: the new line's strikes only
        raw_count_ = 1;
    }
    follow_a_held_change();
}

void TempoFit::follow_a_held_change() {
    const std::optional<double> beat = line_.slope();
    const double spread = line_.spread();
    if (raw_count_ < steady_strikes || !beat || !(spread > 0) || pending_) {
        return;
    }
    std::array<double, steady_strikes - 1> intervals{};
    for (std::size_t i = 1; i < steady_strikes; ++i) {
        intervals[i - 1] = raw_[i].t - raw_[i - 1].t;
    }
    std::array<double, steady_strikes - 1> sorted = intervals;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double middle = sorted[sorted.size() / 2];
    for (const double interval : intervals) {
        if (std::fabs(interval - middle) > steady_part * middle) {
            return;
        }
    }
    // The latest strikes one note apart, as a line of their own.
    constexpr auto n = static_cast<double>(steady_strikes);
    double mean_t = 0;
    for (const Raw& r : raw_) {
        mean_t += r.t / n;
    }
    const double mean_x = (n - 1) / 2;
    double sxx = 0, sxt = 0, stt = 0;
    for (std::size_t i = 0; i < steady_strikes; ++i) {
        const double dx = static_cast<double>(i) - mean_x, dt = raw_[i].t - mean_t;
        sxx += dx * dx;
        sxt += dx * dt;
        stt += dt * dt;
    }
    const double note = sxt / sxx;
    const double scatter = std::max(0.0, stt - sxt * sxt / sxx) / (n - 2);
    const double line_note = *beat * beats(line_note_);
    const double difference = std::fabs(note - line_note);
    if (scatter > std::pow(steady_spreads * spread, 2) ||
        difference < held_change_errors * spread / std::sqrt(sxx) ||
        difference < held_change_part * line_note) {
        return;
    }
    // A new line from the first of them, each a note after the one before.
    const std::array<Raw, steady_strikes> strikes = raw_;
    const double reading = last_reading_;
    begin_line(strikes[0].reading);
    for (std::size_t i = 1; i < steady_strikes; ++i) {
        take({static_cast<std::int64_t>(i) * line_note_, strikes[i].t - strikes[0].t}, line_note_);
    }
    last_reading_ = reading;
    last_t_ = strikes[steady_strikes - 1].t - strikes[0].t;
}

void TempoFit::after_a_strike() {
    drop_early_strikes_that_disagree();
    if (!read_again()) {
        follow_a_change();
    }
}

bool TempoFit::judge(std::int64_t note) {
    const double t = last_t_;
    const std::optional<double> beat = line_.slope();
    const double interval = t - last_.t;
    if (interval > pause_seconds && (!beat || interval > 4 * *beat * beats(note))) {
        begin_line(last_reading_);
        return false;
    }
    const std::int64_t next = last_.p + note;
    if (line_.n() < 4 || !beat) {
        take({next, t}, note);
        return true;
    }
    // How far off each reading of the strike is, in allowances.
    const auto off = [&](std::int64_t p) {
        return (t - line_.at(p)) / line_.allowance(p, outlier_spreads);
    };
    const double one = off(next);
    if (one < -1 && line_.n() >= strikes_to_read_a_slip) {
        pending_ = Pending{t, note};
        return false;
    }
    if (one > 1 && line_.n() >= strikes_to_read_a_slip) {
        for (const std::int64_t notes : {2, 3}) {
            if (std::fabs(off(last_.p + notes * note)) <= 1) {
                take({last_.p + notes * note, t}, note);
                return true;
            }
        }
    }
    take({next, t}, note);
    return true;
}

bool TempoFit::completes_the_note(double t, std::int64_t note) const {
    // Nearer to the note the early strike began than to the one after it.
    const std::int64_t p = last_.p + note;
    return std::fabs(t - line_.at(p)) / line_.allowance(p, outlier_spreads) <
           std::fabs(t - line_.at(p + note)) / line_.allowance(p + note, outlier_spreads);
}

void TempoFit::reset() {
    *this = TempoFit{};
}

std::int32_t TempoFit::strikes() const noexcept {
    return line_.n();
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
    const std::optional<double> error = line_.slope_error();
    if (!beat || !error) {
        return std::nullopt;
    }
    const double se = 60.0 * *error / (*beat * *beat);
    return std::isfinite(se) ? std::optional(se) : std::nullopt;
}

std::optional<double> TempoFit::beat() const {
    if (line_.n() < 2 || !tempo()) {
        return std::nullopt; // no beat without a tempo, however short its strikes' intervals
    }
    const std::int64_t whole = last_.p / sixths_a_beat * sixths_a_beat;
    return origin_ + line_.at(whole);
}

void TempoFit::begin_line(double reading, std::int64_t place) {
    line_ = {};
    judging_start_ = true;
    recent_count_ = 0;
    taken_ = 0;
    pending_.reset();
    origin_ = reading;
    last_reading_ = reading;
    last_t_ = 0;
    take({place, 0}, 0);
}

void TempoFit::take(Point s, std::int64_t note) {
    if (taken_ < static_cast<std::int32_t>(early_.size())) {
        early_[static_cast<std::size_t>(taken_)] = s;
    }
    if (recent_count_ == static_cast<std::int32_t>(window)) {
        std::rotate(recent_.begin(), recent_.begin() + 1, recent_.end());
        --recent_count_;
    }
    recent_[static_cast<std::size_t>(recent_count_++)] = {s, note, taken_++, line_};
    line_.add(s.p, s.t);
    last_ = s;
}

void TempoFit::drop_early_strikes_that_disagree() {
    if (!judging_start_ ||
        taken_ < static_cast<std::int32_t>(early_.size()) + strikes_to_judge_the_start) {
        return;
    }
    judging_start_ = false;
    Line late = line_;
    for (const Point& s : early_) {
        late.remove(s.p, s.t);
    }
    const std::optional<double> beat = late.slope();
    if (!beat) {
        return;
    }
    // A bounce, a missed beat or a badly timed tap among the first three strikes,
    // before the line knew its note length, would bend it for good: judged once
    // against the line of the later strikes, and their own scatter, each of them
    // that lies off it is dropped.
    for (std::size_t i = 0; i < early_.size(); ++i) {
        const Point& s = early_[i];
        const std::size_t next = std::max<std::size_t>(i, 1);
        const double note = *beat * beats(early_[next].p - early_[next - 1].p);
        if (std::fabs(s.t - late.at(s.p)) <=
            std::max(early_strike_tolerance * note, late.allowance(s.p, early_strike_spreads))) {
            continue;
        }
        line_.remove(s.p, s.t);
        std::int32_t count = 0;
        for (std::int32_t j = 0; j < recent_count_; ++j) {
            Recent& r = recent_[static_cast<std::size_t>(j)];
            if (r.index == static_cast<std::int32_t>(i)) {
                continue;
            }
            if (r.index > static_cast<std::int32_t>(i)) {
                r.before.remove(s.p, s.t);
            }
            recent_[static_cast<std::size_t>(count++)] = r;
        }
        recent_count_ = count;
    }
}

bool TempoFit::read_again() {
    // A missed beat or an extra tap that the line could not tell from an uneven
    // strike when it came shows later as a step of a whole note in the strikes that
    // follow: read from that strike on a note later (one or two notes missed) or,
    // without it, a note earlier (it was extra), they fit far better.
    const double now = line_.residual_squares();
    double best_gain = 0;
    std::int32_t best = -1;
    std::int64_t best_shift = 0;
    for (std::int32_t j = 1; j < recent_count_; ++j) {
        const Recent& from = recent_[static_cast<std::size_t>(j)];
        if (from.before.n() < strikes_before_a_change) {
            continue;
        }
        for (const std::int64_t shift : {from.note, 2 * from.note, -from.note}) {
            // A step needs strikes after it: one odd strike alone is for judge().
            if (recent_count_ - j - (shift < 0 ? 1 : 0) < strikes_after_a_step) {
                continue;
            }
            Line again = from.before;
            for (std::int32_t i = j + (shift < 0 ? 1 : 0); i < recent_count_; ++i) {
                const Point& s = recent_[static_cast<std::size_t>(i)].at;
                again.add(s.p + shift, s.t);
            }
            if (!again.slope()) {
                continue;
            }
            const double spread = read_again_spreads * again.judged_spread();
            const double gain = now - again.residual_squares() - spread * spread;
            if (gain > best_gain) {
                best_gain = gain;
                best = j;
                best_shift = shift;
            }
        }
    }
    if (best < 0) {
        return false;
    }
    const std::array<Recent, window> strikes = recent_;
    const std::int32_t count = recent_count_;
    const Recent& from = strikes[static_cast<std::size_t>(best)];
    line_ = from.before;
    recent_count_ = best;
    taken_ = from.index;
    for (std::int32_t i = best + (best_shift < 0 ? 1 : 0); i < count; ++i) {
        const Recent& s = strikes[static_cast<std::size_t>(i)];
        take({s.at.p + best_shift, s.at.t}, s.note);
    }
    return true;
}

void TempoFit::follow_a_change() {
    const auto m = static_cast<std::size_t>(recent_count_);
    if (recent_count_ < 2 + strikes_after_a_change || !line_.slope()) {
        return;
    }
    // The latest strikes' residuals about the line: a change of tempo among them is
    // a bend, which two lines split at the bend fit far better than one. Residuals
    // rather than times, so that a swing's offsets are left out.
    std::array<double, window> x{}, y{};
    for (std::size_t i = 0; i < m; ++i) {
        x[i] = beats(recent_[i].at.p - recent_[0].at.p);
        y[i] = recent_[i].at.t - line_.at(recent_[i].at.p);
    }
    const double one = residual_squares(x, y, 0, m);
    double best = one;
    std::size_t split = 0;
    for (std::size_t k = 2; k + strikes_after_a_change <= m; ++k) {
        if (recent_[k].index < strikes_before_a_change) {
            continue;
        }
        const double two = residual_squares(x, y, 0, k) + residual_squares(x, y, k, m);
        if (two < best) {
            best = two;
            split = k;
        }
    }
    if (split == 0) {
        return;
    }
    // Six degrees of freedom say little about the scatter: the line's own spread
    // before the split, over all its strikes then, keeps a lucky window from passing
    // for a change.
    const double spread = std::max(recent_[split].before.judged_spread(), spread_floor);
    const double scatter = std::max(best / static_cast<double>(m - 4), spread * spread);
    if (!((one - best) / 2 / scatter > change_f)) {
        return;
    }
    // The new line starts at the split, which becomes its first strike, in the place
    // within the beat where it was: an eighth's "and" stays between the beats.
    const std::array<Recent, window> strikes = recent_;
    const Point first = strikes[split].at;
    const std::int64_t place = first.p % sixths_a_beat;
    const double after = last_t_ - first.t;
    const std::optional<Pending> pending = pending_;
    const double reading = last_reading_;
    begin_line(std::fmod(origin_ + first.t, seconds_per_day), place);
    for (std::size_t i = split + 1; i < m; ++i) {
        take({strikes[i].at.p - first.p + place, strikes[i].at.t - first.t}, strikes[i].note);
    }
    last_reading_ = reading;
    last_t_ = after;
    if (pending) {
        pending_ = Pending{pending->t - first.t, pending->note};
    }
}

} // namespace tempocalc
