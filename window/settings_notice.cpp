#include "settings_notice.h"

#include "notice.h"

#include <QDir>

#include <cstdio>

namespace tempocalc {
namespace {

// The home folder as ~, which keeps the notice on one line.
QString shortPath(const QString& path) {
    const QString home = QDir::homePath();
    if (home.size() > 1 && path.startsWith(home + QLatin1Char('/'))) {
        return QLatin1Char('~') + path.mid(home.size());
    }
    return path;
}

} // namespace

QString SettingsNotice::text(const SettingsProblem& problem) {
    const QString file = shortPath(problem.file);
    switch (problem.kind) {
    case SettingsProblem::Kind::unreadable:
        return tr("The settings in %1 cannot be read: every option starts as it was at first.")
            .arg(file);
    case SettingsProblem::Kind::damaged:
        return tr("Some lines of %1 cannot be read: what they held starts as it was at first.")
            .arg(file);
    case SettingsProblem::Kind::unwritable:
        if (problem.obstacle.isEmpty()) {
            return tr("Your choices cannot be saved in %1: they hold until the program ends.")
                .arg(file);
        }
        return tr("Your choices cannot be saved, as %1 is in the way: they hold until the "
                  "program ends.")
            .arg(shortPath(problem.obstacle));
    case SettingsProblem::Kind::notBoolean:
        return tr("The setting %1 = \"%2\" in %3 is not true or false: it stays off.")
            .arg(problem.key, problem.value, file);
    case SettingsProblem::Kind::notMethod:
        return tr("The setting %1 = \"%2\" in %3 is not mean or line: Ave stays the mean of the "
                  "tempos.")
            .arg(problem.key, problem.value, file);
    case SettingsProblem::Kind::notNote:
        return tr("The setting %1 = \"%2\" in %3 is not 4, 8 or 12: a stage box strikes in "
                  "quarter notes.")
            .arg(problem.key, problem.value, file);
    case SettingsProblem::Kind::notBar:
        return tr("The setting %1 = \"%2\" in %3 is no number from 2 to 7: bars stay of four "
                  "beats.")
            .arg(problem.key, problem.value, file);
    }
    return problem.line();
}

void SettingsNotice::tell(const SettingsProblem& problem, Notices& notices) {
    std::fprintf(stderr, "%s\n", qPrintable(problem.line()));
    notices.show(problem.cause(), text(problem));
}

void SettingsNotice::watch(Settings& settings, Notices& notices) {
    for (const SettingsProblem& problem : std::as_const(settings.problems)) {
        tell(problem, notices);
    }
    settings.onProblem = [&notices](const SettingsProblem& problem) { tell(problem, notices); };
}

} // namespace tempocalc
