#include "jack_entry.h"

#include "application.h"
#include "day_clock.h"
#include "jack_client.h"

#include <QAction>
#include <QMenu>

namespace tempocalc {

// JACK's MIDI ports, tapped through the program's own client: each strike is timed by
// its event's frame.
class JackTapInput : public TapInput {
public:
    explicit JackTapInput(JackEntry* entry) : TapInput(entry), entry_(entry) {
        JackClient* client = entry_->client_;
        connect(client, &JackClient::strikeAt, this,
                [this](std::chrono::steady_clock::time_point at) {
                    emit strikeAt(readingAt(entry_->clock_, at));
                });
        connect(client, &JackClient::learnedChanged, this, &TapInput::learnedChanged);
    }

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
        const bool connected = entry_->client_->tapFrom(port.name); // at once, when open
        return entry_->client_->isOpen() ? connected : entry_->needed(false);
    }
    void close() override {
        entry_->client_->tapFrom(QString());
        entry_->needed(false);
    }
    bool isOpen() const override {
        return entry_->client_->isOpen() && !entry_->client_->tappedFrom().isEmpty();
    }
    void learn() override { entry_->client_->learn(); }
    std::optional<MidiMessage> learned() const override { return entry_->client_->learned(); }
    void setLearned(std::optional<MidiMessage> message) override {
        entry_->client_->setLearned(message);
    }

    static QString api() { return QStringLiteral("jack"); }

private:
    JackEntry* entry_;
};

JackEntry::JackEntry(QMenu* menu, Settings& settings, Clock clock)
    : QObject(menu), settings_(settings), clock_(std::move(clock)), window_(menu->parentWidget()),
      client_(new JackClient(this)), tap_(new JackTapInput(this)) {
    clock_entry_ = menu->addAction(tr("Send MIDI clock (JACK)"));
    click_entry_ = menu->addAction(tr("Click on the beat (JACK)"));
    for (QAction* entry : {clock_entry_, click_entry_}) {
        entry->setCheckable(true);
        connect(entry, &QAction::triggered, this, [this, entry](bool on) { turn(entry, on); });
    }
    set(clock_entry_, settings_.midiClock);
    set(click_entry_, settings_.click);
    connect(client_, &JackClient::shutDown, this, &JackEntry::lost);
    // Without a server the entries turn off, but the choice stays for the next start.
    needed(true);
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

void JackEntry::set(QAction* entry, bool on) {
    entry->setChecked(on);
    if (entry == clock_entry_) {
        client_->setClock(on);
    } else {
        client_->setClick(on);
    }
}

void JackEntry::turn(QAction* entry, bool on) {
    set(entry, on);
    const auto keep = [&](bool value) {
        entry == clock_entry_ ? settings_.setMidiClock(value) : settings_.setClick(value);
    };
    keep(on);
    // Opens the client, or closes it when nothing needs it any more.
    if (!needed(on) && on) {
        keep(false); // no server: it turns itself off again
    }
}

bool JackEntry::needed(bool tellWhenMissing) {
    if (!client_->clock() && !client_->click() && client_->tappedFrom().isEmpty()) {
        client_->close();
        return true;
    }
    if (client_->isOpen() || client_->open()) {
        return true;
    }
    set(clock_entry_, false);
    set(click_entry_, false);
    if (tellWhenMissing) {
        tell(tr("No JACK server is running: start JACK, or on PipeWire run the program "
                "through pw-jack."));
    }
    return false;
}

void JackEntry::lost(const QString& why) {
    set(clock_entry_, false);
    set(click_entry_, false);
    // JACK's own words are English: they go to the log, the user reads the window's.
    qWarning("JACK: %s", qUtf8Printable(why));
    tell(tr("JACK stopped: the MIDI clock, the click and the taps from JACK are off."));
}

void JackEntry::tell(const QString& message) {
    auto* box = new OneLineMessageBox(QMessageBox::Warning, window_->windowTitle(), message,
                                      QMessageBox::Ok, window_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open(); // the window goes on meanwhile
}

} // namespace tempocalc
