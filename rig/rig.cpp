#include "rig.h"

#include "number_text.h"
#include "taps.h"
#if TEMPOCALC_HAVE_JACK
#include "jack_control.h"
#endif
#if TEMPOCALC_HAVE_LINK
#include "link_control.h"
#endif
#if TEMPOCALC_HAVE_LISTEN_JACK
#include "listen_control.h"
#endif
#if TEMPOCALC_HAVE_MIDI
#include "rtmidi_input.h"
#endif

#include <algorithm>
#include <exception>
#include <utility>

namespace tempocalc {

Rig::Built Rig::built() {
    Built built;
#if TEMPOCALC_HAVE_LINK
    built.link = true;
#endif
#if TEMPOCALC_HAVE_JACK
    built.jack = true;
#endif
#if TEMPOCALC_HAVE_MIDI
    built.midi = true;
#endif
#if TEMPOCALC_HAVE_LISTEN_JACK
    built.listen = true;
#endif
    built.midi = built.midi || built.jack;
    return built;
}

Rig::Rig(Clock clock, Settings settings, std::string decimal_separator, QObject* parent)
    : QObject(parent), clock_(std::move(clock)), settings_(std::move(settings)),
      session_(decimal_separator, settings_.average), separator_(std::move(decimal_separator)) {
    QList<TapInput*> tapInputs;
#if TEMPOCALC_HAVE_JACK
    jack_ = new JackControl(clock_, this);
    connect(jack_, &JackControl::notice, this, &Rig::notice);
    tapInputs << jack_->takeTapInput();
    const QString jackPorts = QStringLiteral("jack"); // through the program's own client
#else
    const QString jackPorts;
#endif
#if TEMPOCALC_HAVE_MIDI
    tapInputs.prepend(new RtMidiInput(clock_, jackPorts));
#endif
    (void)jackPorts;
    if (!tapInputs.isEmpty()) {
        taps_ = new Taps(settings_, tapInputs, this);
        connect(taps_, &Taps::strikeAt, this, [this](double reading) { strike(reading); });
        connect(taps_, &Taps::oneMarked, this, &Rig::markOne);
    }
#if TEMPOCALC_HAVE_LINK
    link_ = new LinkControl(clock_, this);
#endif
#if TEMPOCALC_HAVE_LISTEN_JACK
    listen_ = new ListenControl(clock_, jack_, this);
    connect(listen_, &ListenControl::heardChanged, this, &Rig::hear);
#endif
    apply(settings_);
}

Rig::~Rig() {
#if TEMPOCALC_HAVE_LISTEN_JACK
    // Listening reads the JACK client's ring on a thread of its own: it ends first.
    delete listen_;
#endif
}

std::optional<BeatGrid> Rig::grid() const {
    const std::optional<BeatGrid> tapped = session_.grid();
#if TEMPOCALC_HAVE_LISTEN_JACK
    if (const std::optional<Heard> heard = listen_->heard()) {
        BeatGrid grid{heard->bpm, heard->beat, session_.beatsInBar(), heard->beat};
        // The bars where the taps put them, on the beat heard nearest to their one.
        if (tapped) {
            grid.one = nearest_beat(grid, tapped->one);
            grid.marks = tapped->marks;
        } else if (heardOne_) {
            grid.one = nearest_beat(grid, *heardOne_);
        }
        return grid;
    }
#endif
    return tapped ? tapped : start_;
}

bool Rig::listening() const {
    return listen_ && settings_.listen;
}

std::optional<Heard> Rig::heard() const {
#if TEMPOCALC_HAVE_LISTEN_JACK
    return listen_->heard();
#else
    return std::nullopt;
#endif
}

std::optional<int> Rig::beatInBarNow() const {
    const std::optional<BeatGrid> now = grid();
    return now ? std::optional(beat_in_bar(*now, clock_())) : std::nullopt;
}

template <typename Operation> void Rig::perform(Operation operation) {
    Shown texts;
    std::optional<std::pair<int, QString>> failure;
    try {
        operation(texts);
    } catch (const RunTimeError& e) {
        failure = {e.number(), QString::fromUtf8(e.what())};
    } catch (const std::exception& e) {
        failure = {0, QString::fromUtf8(e.what())};
    }
    // A failed operation still shows what it set before it failed.
    emit shown(texts);
    if (failure) {
        emit failed(failure->first, failure->second);
    }
}

void Rig::strike(double reading, TapSession::Source source) {
    bool struck = false;
    perform([&](Shown& shown) {
        struck = session_.strike(reading, shown, source) == TapSession::Taken::struck;
    });
    if (struck) {
#if TEMPOCALC_HAVE_LISTEN_JACK
        static constexpr double quarterBeats[] = {1.0, 0.5, 1.0 / 3};
        listen_->strike(reading, quarterBeats[std::clamp<int>(session_.state().notemode, 0, 2)]);
        if (heardShown_) {
            hear(); // Ave goes on showing the tempo heard
        }
#endif
        share();
    }
}

void Rig::notetoggle() {
    perform([this](Shown& shown) { session_.notetoggle(shown); });
    settings_.setNote(session_.state().notemode);
}

void Rig::initialize() {
    perform([this](Shown& shown) { session_.initialize(shown); });
#if TEMPOCALC_HAVE_LISTEN_JACK
    listen_->forget();
    heardOne_.reset();
    heardShown_ = false;
#endif
    share();
}

void Rig::setListen(bool on) {
    settings_.setListen(on);
#if TEMPOCALC_HAVE_LISTEN_JACK
    listen_->setOn(on);
    hear();
#endif
}

// What is heard is the grid, and Ave shows its tempo; when nothing is heard any more,
// Ave shows the taps' again.
void Rig::hear() {
#if TEMPOCALC_HAVE_LISTEN_JACK
    const std::optional<Heard> heard = listen_->heard();
    if (heard) {
        if (!heardOne_) {
            heardOne_ = heard->beat;
        }
        Shown shown;
        shown.text1 = average_text(heard->bpm, separator_);
        heardShown_ = true;
        emit this->shown(shown);
    } else if (heardShown_) {
        heardShown_ = false;
        Shown shown;
        shown.text1 = session_.state().tapcount > 0 ? session_.averageText()
                                                    : std::string(initial_average_text);
        emit this->shown(shown);
    }
#endif
    share();
    emit heardChanged();
}

void Rig::markOne() {
    session_.markOne();
}

void Rig::setBeatsInBar(int beats) {
    settings_.setBar(beats);
    session_.setBeatsInBar(beats);
    if (start_) {
        start_->bar = beats;
    }
    share();
}

void Rig::chooseAverage(AverageMethod method) {
    settings_.setAverage(method);
    perform([&](Shown& shown) { session_.choose(method, shown); });
}

void Rig::setClock(bool on) {
    settings_.setMidiClock(on);
#if TEMPOCALC_HAVE_JACK
    jack_->setClock(on);
#endif
}

void Rig::setClick(bool on) {
    settings_.setClick(on);
#if TEMPOCALC_HAVE_JACK
    jack_->setClick(on);
#endif
}

void Rig::setLink(bool on) {
    settings_.setLink(on);
#if TEMPOCALC_HAVE_LINK
    link_->setOn(on);
#endif
}

void Rig::setAlign(bool on) {
    settings_.setAlign(on);
#if TEMPOCALC_HAVE_LINK
    link_->setAlign(on);
#endif
}

void Rig::apply(const Settings& choices) {
    const auto keep = [this](auto member, const auto& value) { settings_.*member = value; };
    keep(&Settings::flash, choices.flash);
    keep(&Settings::note, choices.note);
    if (choices.bar != session_.beatsInBar()) {
        keep(&Settings::bar, choices.bar);
        session_.setBeatsInBar(choices.bar);
        if (start_) {
            start_->bar = choices.bar;
        }
        share();
    }
    if (choices.average != session_.method()) {
        keep(&Settings::average, choices.average);
        perform([&](Shown& shown) { session_.choose(choices.average, shown); });
    }
    keep(&Settings::midiClock, choices.midiClock);
    keep(&Settings::click, choices.click);
    keep(&Settings::link, choices.link);
    keep(&Settings::align, choices.align);
    keep(&Settings::listen, choices.listen);
#if TEMPOCALC_HAVE_JACK
    jack_->setClock(choices.midiClock);
    jack_->setClick(choices.click);
#endif
#if TEMPOCALC_HAVE_LINK
    link_->setAlign(choices.align);
    link_->setOn(choices.link);
#endif
#if TEMPOCALC_HAVE_LISTEN_JACK
    if (choices.listen != listen_->on()) {
        listen_->setOn(choices.listen);
        hear();
    }
#endif
    if (taps_) {
        const std::optional<MidiPort> port =
            choices.midiPort.isEmpty() ? std::nullopt
                                       : std::optional(MidiPort{choices.midiApi, choices.midiPort});
        if (port != taps_->chosen()) {
            taps_->choose(port, false);
        }
        if (MidiMessage::fromString(choices.midiMessage) != taps_->learned()) {
            taps_->setLearned(MidiMessage::fromString(choices.midiMessage), false);
        }
        if (MidiMessage::fromString(choices.midiOne) != taps_->learnedOne()) {
            taps_->setLearnedOne(MidiMessage::fromString(choices.midiOne), false);
        }
    }
    keep(&Settings::midiPort, choices.midiPort);
    keep(&Settings::midiApi, choices.midiApi);
    keep(&Settings::midiMessage, choices.midiMessage);
    keep(&Settings::midiOne, choices.midiOne);
}

void Rig::setNote(std::int16_t notemode) {
    for (int turns = 0; turns < 3 && session_.state().notemode != notemode; ++turns) {
        perform([this](Shown& shown) { session_.notetoggle(shown); });
    }
}

void Rig::startAt(double bpm) {
    // The first bar a moment from now, when the rig has had time to open its client.
    const double one = clock_() + 0.5;
    start_ = BeatGrid{bpm, one, session_.beatsInBar(), one};
    share();
}

void Rig::setConnections(const QList<QPair<QString, QString>>& connections) {
#if TEMPOCALC_HAVE_JACK
    jack_->setConnections(connections);
#else
    (void)connections;
#endif
}

void Rig::share() {
    const std::optional<BeatGrid> now = grid();
#if TEMPOCALC_HAVE_JACK
    jack_->share(now);
#endif
#if TEMPOCALC_HAVE_LINK
    link_->share(now);
#endif
    if (now.has_value() != shared_.has_value() ||
        (now &&
         (now->bpm != shared_->bpm || now->beat != shared_->beat || now->bar != shared_->bar ||
          now->one != shared_->one || now->marks != shared_->marks))) {
        shared_ = now;
        emit gridChanged(now);
    }
}

} // namespace tempocalc
