#pragma once

#include <QMenu>
#include <QStringList>

namespace tempocalc {

class Rig;

// The window's options, in its context menu: how Ave is filled, copying it, flashing
// the beat, and the parts of the rig the program was built with (an Ableton Link
// session to share the beat with, the MIDI clock and the click on JACK, a MIDI port to
// tap from). Each entry asks the rig, which decides and keeps the choice; what the
// window itself must do about one comes as a signal.
class OptionsMenu : public QMenu {
    Q_OBJECT

public:
    OptionsMenu(Rig& rig, QWidget* parent);

    // The entries of this build's menu as they first read, top to bottom; needs no
    // application object, so that --help can list them.
    static QStringList entryNames();

    // Copies Ave, and marks the one; the window makes their shortcuts work everywhere
    // in it.
    QAction* copyAction() const { return copy_; }
    QAction* markAction() const { return mark_; }

    // A line for Ave's tooltip about the session the tempo is shared with; empty while
    // there is none.
    QString sessionLine() const { return sessionLine_; }

signals:
    void flashChosen(bool on);
    void sessionChanged();

private:
    QAction* copy_;
    QAction* mark_;
    QString sessionLine_;
};

} // namespace tempocalc
