#pragma once

#include "beat_grid.h"
#include "tempo_engine.h"
#include "tempo_fit.h"

#include <optional>
#include <string>

namespace tempocalc {

// How Ave is filled: the mean of the tempos of the intervals, or the tempo of a line
// fitted through the strikes.
enum class AverageMethod { mean, line };

// One player's tapping, from every source at once (the strike button, a MIDI pedal):
// the engine's state, the line through the strikes, and the method that fills Ave.
// Says what each operation shows and, once Ave shows a tempo, what that tempo is.
class TapSession {
public:
    // Where a strike comes from: the strike button (a key, the mouse) or a MIDI pedal.
    enum class Source { button, pedal };

    // What became of a strike.
    enum class Taken {
        struck,
        same_beat,    // so close to the last strike, from the other source or out of
                      // order, that it is that beat
        out_of_order, // earlier than the last strike: left out
    };

    // A reading before the last strike's by less than this is out of order; by more, it
    // is the clock starting again at midnight.
    static constexpr double out_of_order_seconds = seconds_per_day / 2;
    static constexpr double same_beat_seconds = 0.030;

    explicit TapSession(std::string decimal_separator = ".",
                        AverageMethod method = AverageMethod::mean);

    // A strike at a clock reading. The button strikes when it is released with the
    // reading of its press, so a pedal's strike in between comes first: a strike that
    // arrives out of order never reaches the engine, and neither does one that follows
    // a strike of the other source on the same beat. Throws as the engine's strike
    // does, with shown holding what was set before the failure.
    Taken strike(double reading, Shown& shown, Source source = Source::button);
    void notetoggle(Shown& shown);
    void initialize(Shown& shown);
    // Ave by the method from now on; once strikes were made, shown.text1 gets it at
    // once (both estimates are always kept).
    void choose(AverageMethod method, Shown& shown);

    // The tempo that Ave shows, read back from its text, once it shows one: what the
    // tapped tempo is shared as.
    std::optional<double> average() const;

    // Where the beats fall: at the line's tempo, as Ave shows it with the line through
    // the strikes, in the line's phase, whichever method fills Ave (the mean counts a
    // pause as one slow interval and drags the beat). None until the first line has a
    // tempo; after a pause or a change of note value, which start a new line, the beat
    // goes on as it was until that line has a tempo. Only initialize ends it.
    //
    // The bars: the first strike of a line (the first after initialize, a pause or a
    // change of note value) is the one, beat 1 of a bar, and so is the strike after
    // markOne; between them the bars go on with the beats, through every change of tempo.
    // Neither moves a beat, only which of them is the one.
    std::optional<BeatGrid> grid() const { return grid_; }
    void setBeatsInBar(int beats);
    int beatsInBar() const { return bar_; }
    // The next strike that reaches the engine is the one.
    void markOne() { markNext_ = true; }
    bool isMarkingOne() const { return markNext_; }

    AverageMethod method() const { return method_; }
    const TempoState& state() const { return state_; }
    const TempoFit& fit() const { return fit_; }

    // What Ave shows by the method once a strike was made.
    std::string averageText() const;

private:
    void followTheLine(double reading);

    std::string separator_;
    AverageMethod method_;
    TempoState state_;
    TempoFit fit_;
    std::optional<double> last_; // the reading of the latest strike that reached the engine
    Source lastSource_ = Source::button;
    std::optional<BeatGrid> grid_;
    int bar_ = 4;
    std::optional<double> one_; // a strike that is to be the one once the line has a beat
    bool markNext_ = false;
};

} // namespace tempocalc
