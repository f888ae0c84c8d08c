#include "average_tooltip.h"

#include "rig.h"

#include <cmath>

namespace tempocalc {

QString AverageTooltip::heard(const Rig& rig, const QLocale& locale) {
    const std::optional<Heard> heard = rig.heard();
    if (!heard) {
        return tr("Listening on JACK: no beat heard yet");
    }
    const QString bpm = locale.toString(heard->bpm, 'f', 1);
    const QString sure = locale.toString(std::lround(heard->confidence * 100));
    switch (heard->state) {
    case Heard::State::holding:
        return tr("No beat in the music: the beat heard last goes on at %1 BPM").arg(bpm);
    case Heard::State::unsure:
        return tr("Heard in the music: %1 BPM, not sure yet (%2 %)").arg(bpm, sure);
    case Heard::State::searching:
    case Heard::State::locked:
        break;
    }
    return heard->struck ? tr("Heard in the music: %1 BPM, on your strikes (sure: %2 %)").arg(bpm, sure)
                         : tr("Heard in the music: %1 BPM (sure: %2 %)").arg(bpm, sure);
}

QString AverageTooltip::describe(const Rig& rig, const QString& sessionLine,
                                 std::optional<int> beatInBar) {
    const QLocale locale;
    const TapSession& session = rig.session();
    const TempoFit& fit = session.fit();
    const TempoState& state = session.state();
    QString description;
    if (rig.listening()) {
        description = heard(rig, locale);
    } else if (session.method() == AverageMethod::line) {
        const std::optional<double> tempo = fit.tempo();
        const std::optional<double> error = fit.standard_error();
        if (tempo && error) {
            description =
                tr("%1 ± %2 BPM over %n strikes", nullptr, fit.strikes())
                    .arg(locale.toString(*tempo, 'f', 2), locale.toString(*error, 'f', 2));
        } else if (tempo) {
            description = tr("%1 BPM over two strikes").arg(locale.toString(*tempo, 'f', 2));
        } else {
            description = tr("A line through the strikes, from the second strike on");
        }
    } else if (state.tapcount > 1) {
        description = tr("Mean of the tempos: %1 BPM (intervals: %n)", nullptr, state.tapcount - 1)
                          .arg(locale.toString(state.avetempo, 'f', 3));
    } else {
        description = tr("The mean of the tempos, from the second strike on");
    }
    // The clock, the click, the flash and Link follow the line, which a pause does not drag.
    if (const std::optional<BeatGrid> grid = session.grid();
        grid && session.average() != grid->bpm && !rig.listening()) {
        description +=
            QLatin1Char('\n') + tr("The beat goes on at %1 BPM (the line through the strikes)")
                                    .arg(locale.toString(grid->bpm, 'f', 3));
    }
    if (const std::optional<BeatGrid> grid = rig.grid(); beatInBar && grid) {
        description += QLatin1Char('\n') + tr("beat %1 of %2").arg(*beatInBar).arg(grid->bar);
    }
    if (!sessionLine.isEmpty()) {
        description += QLatin1Char('\n') + sessionLine;
    }
    return description;
}

} // namespace tempocalc
