#pragma once

#include "settings.h"

#include <QMenu>
#include <QStringList>

#include <functional>
#include <optional>

namespace tempocalc {

// The window's options, in its context menu: how Ave is filled, copying it, flashing
// the beat, and the integrations the program was built with (an Ableton Link session to share the
// tempo with, a MIDI port to tap from). Writes each choice to the settings as it is made, and says
// what the window must do about it as signals.
class OptionsMenu : public QMenu {
    Q_OBJECT

public:
    // Seconds since local midnight; a MIDI pedal's strikes are read with it, on the
    // MIDI thread.
    using Clock = std::function<double()>;

    OptionsMenu(Settings& settings, const Clock& clock, QWidget* parent);

    // The entries of this build's menu as they first read, top to bottom; needs no
    // application object, so that --help can list them.
    static QStringList entryNames();

    // Copies Ave; the window makes its shortcut work everywhere in it.
    QAction* copyAction() const { return copy_; }

    // Where the beats fall now (or nowhere): shared where the user chose to.
    void share(std::optional<BeatGrid> grid) { emit sharing(grid); }

    // A line for Ave's tooltip about the session the tempo is shared with; empty while
    // there is none.
    QString sessionLine() const { return sessionLine_; }

signals:
    void averageChosen(AverageMethod method);
    void flashChosen(bool on);
    void strikeAt(double reading);
    void sessionChanged();
    void sharing(std::optional<BeatGrid> grid);
    // Something to tell the user once in a run, without taking the keys.
    void notice(const QString& cause, const QString& text);

private:
    QAction* copy_;
    QString sessionLine_;
};

} // namespace tempocalc
