#include "jack_entry.h"

#include "day_clock.h"
#include "jack_client.h"

#include <QAction>
#include <QMenu>

namespace tempocalc {

// JACK's MIDI ports, tapped through the program's own client: each strike is timed by
// its event's frame. The client connects the chosen port whenever both are there.
class JackTapInput : public TapInput {
public:
    explicit JackTapInput(JackEntry* entry) : TapInput(entry), entry_(entry) {
        JackClient* client = entry_->client_;
        connect(client, &JackClient::strikeAt, this,
                [this](std::chrono::steady_clock::time_point at) {
                    emit strikeAt(readingAt(entry_->clock_, at));
                });
        connect(client, &JackClient::learnedChanged, this, &TapInput::learnedChanged);
        connect(client, &JackClient::tapSourcesChanged, this, &TapInput::portsChanged);
        connect(client, &JackClient::tapConnectedChanged, this, &TapInput::portsChanged);
    }

    void refresh() override { entry_->client_->refreshTapSources(); }
    QList<MidiPort> ports(int& systems) override {
        bool answered = false;
        QList<MidiPort> found;
        for (const QString& name : entry_->client_->tapSources(&answered)) {
            found.append({api(), name});
        }
        systems += answered ? 1 : 0;
        return found;
    }
    bool handles(const MidiPort& port) const override { return port.api == api(); }
    bool open(const MidiPort& port) override {
        entry_->client_->setTapSource(port.name);
        entry_->want();
        return true; // connected as soon as the port and a server are there
    }
    void close() override {
        entry_->client_->setTapSource(QString());
        entry_->want();
    }
    bool isOpen() const override { return entry_->client_->tapConnected(); }
    void learn() override { entry_->client_->learn(); }
    bool isLearning() const override { return entry_->client_->isLearning(); }
    std::optional<MidiMessage> learned() const override { return entry_->client_->learned(); }
    void setLearned(std::optional<MidiMessage> message) override {
        entry_->client_->setLearned(message);
    }

    static QString api() { return QStringLiteral("jack"); }

private:
    JackEntry* entry_;
};

JackEntry::JackEntry(QMenu* menu, Settings& settings, Clock clock)
    : QObject(menu), settings_(settings), clock_(std::move(clock)), client_(new JackClient(this)),
      tap_(new JackTapInput(this)) {
    clock_entry_ = menu->addAction(QString());
    click_entry_ = menu->addAction(QString());
    for (QAction* entry : {clock_entry_, click_entry_}) {
        entry->setCheckable(true);
        connect(entry, &QAction::triggered, this, [this, entry](bool on) { turn(entry, on); });
    }
    clock_entry_->setChecked(settings_.midiClock);
    click_entry_->setChecked(settings_.click);
    client_->setClock(settings_.midiClock);
    client_->setClick(settings_.click);
    connect(client_, &JackClient::stateChanged, this, [this](JackClient::State state) {
        describe();
        if (state == JackClient::State::waiting) {
            emit notice(QStringLiteral("jack-waiting"),
                        tr("No JACK server is running: the JACK entries wait for one (on "
                           "PipeWire, run the program through pw-jack)."));
        }
    });
    connect(client_, &JackClient::shutDown, this, [this](const QString& why) {
        // JACK's own words are English: they go to the log, the user reads the window's.
        qWarning("JACK: %s", qUtf8Printable(why));
        emit notice(QStringLiteral("jack-stopped"),
                    tr("JACK stopped: the MIDI clock, the click and the taps from JACK wait "
                       "for it to come back."));
    });
    describe();
    want();
}

TapInput* JackEntry::tapInput() const {
    return tap_;
}

void JackEntry::share(std::optional<BeatGrid> grid) {
    if (grid && grid->bpm <= fastest_beat_bpm) {
        client_->setGrid(JackClient::Grid{grid->bpm, steadyTimeOf(clock_, grid->beat)});
    } else {
        client_->setGrid(std::nullopt);
    }
}

void JackEntry::turn(QAction* entry, bool on) {
    if (entry == clock_entry_) {
        settings_.setMidiClock(on);
        client_->setClock(on);
    } else {
        settings_.setClick(on);
        client_->setClick(on);
    }
    want();
}

void JackEntry::want() {
    client_->setWanted(client_->clock() || client_->click() || !client_->tapSource().isEmpty());
    describe();
}

void JackEntry::describe() {
    QString state;
    switch (client_->state()) {
    case JackClient::State::opening:
        state = tr("connecting to JACK…");
        break;
    case JackClient::State::waiting:
        state = tr("waiting for JACK");
        break;
    case JackClient::State::closing:
        state = tr("stopping…");
        break;
    case JackClient::State::off:
    case JackClient::State::open:
        break;
    }
    const auto text = [&](QAction* entry, const QString& name) {
        const bool pending = !state.isEmpty() &&
                             (entry->isChecked() || client_->state() == JackClient::State::closing);
        entry->setText(pending ? tr("%1 — %2").arg(name, state) : name);
    };
    text(clock_entry_, tr("Send MIDI clock (JACK)"));
    text(click_entry_, tr("Click on the beat (JACK)"));
}

} // namespace tempocalc
