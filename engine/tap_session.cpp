#include "tap_session.h"

#include "number_text.h"

#include <cmath>
#include <utility>

namespace tempocalc {

TapSession::TapSession(std::string decimal_separator, AverageMethod method)
    : separator_(std::move(decimal_separator)), method_(method) {}

TapSession::Taken TapSession::strike(double reading, Shown& shown, Source source) {
    if (last_ && reading < *last_ && *last_ - reading < out_of_order_seconds) {
        return *last_ - reading <= same_beat_seconds ? Taken::same_beat : Taken::out_of_order;
    }
    if (last_ && source != lastSource_ && reading - *last_ <= same_beat_seconds &&
        reading >= *last_) {
        return Taken::same_beat; // the space bar and a pedal on one beat
    }
    try {
        tempocalc::strike(state_, reading, shown, separator_);
    } catch (const RunTimeError& e) {
        last_ = reading; // the engine took the reading before the arithmetic failed
        lastSource_ = source;
        // Past its clock step only the strike count can overflow: the strike was made.
        if (e.number() == RunTimeError::overflow && state_.prevtime == reading) {
            fit_.add(reading, state_.notemode);
            followTheLine(reading);
        }
        throw;
    }
    last_ = reading;
    lastSource_ = source;
    fit_.add(reading, state_.notemode);
    followTheLine(reading);
    if (method_ == AverageMethod::line) {
        shown.text1 = averageText();
    }
    return Taken::struck;
}

void TapSession::notetoggle(Shown& shown) {
    tempocalc::notetoggle(state_, shown);
}

void TapSession::initialize(Shown& shown) {
    tempocalc::initialize(state_, shown);
    fit_.reset();
    last_.reset();
    grid_.reset();
    one_.reset();
    markNext_ = false;
}

void TapSession::setBeatsInBar(int beats) {
    bar_ = beats;
    if (grid_ && grid_->bar != beats) {
        grid_->bar = beats;
        ++grid_->marks; // bars of another length: counted anew from the one
    }
}

void TapSession::choose(AverageMethod method, Shown& shown) {
    method_ = method;
    if (state_.tapcount > 0) {
        shown.text1 = averageText();
    }
}

std::optional<double> TapSession::average() const {
    const bool shows_tempo =
        method_ == AverageMethod::line ? fit_.tempo().has_value() : state_.tapcount >= 2;
    if (!shows_tempo) {
        return std::nullopt;
    }
    return average_value(averageText(), separator_);
}

void TapSession::followTheLine(double reading) {
    // The first strike of a new line, or one marked, is to be the one.
    if (fit_.strikes() == 1 || markNext_) {
        one_ = reading;
        markNext_ = false;
    }
    const std::optional<double> tempo = fit_.tempo();
    const std::optional<double> beat = fit_.beat();
    if (!tempo || !beat) {
        return; // a new line without a tempo yet: the beat goes on as it was
    }
    // The tempo as Ave shows it with the line, so that what the rig follows reads
    // the same as the window.
    const std::optional<double> bpm = average_value(average_text(*tempo, separator_), separator_);
    if (!bpm || !(*bpm > 0)) {
        return; // a tempo that rounds to nothing has no beats
    }
    BeatGrid next{*bpm, *beat, bar_, *beat, grid_ ? grid_->marks : 0};
    if (one_) {
        next.one = nearest_beat(next, *one_);
        one_.reset();
        ++next.marks;
    } else if (grid_) {
        // The bars go on: the old grid's latest one up to this beat, on the new grid.
        const double bar = grid_->bar * 60.0 / grid_->bpm;
        const double latest =
            grid_->one + std::floor((next.beat - grid_->one) / bar + 0.5 / grid_->bar) * bar;
        next.one = nearest_beat(next, latest);
    }
    grid_ = next;
}

std::string TapSession::averageText() const {
    if (method_ == AverageMethod::line) {
        // A new line (after a pause, or a change of note value) has no tempo of its own
        // until its second strike: Ave keeps the beat's, which goes on meanwhile.
        const std::optional<double> tempo = fit_.tempo();
        return average_text(tempo ? *tempo : grid_ ? grid_->bpm : 0.0, separator_);
    }
    return average_text(state_.avetempo, separator_);
}

} // namespace tempocalc
