#include "average_tooltip.h"

#include <QLocale>

namespace tempocalc {

QString AverageTooltip::describe(const TapSession& session, const QString& sessionLine,
                                 std::optional<int> beatInBar) {
    const QLocale locale;
    const TempoFit& fit = session.fit();
    const TempoState& state = session.state();
    QString description;
    if (session.method() == AverageMethod::line) {
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
        grid && session.average() != grid->bpm) {
        description +=
            QLatin1Char('\n') + tr("The beat goes on at %1 BPM (the line through the strikes)")
                                    .arg(locale.toString(grid->bpm, 'f', 3));
    }
    if (beatInBar && session.grid()) {
        description +=
            QLatin1Char('\n') + tr("beat %1 of %2").arg(*beatInBar).arg(session.grid()->bar);
    }
    if (!sessionLine.isEmpty()) {
        description += QLatin1Char('\n') + sessionLine;
    }
    return description;
}

} // namespace tempocalc
