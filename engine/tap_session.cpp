#include "tap_session.h"

#include "number_text.h"

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
            followTheLine();
        }
        throw;
    }
    last_ = reading;
    lastSource_ = source;
    fit_.add(reading, state_.notemode);
    followTheLine();
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

void TapSession::followTheLine() {
    const std::optional<double> tempo = fit_.tempo();
    const std::optional<double> beat = fit_.beat();
    if (!tempo || !beat) {
        return; // a new line without a tempo yet: the beat goes on as it was
    }
    // The tempo as Ave shows it with the line, so that what the rig follows reads
    // the same as the window.
    const std::optional<double> bpm = average_value(average_text(*tempo, separator_), separator_);
    if (bpm && *bpm > 0) { // a tempo that rounds to nothing has no beats
        grid_ = BeatGrid{*bpm, *beat};
    }
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
