#include "options_menu.h"

#include "midi_entry.h"
#include "rig.h"
#include "taps.h"
#if TEMPOCALC_HAVE_LINK
#include "link_entry.h"
#endif
#if TEMPOCALC_HAVE_JACK
#include "jack_entry.h"
#endif

#include <QActionGroup>

namespace tempocalc {

// The integrations' entries are named by the classes that make them: the same words,
// in their translation contexts.
QStringList OptionsMenu::entryNames() {
    QStringList names{tr("Mean of the tempos"), tr("Line through the strikes"), tr("Copy average"),
                      tr("Flash the beat"),     tr("Beats in a bar"),           tr("Mark the one")};
#if TEMPOCALC_HAVE_JACK
    names << JackEntry::tr("Send MIDI clock (JACK)") << JackEntry::tr("Click on the beat (JACK)");
    if (Rig::built().listen) {
        names << JackEntry::tr("Listen on JACK");
    }
#endif
#if TEMPOCALC_HAVE_LINK
    names << LinkEntry::tr("Share tempo with Link")
          << LinkEntry::tr("Put Link's beats on the taps");
#endif
    if (Rig::built().midi) {
        names << MidiEntry::tr("Tap from MIDI");
    }
    return names;
}

OptionsMenu::OptionsMenu(Rig& rig, QWidget* parent) : QMenu(parent) {
    setObjectName(QStringLiteral("contextMenu"));
    auto* methods = new QActionGroup(this);
    QAction* mean = methods->addAction(tr("Mean of the tempos"));
    QAction* line = methods->addAction(tr("Line through the strikes"));
    for (QAction* method : {mean, line}) {
        method->setCheckable(true);
        addAction(method);
    }
    (rig.settings().average == AverageMethod::line ? line : mean)->setChecked(true);
    connect(mean, &QAction::triggered, this, [&rig] { rig.chooseAverage(AverageMethod::mean); });
    connect(line, &QAction::triggered, this, [&rig] { rig.chooseAverage(AverageMethod::line); });
    addSeparator();
    copy_ = addAction(tr("Copy average"));
    copy_->setShortcut(QKeySequence::Copy);
    addSeparator();
    QAction* flash = addAction(tr("Flash the beat"));
    flash->setCheckable(true);
    flash->setChecked(rig.settings().flash);
    connect(flash, &QAction::triggered, this, [this, &rig](bool on) {
        rig.settings().setFlash(on);
        emit flashChosen(on);
    });
    // The bars: how many beats, and which is the one.
    QMenu* bars = addMenu(tr("Beats in a bar"));
    bars->setObjectName(QStringLiteral("barMenu"));
    auto* counts = new QActionGroup(bars);
    for (int beats = fewest_beats_in_a_bar; beats <= most_beats_in_a_bar; ++beats) {
        QAction* count = counts->addAction(QString::number(beats));
        count->setCheckable(true);
        count->setChecked(beats == rig.settings().bar);
        bars->addAction(count);
        connect(count, &QAction::triggered, this, [&rig, beats] { rig.setBeatsInBar(beats); });
    }
    mark_ = addAction(tr("Mark the one"));
    mark_->setShortcut(Qt::Key_Return);
    connect(mark_, &QAction::triggered, this, [&rig] { rig.markOne(); });

    // The parts of the rig this program was built with.
#if TEMPOCALC_HAVE_JACK
    new JackEntry(this, rig);
#endif
    addSeparator();
#if TEMPOCALC_HAVE_LINK
    auto* link = new LinkEntry(this, rig);
    connect(link, &LinkEntry::sessionChanged, this, [this](const QString& line) {
        sessionLine_ = line;
        emit sessionChanged();
    });
#endif
    if (rig.taps()) {
        new MidiEntry(this, *rig.taps());
    }
}

} // namespace tempocalc
