#include "jack_control.h"

#include "day_clock.h"
#include "jack_client.h"

namespace tempocalc {

// JACK's MIDI ports, tapped through the program's own client: each strike is timed by
// its event's frame. The client connects the chosen port whenever both are there.
class JackTapInput : public TapInput {
public:
    explicit JackTapInput(JackControl* control) : control_(control) {
        JackClient* client = control_->client_;
        connect(client, &JackClient::strikeAt, this,
                [this](std::chrono::steady_clock::time_point at) {
                    emit strikeAt(readingAt(control_->clock_, at));
                });
        connect(client, &JackClient::learnedChanged, this, &TapInput::learnedChanged);
        connect(client, &JackClient::oneMarked, this, &TapInput::oneMarked);
        connect(client, &JackClient::tapSourcesChanged, this, &TapInput::portsChanged);
        connect(client, &JackClient::tapConnectedChanged, this, &TapInput::portsChanged);
    }

    void refresh() override { control_->client_->refreshTapSources(); }
    QList<MidiPort> ports(int& systems) override {
        bool answered = false;
        QList<MidiPort> found;
        for (const QString& name : control_->client_->tapSources(&answered)) {
            found.append({api(), name});
        }
        systems += answered ? 1 : 0;
        return found;
    }
    bool handles(const MidiPort& port) const override { return port.api == api(); }
    bool open(const MidiPort& port) override {
        control_->client_->setTapSource(port.name);
        control_->want();
        return true; // connected as soon as the port and a server are there
    }
    void close() override {
        control_->client_->setTapSource(QString());
        control_->want();
    }
    bool isOpen() const override { return control_->client_->tapConnected(); }
    void learn() override { control_->client_->learn(); }
    bool isLearning() const override { return control_->client_->isLearning(); }
    std::optional<MidiMessage> learned() const override { return control_->client_->learned(); }
    void setLearned(std::optional<MidiMessage> message) override {
        control_->client_->setLearned(message);
    }
    void learnOne() override { control_->client_->learnOne(); }
    bool isLearningOne() const override { return control_->client_->isLearningOne(); }
    std::optional<MidiMessage> learnedOne() const override {
        return control_->client_->learnedOne();
    }
    void setLearnedOne(std::optional<MidiMessage> message) override {
        control_->client_->setLearnedOne(message);
    }

    static QString api() { return QStringLiteral("jack"); }

private:
    JackControl* control_;
};

namespace {

JackControl::State toRig(JackClient::State state) {
    switch (state) {
    case JackClient::State::opening:
        return JackControl::State::opening;
    case JackClient::State::waiting:
        return JackControl::State::waiting;
    case JackClient::State::open:
        return JackControl::State::open;
    case JackClient::State::closing:
        return JackControl::State::closing;
    case JackClient::State::off:
        break;
    }
    return JackControl::State::off;
}

} // namespace

JackControl::JackControl(Clock clock, QObject* parent)
    : QObject(parent), clock_(std::move(clock)), client_(new JackClient(this)) {
    connect(client_, &JackClient::stateChanged, this, [this](JackClient::State state) {
        if (state == JackClient::State::waiting) {
            emit notice(QStringLiteral("jack-waiting"),
                        tr("No JACK server is running: the JACK entries wait for one (on "
                           "PipeWire, run the program through pw-jack)."));
        }
        emit stateChanged(toRig(state));
    });
    connect(client_, &JackClient::shutDown, this, &JackControl::serverGone);
    connect(client_, &JackClient::connectionChanged, this, &JackControl::connectionChanged);
    connect(client_, &JackClient::shutDown, this, [this] {
        emit notice(QStringLiteral("jack-stopped"),
                    tr("JACK stopped: the MIDI clock, the click and the taps from JACK wait "
                       "for it to come back."));
    });
}

JackControl::State JackControl::state() const {
    return toRig(client_->state());
}

QString JackControl::clientName() const {
    return client_->name();
}

QString JackControl::error() const {
    return client_->error();
}

void JackControl::closeNow() {
    client_->setWanted(false);
}

TapInput* JackControl::takeTapInput() {
    if (!tap_) {
        tap_ = new JackTapInput(this);
    }
    return tap_;
}

void JackControl::setClock(bool on) {
    client_->setClock(on);
    want();
}

bool JackControl::clock() const {
    return client_->clock();
}

void JackControl::setClick(bool on) {
    client_->setClick(on);
    want();
}

bool JackControl::click() const {
    return client_->click();
}

void JackControl::setListening(bool on) {
    client_->setListening(on);
    want();
}

void JackControl::share(std::optional<BeatGrid> grid) {
    if (grid && grid->bpm <= fastest_beat_bpm) {
        client_->setGrid(
            JackClient::Grid{grid->bpm, steadyTimeOf(clock_, grid->one), grid->bar, grid->marks});
    } else {
        client_->setGrid(std::nullopt);
    }
}

void JackControl::setConnections(const QList<QPair<QString, QString>>& connections) {
    client_->setConnections(connections);
}

void JackControl::want() {
    client_->setWanted(client_->clock() || client_->click() || client_->listening() ||
                       !client_->tapSource().isEmpty());
}

} // namespace tempocalc
