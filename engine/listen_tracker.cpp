#include "listen_tracker.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tempocalc {
namespace {

// The tempos looked for, one candidate every percent.
constexpr double slowest_bpm = 45;
constexpr double fastest_bpm = 250;
constexpr double candidate_step = 0.01;
// Four multiples: fewer let half the tempo win, more let twice the tempo win.
constexpr int comb_multiples = 4;
// The autocorrelation forgets with this time constant: short enough to re-lock a held
// change within a few seconds, long enough to smooth the player's unevenness.
constexpr double acf_seconds = 1.75;
// Longer lags count less, as in an autocorrelation over a window this long; without it,
// half the tempo ties with the tempo on a plain pulse.
constexpr double comb_window_seconds = 20.0;
constexpr double first_products_seconds = 0.5; // of a lag's, before it is counted
// 120 BPM is the likeliest tempo; log2 of the ratio has this deviation.
constexpr double prior_centre_bpm = 120;
constexpr double prior_octaves = 1.3;
// Beyond these the prior falls steeply (this many octaves' deviation): a busy bar's
// eighths or its whole bars must not pass for the beat.
constexpr double prior_slowest_bpm = 58;
constexpr double prior_fastest_bpm = 200;
constexpr double prior_wall_octaves = 0.15;
// The forward filter: steps this often, with a walk of this many candidates each step
// and a floor that lets it move anywhere, its evidence weighed by this much.
constexpr double filter_seconds = 0.04;
constexpr double walk_candidates = 1.0;
constexpr double jump_floor = 1e-3;
constexpr double evidence_weight = 4.0;
// How the two descriptors add up once each is divided by its level. The complex-domain one
// hears the snare as well as the kick; the energy one is ruled by the kick and the bass,
// and counted fully it draws the tempo to the kick's half notes.
constexpr double complex_weight = 1.0;
constexpr double energy_weight = 0.25;
constexpr double strongest_onset = 25; // levels at most, so that one click cannot rule
constexpr double level_seconds = 3.0;
constexpr double mean_seconds = 2.0;
// Silence: the peak over this long (at least so many beats, for a half-time section)
// below this share of its usual height.
constexpr double quiet_seconds = 0.75;
constexpr double quiet_beats = 2.2;
constexpr double quiet_share = 0.25;
constexpr double back_share = 0.4; // and above this share it is music again, not the noise
constexpr double peak_level_seconds = 4.0;
constexpr double warm_seconds = 1.0;  // before the levels mean anything
constexpr double start_seconds = 2.5; // of music before a tempo is said
constexpr double start_clarity = 0.3;
// The follower.
constexpr double phase_gain = 0.35;
constexpr double period_gain = 0.25;    // towards the filter's tempo, each beat
constexpr double frequency_gain = 0.1;  // of the latest beat's error, into the period
constexpr double snap_ratio = 0.08;     // a move of the filter this large is taken at once
constexpr double local_share = 1.0 / 5; // of a beat, where the latest onset corrects the beat // of
                                        // a beat, where the latest onset corrects the beat
constexpr int comb_beats = 16;
constexpr double comb_weight = 0.9; // each older beat counts this much of the next
constexpr double clear_ratio = 1.2; // elsewhere beats here by this much: a disagreement
constexpr int disagreements_to_jump = 3;
constexpr int back_beats = 4;  // the music back, checked against the held grid this long
constexpr int back_agreed = 2; // beats in place that pick it up
// Once followed without strikes for so many beats with some confidence (a noisy piece may
// never lock), twice and half the tempo count this much less (a log-prior), so that a
// half-time section or a bar of eighths does not turn the octave.
constexpr double octave_penalty = 2.0;
constexpr int octave_beats = 16;
// Confidence.
constexpr double confidence_keep = 0.7;
constexpr double lock_confidence = 0.45;
constexpr double unlock_confidence = 0.3;
constexpr int lock_beats = 4;
// The strikes.
constexpr double strike_unevenness = 0.03; // seconds an interval may be off either way
constexpr double strike_edge = 0.02;       // log-tempo fall-off beyond the struck range
constexpr double widen_per_second = 0.008; // log-tempo the range widens by
constexpr double widest = 0.2;
constexpr double octave_guard = 0.45; // octaves: never nearer twice or half the struck tempo
constexpr double pause_seconds = 2.0;
// Hops that stop for longer than this (the sound server gone, the clock stepped) leave
// nothing to go on: the music is found anew.
constexpr double gap_seconds = 8.0;
constexpr double changed_margin = 0.05; // log-tempo off the struck tempo: a real change

bool finite(double x) {
    return std::isfinite(x);
}

std::size_t powerOfTwo(std::size_t n) {
    std::size_t p = 1;
    while (p < n) {
        p <<= 1;
    }
    return p;
}

} // namespace

ListenTracker::ListenTracker(double hopSeconds)
    : hop_(finite(hopSeconds) ? std::clamp(hopSeconds, 0.001, 0.1) : 0.01) {
    const double slowest = 60 / slowest_bpm;
    lags_ = static_cast<std::size_t>(std::ceil(comb_multiples * slowest / hop_)) + 2;
    const auto kept = static_cast<std::size_t>((comb_beats + 1.5) * slowest / hop_) + lags_;
    mask_ = powerOfTwo(kept) - 1;
    every_ = std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(filter_seconds / hop_)));
    acfDecay_ = std::exp(-hop_ / acf_seconds);
    levelDecay_ = std::exp(-hop_ / level_seconds);
    onset_.assign(mask_ + 1, 0);
    centred_.assign(mask_ + 1, 0);
    acf_.assign(lags_ + 1, 0);
    for (double bpm = slowest_bpm; bpm <= fastest_bpm; bpm *= 1 + candidate_step) {
        periods_.push_back(60 / bpm / hop_);
        logBpm_.push_back(std::log(bpm));
    }
    std::reverse(periods_.begin(), periods_.end());
    std::reverse(logBpm_.begin(), logBpm_.end());
    prior_.assign(periods_.size(), 0);
    scores_.assign(periods_.size(), 0);
    belief_.assign(periods_.size(), 0);
    spread_.assign(periods_.size(), 0);
    phase_.assign(static_cast<std::size_t>(std::ceil(slowest / hop_)) + 4, 0);
    placed_.reserve(256);
    reset();
}

void ListenTracker::reset() {
    lineCount_ = 0;
    lineQuarter_ = 0;
    lastStrike_ = 0;
    struck_ = false;
    changed_ = false;
    levelComplex_ = levelEnergy_ = levelWeight_ = 0;
    now_ = 0;
    hops_ = 0;
    placed_.clear();
    forgetMusic();
}

void ListenTracker::forgetMusic() {
    std::fill(onset_.begin(), onset_.end(), 0.0f);
    std::fill(centred_.begin(), centred_.end(), 0.0f);
    std::fill(acf_.begin(), acf_.end(), 0.0);
    energy_ = 0;
    musicHops_ = 0;
    mean_ = 0;
    peakLevel_ = 0;
    previous_ = previous2_ = 0;
    quiet_ = false;
    grid_ = false;
    period_ = last_ = next_ = 0;
    corrected_ = false;
    disagreements_ = 0;
    lockedBpm_ = 0;
    lockedBeats_ = 0;
    confidence_ = 0;
    sureBeats_ = 0;
    locked_ = false;
    heldBeats_ = 0;
    backBeats_ = -1;
    backAgreed_ = 0;
    setPrior(now_);
    double sum = 0;
    for (std::size_t i = 0; i < belief_.size(); ++i) {
        belief_[i] = std::exp(prior_[i]);
        sum += belief_[i];
    }
    for (double& b : belief_) {
        b /= sum;
    }
}

void ListenTracker::hop(double time, double complexDomain, double energy) {
    // Bad numbers are no onset; a time that does not go on is the next hop's.
    const double c = complexDomain >= 0 && finite(complexDomain) ? complexDomain : 0;
    const double e = energy >= 0 && finite(energy) ? energy : 0;
    if (!finite(time) || (hops_ > 0 && !(time > now_))) {
        time = now_ + hop_;
    }
    const bool gap = hops_ > 0 && time - now_ > gap_seconds;
    if (!gap && hops_ > 0) {
        // Hops that never came (the sound server gone a while, a dropped cycle) were heard
        // as nothing: the rings stay one hop a hop, and the grid holds through the gap.
        while (time - now_ > 1.5 * hop_) {
            hop(now_ + hop_, 0, 0);
        }
    }
    now_ = time;
    if (gap) {
        forgetMusic();
    }

    const bool warm = static_cast<double>(musicHops_) * hop_ >= warm_seconds;
    // Digital silence before the first sound (a port that nothing is connected to yet)
    // leaves the levels at nothing: they go on learning until there is something.
    const bool levelled = levelComplex_ > 0 || levelEnergy_ > 0;
    if (!quiet_ || !warm || !levelled) {
        levelComplex_ = levelComplex_ * levelDecay_ + (1 - levelDecay_) * c;
        levelEnergy_ = levelEnergy_ * levelDecay_ + (1 - levelDecay_) * e;
        levelWeight_ = levelWeight_ * levelDecay_ + (1 - levelDecay_);
    }
    const double cl = levelComplex_ / levelWeight_;
    const double el = levelEnergy_ / levelWeight_;
    double o = (cl > 0 ? complex_weight * c / cl : 0) + (el > 0 ? energy_weight * e / el : 0);
    o = std::min(o, strongest_onset);

    const std::size_t at = static_cast<std::size_t>(hops_) & mask_;
    onset_[at] = static_cast<float>(o);
    ++hops_;

    // The peak over the latest stretch says whether there is music at all.
    const double beat = grid_ ? period_ : 0.5;
    const auto window =
        static_cast<std::int64_t>(std::max(quiet_seconds, quiet_beats * beat) / hop_);
    float peak = 0;
    for (std::int64_t i = 0; i < std::min<std::int64_t>(window, hops_); ++i) {
        peak = std::max(peak, onset_[static_cast<std::size_t>(hops_ - 1 - i) & mask_]);
    }
    const bool wasQuiet = quiet_;
    quiet_ = warm && (peak <= 0 || peak < (quiet_ ? back_share : quiet_share) * peakLevel_);
    if (quiet_ && !wasQuiet) {
        heldBeats_ = std::max(heldBeats_, 1);
    } else if (!quiet_ && wasQuiet && grid_) {
        backBeats_ = 0;
        backAgreed_ = 0;
    }
    if (quiet_) {
        follow(now_);
        return;
    }
    ++musicHops_;
    const double peakDecay = std::exp(-hop_ / peak_level_seconds);
    peakLevel_ = peakLevel_ > 0 ? peakLevel_ * peakDecay + (1 - peakDecay) * peak : peak;

    // The strength less its mean, lightly smoothed, into the autocorrelation.
    const double meanDecay = std::exp(-hop_ / mean_seconds);
    static constexpr double power = 1.0;
    const double op = std::pow(o, power);
    mean_ = musicHops_ == 1 ? op : mean_ * meanDecay + (1 - meanDecay) * op;
    const auto centred = static_cast<float>(op - mean_);
    const float smoothed = 0.25f * centred + 0.5f * previous_ + 0.25f * previous2_;
    previous2_ = previous_;
    previous_ = centred;
    centred_[at] = smoothed;
    energy_ = energy_ * acfDecay_ + static_cast<double>(smoothed) * smoothed;
    const std::size_t reach = std::min<std::size_t>(lags_, static_cast<std::size_t>(hops_ - 1));
    for (std::size_t l = 1; l <= reach; ++l) {
        acf_[l] = acf_[l] * acfDecay_ + static_cast<double>(smoothed) * centred_[(at - l) & mask_];
    }

    if (static_cast<std::size_t>(musicHops_) % every_ == 0) {
        scoreTempos();
        filterTempos();
    }
    follow(now_);
}

void ListenTracker::scoreTempos() {
    const double norm = comb_multiples * energy_ + 1e-12;
    const double window = comb_window_seconds / hop_;
    // In the first seconds a long lag has had fewer products than a short one: each sum is
    // brought to the weight it will have, and a multiple not heard yet counts as the mean
    // of the others. Otherwise the fast tempos win the start, and hold it.
    const auto heard = static_cast<double>(musicHops_);
    const double full = 1 - std::pow(acfDecay_, heard);
    const double fewest = first_products_seconds / hop_;
    for (std::size_t i = 0; i < periods_.size(); ++i) {
        double sum = 0;
        int terms = 0;
        for (int k = 1; k <= comb_multiples; ++k) {
            const double lag = k * periods_[i];
            const auto l = static_cast<std::size_t>(lag);
            if (l + 1 > lags_ || heard - lag < fewest) {
                break;
            }
            const double f = lag - static_cast<double>(l);
            const double a = (1 - f) * acf_[l] + f * acf_[l + 1];
            sum += a * (1 - lag / window) * full / (1 - std::pow(acfDecay_, heard - lag));
            ++terms;
        }
        scores_[i] = terms > 0 ? sum * comb_multiples / terms / norm : 0;
    }
}

void ListenTracker::filterTempos() {
    setPrior(now_);
    // The walk: a few candidates either way, and a little anywhere.
    const auto n = static_cast<std::ptrdiff_t>(belief_.size());
    constexpr int reach = 3;
    double kernel[2 * reach + 1];
    double ksum = 0;
    for (int d = -reach; d <= reach; ++d) {
        kernel[d + reach] = std::exp(-0.5 * d * d / (walk_candidates * walk_candidates));
        ksum += kernel[d + reach];
    }
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        double s = 0;
        for (int d = -reach; d <= reach; ++d) {
            const std::ptrdiff_t j = std::clamp<std::ptrdiff_t>(i + d, 0, n - 1);
            s += kernel[d + reach] * belief_[static_cast<std::size_t>(j)];
        }
        spread_[static_cast<std::size_t>(i)] = s / ksum;
    }
    double best = -std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < belief_.size(); ++i) {
        best = std::max(best, evidence_weight * scores_[i] + prior_[i]);
    }
    double sum = 0;
    for (std::size_t i = 0; i < belief_.size(); ++i) {
        const double likelihood = std::exp(evidence_weight * scores_[i] + prior_[i] - best);
        belief_[i] =
            ((1 - jump_floor) * spread_[i] + jump_floor / static_cast<double>(n)) * likelihood;
        sum += belief_[i];
    }
    if (!(sum > 0) || !finite(sum)) {
        for (std::size_t i = 0; i < belief_.size(); ++i) {
            belief_[i] = std::exp(prior_[i]);
            sum += belief_[i];
        }
    }
    for (double& b : belief_) {
        b /= sum;
    }
    if (struck_ && !changed_) {
        const double bpm = 60 / filteredPeriod();
        changed_ = std::abs(std::log(bpm / struckBpm_)) > changed_margin;
    }
}

void ListenTracker::setPrior(double time) {
    if (!struck_) {
        for (std::size_t i = 0; i < prior_.size(); ++i) {
            const double octaves = (logBpm_[i] - std::log(prior_centre_bpm)) / std::log(2.0);
            prior_[i] = -0.5 * octaves * octaves / (prior_octaves * prior_octaves);
            const double outside = std::max(std::log(prior_slowest_bpm) - logBpm_[i],
                                             logBpm_[i] - std::log(prior_fastest_bpm));
            if (outside > 0) {
                const double o = outside / std::log(2.0) / prior_wall_octaves;
                prior_[i] -= 0.5 * o * o;
            }
            if (lockedBpm_ > 0 &&
                std::abs(std::abs(logBpm_[i] - std::log(lockedBpm_)) - std::log(2.0)) < 0.1) {
                prior_[i] -= octave_penalty;
            }
        }
        return;
    }
    // The struck range, widening slowly once the player stops, never as far as an octave.
    const double widen = std::clamp(widen_per_second * (time - struckAt_), 0.0, widest);
    const double low = std::log(struckLow_) - widen;
    const double high = std::log(struckHigh_) + widen;
    const double centre = std::log(struckBpm_);
    for (std::size_t i = 0; i < prior_.size(); ++i) {
        const double b = logBpm_[i];
        const double d = std::max({0.0, low - b, b - high}) / strike_edge;
        prior_[i] = std::abs(b - centre) > octave_guard * std::log(2.0) ? -1e9 : -0.5 * d * d;
    }
}

double ListenTracker::filteredPeriod() const {
    const auto best = static_cast<std::size_t>(std::max_element(belief_.begin(), belief_.end()) -
                                               belief_.begin());
    double logBpm = logBpm_[best];
    if (best > 0 && best + 1 < belief_.size() && belief_[best - 1] > 0 && belief_[best + 1] > 0) {
        const double a = std::log(belief_[best - 1]);
        const double b = std::log(belief_[best]);
        const double c = std::log(belief_[best + 1]);
        const double curve = a - 2 * b + c;
        if (curve < 0) {
            const double shift = std::clamp(0.5 * (a - c) / curve, -0.5, 0.5);
            logBpm += shift * (logBpm_[best + 1] - logBpm_[best]);
        }
    }
    return 60 / std::exp(logBpm);
}

double ListenTracker::tempoClarity() const {
    const auto best = std::max_element(belief_.begin(), belief_.end()) - belief_.begin();
    const auto n = static_cast<std::ptrdiff_t>(belief_.size());
    double mass = 0;
    for (std::ptrdiff_t i = std::max<std::ptrdiff_t>(0, best - 3); i <= std::min(n - 1, best + 3);
         ++i) {
        mass += belief_[static_cast<std::size_t>(i)];
    }
    return mass;
}

double ListenTracker::onsetAt(double time) const {
    const double back = (now_ - time) / hop_; // hops before the latest
    if (!(back >= 0) || back + 1 >= static_cast<double>(std::min<std::int64_t>(
                                        hops_, static_cast<std::int64_t>(mask_)))) {
        return 0;
    }
    const auto b = static_cast<std::size_t>(back);
    const double f = back - static_cast<double>(b);
    const std::size_t latest = static_cast<std::size_t>(hops_ - 1);
    return (1 - f) * onset_[(latest - b) & mask_] + f * onset_[(latest - b - 1) & mask_];
}

ListenTracker::Phase ListenTracker::phaseComb(double reference, double period, int beats) const {
    auto& s = const_cast<std::vector<double>&>(phase_);
    const auto n =
        std::clamp<std::size_t>(static_cast<std::size_t>(period / hop_), 3, s.size() - 1);
    const double step = period / static_cast<double>(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double offset = -0.5 * period + step * static_cast<double>(i);
        double sum = 0, weight = 1;
        for (int j = 0; j < beats; ++j) {
            sum += weight * onsetAt(reference + offset - j * period);
            weight *= comb_weight;
        }
        s[i] = sum;
    }
    Phase p{0, 0, 0, 0};
    std::size_t best = 0;
    double previous = s[n - 1];
    const double first = s[0];
    for (std::size_t i = 0; i < n; ++i) {
        // Smoothed round the beat, in place: the old value of i-1 is kept aside.
        const double next = i + 1 < n ? s[i + 1] : first;
        const double here = 0.25 * previous + 0.5 * s[i] + 0.25 * next;
        previous = s[i];
        s[i] = here;
        p.mean += here / static_cast<double>(n);
        const double offset = -0.5 * period + step * static_cast<double>(i);
        if (here > s[best] || i == 0) {
            best = i;
        }
        if (std::abs(offset) <= local_share * period) {
            p.near = std::max(p.near, here);
        }
    }
    p.best = s[best];
    double refine = 0;
    if (best > 0 && best + 1 < n) {
        const double curve = s[best - 1] - 2 * s[best] + s[best + 1];
        if (curve < 0) {
            refine = std::clamp(0.5 * (s[best - 1] - s[best + 1]) / curve, -0.5, 0.5);
        }
    }
    p.offset = -0.5 * period + step * (static_cast<double>(best) + refine);
    return p;
}

void ListenTracker::startGrid(double now) {
    period_ = filteredPeriod();
    const double reference = now - 0.5 * period_;
    const Phase p = phaseComb(reference, period_, comb_beats / 2);
    last_ = reference + p.offset;
    next_ = last_ + period_;
    skipPast(now);
    corrected_ = true;
    grid_ = true;
    confidence_ = 0;
    sureBeats_ = 0;
    locked_ = false;
    disagreements_ = 0;
}

// A next beat already gone by (a late hop, a stall) moves on by whole beats.
void ListenTracker::skipPast(double now) {
    if (next_ < now) {
        next_ += std::ceil((now - next_) / period_) * period_;
    }
}

void ListenTracker::follow(double now) {
    if (!grid_) {
        if (quiet_ || static_cast<double>(musicHops_) * hop_ < start_seconds ||
            tempoClarity() < start_clarity) {
            return;
        }
        startGrid(now);
    }
    for (int guard = 0; guard < 4; ++guard) {
        if (!corrected_ && now >= last_ + 0.5 * period_) {
            commit(now);
        }
        if (!corrected_ || now < next_ - 0.5 * period_) {
            break;
        }
        place(std::max(next_, now));
    }
}

void ListenTracker::place(double time) {
    if (placed_.size() == placed_.capacity()) {
        placed_.erase(placed_.begin()); // nobody takes them: the oldest go
    }
    placed_.push_back({time, 60 / period_});
    last_ = time;
    corrected_ = false;
    if (quiet_) {
        ++heldBeats_;
        confidence_ *= 0.9;
    }
}

// Half a beat after the latest beat: how far off it was, and where the next one goes.
void ListenTracker::commit(double now) {
    double error = 0, jump = 0;
    bool snapped = false;
    if (!quiet_) {
        const double filtered = filteredPeriod();
        if (std::abs(std::log(filtered / period_)) > snap_ratio && (!struck_ || changed_)) {
            period_ = filtered;
            snapped = true; // the old grid's phase says nothing of the new one's
        } else {
            period_ += period_gain * (filtered - period_);
        }
    }
    if (!quiet_ && backBeats_ >= 0) {
        // The music is back: does it fall where the held grid goes on?
        ++backBeats_;
        const Phase p = phaseComb(last_, period_, backBeats_);
        if (p.best > clear_ratio * p.mean && std::abs(p.offset) <= local_share * period_) {
            ++backAgreed_;
        }
        if (backAgreed_ >= back_agreed) {
            backBeats_ = -1;
            heldBeats_ = 0;
        } else if (backBeats_ >= back_beats) {
            forgetMusic();
            return;
        }
    } else if (!quiet_) {
        heldBeats_ = 0;
        // The latest beat's own onset pulls the grid; the comb over the latest beats says
        // whether the grid is on the beat at all.
        const double reach = local_share * period_;
        double peak = 0, at = 0, sum = 0;
        int count = 0;
        const auto steps = static_cast<int>(period_ / hop_);
        for (int k = 0; k < steps; ++k) {
            const double t = last_ - 0.5 * period_ + k * hop_;
            const double o = onsetAt(t);
            sum += o;
            ++count;
            if (std::abs(t - last_) <= reach && o > peak) {
                peak = o;
                at = t;
            }
        }
        if (count > 0 && peak > 1.5 * sum / count) {
            error = at - last_;
        }
        const Phase p = phaseComb(last_, period_, comb_beats);
        const bool elsewhere = std::abs(p.offset) > reach && p.best > clear_ratio * p.near;
        disagreements_ = elsewhere ? disagreements_ + 1 : 0;
        if ((snapped || disagreements_ >= disagreements_to_jump) && (!struck_ || changed_)) {
            jump = p.offset;
            error = 0;
            disagreements_ = 0;
        }
        const double clarity = p.best > 0 ? (p.best - p.mean) / p.best : 0;
        const double agreement = p.best > p.mean ? (p.near - p.mean) / (p.best - p.mean) : 0;
        const double raw = std::sqrt(tempoClarity()) * clarity * std::max(0.0, agreement);
        confidence_ = confidence_keep * confidence_ + (1 - confidence_keep) * raw;
        lockedBeats_ = confidence_ >= unlock_confidence ? lockedBeats_ + 1 : 0;
        if (lockedBeats_ >= octave_beats) {
            lockedBpm_ = 60 / period_;
        }
        if (confidence_ >= lock_confidence) {
            locked_ = locked_ || ++sureBeats_ >= lock_beats;
        } else {
            sureBeats_ = 0;
            if (confidence_ < unlock_confidence) {
                locked_ = false;
            }
        }
    }
    period_ = std::clamp(period_ + frequency_gain * error, 60 / fastest_bpm, 60 / slowest_bpm);
    next_ = last_ + period_ + phase_gain * error + jump;
    skipPast(now);
    corrected_ = true;
}

void ListenTracker::strike(double time, double quarterBeats) {
    if (!finite(time) || !finite(quarterBeats) || quarterBeats < 1.0 / 16 || quarterBeats > 4) {
        return;
    }
    if (lineCount_ > 0 && !(time > lastStrike_)) {
        return; // out of order
    }
    const Strike& latest = line_[(lineCount_ + strikes_kept - 1) % strikes_kept];
    const double gap = time - lastStrike_;
    const double note = lineCount_ >= 2 ? 60 / struckBpm_ * quarterBeats : 0;
    bool newLine = lineCount_ == 0 || quarterBeats != lineQuarter_;
    if (!newLine) {
        newLine = lineCount_ >= 2 ? gap > std::max(pause_seconds, 4 * note)
                                  : 60 * quarterBeats / gap < slowest_bpm;
    }
    double position = 0;
    if (!newLine) {
        if (60 * quarterBeats / gap > fastest_bpm * 2 || (note > 0 && gap < 0.5 * note)) {
            return; // a bounce
        }
        const double notes = note > 0 ? std::max(1.0, std::round(gap / note)) : 1;
        position = latest.position + notes * quarterBeats;
    } else {
        lineCount_ = 0;
        lineQuarter_ = quarterBeats;
    }
    line_[lineCount_ % strikes_kept] = {time, position};
    ++lineCount_;
    lastStrike_ = time;
    if (lineCount_ < 2) {
        return;
    }

    // The line through the kept strikes, and the range their intervals allow.
    const std::size_t n = std::min(lineCount_, strikes_kept);
    double mp = 0, mt = 0;
    for (std::size_t i = 0; i < n; ++i) {
        mp += line_[i].position / static_cast<double>(n);
        mt += line_[i].time / static_cast<double>(n);
    }
    double spp = 0, spt = 0;
    for (std::size_t i = 0; i < n; ++i) {
        spp += (line_[i].position - mp) * (line_[i].position - mp);
        spt += (line_[i].position - mp) * (line_[i].time - mt);
    }
    if (!(spp > 0) || !(spt > 0)) {
        return;
    }
    const double slope = spt / spp; // seconds a quarter beat
    struckBpm_ = std::clamp(60 / slope, slowest_bpm, fastest_bpm);
    struckLow_ = struckHigh_ = struckBpm_;
    const std::size_t first = lineCount_ - n;
    for (std::size_t k = first + 1; k < lineCount_; ++k) {
        const Strike& a = line_[(k - 1) % strikes_kept];
        const Strike& b = line_[k % strikes_kept];
        const double beats = b.position - a.position;
        const double seconds = b.time - a.time;
        struckLow_ = std::min(struckLow_, 60 * beats / (seconds + strike_unevenness));
        struckHigh_ = std::max(struckHigh_,
                               60 * beats / std::max(seconds - strike_unevenness, 0.5 * seconds));
    }
    struckLow_ = std::clamp(struckLow_, slowest_bpm, struckBpm_);
    struckHigh_ = std::clamp(struckHigh_, struckBpm_, fastest_bpm);
    struck_ = true;
    changed_ = false;
    struckAt_ = time;

    // The tempo filter starts at the struck tempo, the grid on the strikes' beats.
    setPrior(time);
    double sum = 0;
    for (std::size_t i = 0; i < belief_.size(); ++i) {
        belief_[i] = std::exp(prior_[i]);
        sum += belief_[i];
    }
    for (double& b : belief_) {
        b /= sum;
    }
    const double anchor = mt - slope * mp; // position 0, the line's first beat
    const double from = grid_ ? std::max(now_, last_ + 0.5 * period_) : now_;
    period_ = 60 / struckBpm_;
    next_ = anchor + std::ceil((from - anchor) / period_) * period_;
    if (!grid_) {
        last_ = next_ - period_;
    }
    grid_ = true;
    corrected_ = true;
    disagreements_ = 0;
    backBeats_ = -1;
}

Heard ListenTracker::heard() const {
    Heard h;
    if (!grid_) {
        return h;
    }
    h.state = quiet_ || heldBeats_ > 0 || backBeats_ >= 0 ? Heard::State::holding
              : locked_                                   ? Heard::State::locked
                                                          : Heard::State::unsure;
    h.bpm = 60 / period_;
    h.beat = last_;
    h.confidence = std::clamp(confidence_, 0.0, 1.0);
    h.struck = struck_;
    return h;
}

std::vector<ListenTracker::Beat> ListenTracker::takeBeats() {
    std::vector<Beat> beats(placed_.begin(), placed_.end());
    placed_.clear();
    return beats;
}

} // namespace tempocalc
