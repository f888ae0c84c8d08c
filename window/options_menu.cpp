#include "options_menu.h"

#if TEMPOCALC_HAVE_LINK
#include "link_entry.h"
#endif
#if TEMPOCALC_HAVE_JACK
#include "jack_entry.h"
#endif
#if TEMPOCALC_HAVE_MIDI || TEMPOCALC_HAVE_JACK
#include "midi_entry.h"
#endif
#if TEMPOCALC_HAVE_MIDI
#include "rtmidi_input.h"
#endif

#include <QActionGroup>

namespace tempocalc {

// The integrations' entries are named by the classes that make them: the same words,
// in their translation contexts.
QStringList OptionsMenu::entryNames() {
    QStringList names{tr("Mean of the tempos"), tr("Line through the strikes"), tr("Copy average"),
                      tr("Flash the beat")};
#if TEMPOCALC_HAVE_JACK
    names << JackEntry::tr("Send MIDI clock (JACK)") << JackEntry::tr("Click on the beat (JACK)");
#endif
#if TEMPOCALC_HAVE_LINK
    names << LinkEntry::tr("Share tempo with Link")
          << LinkEntry::tr("Put Link's beats on the taps");
#endif
#if TEMPOCALC_HAVE_MIDI || TEMPOCALC_HAVE_JACK
    names << MidiEntry::tr("Tap from MIDI");
#endif
    return names;
}

OptionsMenu::OptionsMenu(Settings& settings, const Clock& clock, QWidget* parent) : QMenu(parent) {
    setObjectName(QStringLiteral("contextMenu"));
    auto* methods = new QActionGroup(this);
    QAction* mean = methods->addAction(tr("Mean of the tempos"));
    QAction* line = methods->addAction(tr("Line through the strikes"));
    for (QAction* method : {mean, line}) {
        method->setCheckable(true);
        addAction(method);
    }
    (settings.average == AverageMethod::line ? line : mean)->setChecked(true);
    const auto choose = [this, &settings](AverageMethod method) {
        settings.setAverage(method);
        emit averageChosen(method);
    };
    connect(mean, &QAction::triggered, this, [choose] { choose(AverageMethod::mean); });
    connect(line, &QAction::triggered, this, [choose] { choose(AverageMethod::line); });
    addSeparator();
    copy_ = addAction(tr("Copy average"));
    copy_->setShortcut(QKeySequence::Copy);
    addSeparator();
    QAction* flash = addAction(tr("Flash the beat"));
    flash->setCheckable(true);
    flash->setChecked(settings.flash);
    connect(flash, &QAction::triggered, this, [this, &settings](bool on) {
        settings.setFlash(on);
        emit flashChosen(on);
    });

    // The integrations this program was built with.
    QList<TapInput*> tapInputs;
#if TEMPOCALC_HAVE_JACK
    auto* jack = new JackEntry(this, settings, clock);
    connect(this, &OptionsMenu::sharing, jack, &JackEntry::share);
    connect(jack, &JackEntry::notice, this, &OptionsMenu::notice);
    tapInputs << jack->tapInput();
    const QString jackPorts = QStringLiteral("jack"); // through the program's own client
#else
    const QString jackPorts;
#endif
    addSeparator();
#if TEMPOCALC_HAVE_LINK
    auto* link = new LinkEntry(this, settings, clock);
    connect(this, &OptionsMenu::sharing, link, &LinkEntry::share);
    connect(link, &LinkEntry::sessionChanged, this, [this](const QString& line) {
        sessionLine_ = line;
        emit sessionChanged();
    });
#endif
#if TEMPOCALC_HAVE_MIDI
    tapInputs.prepend(new RtMidiInput(clock, jackPorts, this));
#endif
    if (!tapInputs.isEmpty()) {
        auto* midi = new MidiEntry(this, settings, tapInputs);
        connect(midi, &MidiEntry::strikeAt, this, &OptionsMenu::strikeAt);
    }
    (void)clock;
    (void)jackPorts;
}

} // namespace tempocalc
