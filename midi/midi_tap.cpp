#include "midi_tap.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <QMetaObject>

#include <array>
#include <atomic>
#include <cmath>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace tempocalc {
namespace {

constexpr const char* clientName = "tempo-calculator";

std::vector<RtMidi::Api> systems() {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    std::erase(apis, RtMidi::RTMIDI_DUMMY);
    return apis;
}

// A system that is not there is no error of the program's: the libraries' own
// complaints about it stay off the terminal.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
void quietJack(const char*) {}

class QuietCerr {
public:
    QuietCerr() : saved_(std::cerr.rdbuf(sink_.rdbuf())) {}
    ~QuietCerr() { std::cerr.rdbuf(saved_); }
    QuietCerr(const QuietCerr&) = delete;
    QuietCerr& operator=(const QuietCerr&) = delete;

private:
    std::ostringstream sink_;
    std::streambuf* saved_;
};

// An input on one system, or nothing when the system does not answer (no ALSA
// sequencer device, no JACK server: a JACK client never starts one).
std::unique_ptr<RtMidiIn> inputOn(RtMidi::Api api) {
    snd_lib_error_set_handler(&quietAlsa);
    jack_set_error_function(&quietJack);
    jack_set_info_function(&quietJack);
    const QuietCerr quiet; // RtMidi says what fails while it is made
    try {
        auto in = std::make_unique<RtMidiIn>(api, clientName);
        bool failed = false;
        in->setErrorCallback(
            [](RtMidiError::Type type, const std::string&, void* failed) {
                if (type != RtMidiError::DEBUG_WARNING) {
                    *static_cast<bool*>(failed) = true;
                }
            },
            &failed);
        in->getPortCount(); // connects, or says why it cannot
        in->setErrorCallback(nullptr, nullptr);
        if (failed) {
            return nullptr;
        }
        return in;
    } catch (const RtMidiError&) {
        return nullptr;
    }
}

} // namespace

// What both threads share: the window's thread sets what is learned, the MIDI
// thread hears the messages.
struct MidiTap::Listener {
    MidiTap* tap;
    Clock clock;
    TapFilter filter;
    std::unique_ptr<Port> port;
};

// One open port. Made afresh for every port opened, and RtMidi stops calling back (its
// thread ends, its JACK client closes) when the input is dropped, first.
struct MidiTap::Port {
    Listener* listener;
    std::unique_ptr<RtMidiIn> input;

    static void heard(double, std::vector<unsigned char>* bytes, void* self) {
        static_cast<Port*>(self)->handle(*bytes);
    }

    void handle(const std::vector<unsigned char>& bytes) {
        if (bytes.size() != 3) {
            return;
        }
        const double reading = listener->clock();
        MidiTap* tap = listener->tap;
        switch (listener->filter.hear(bytes.data(), bytes.size(), reading)) {
        case TapFilter::Heard::learned:
            QMetaObject::invokeMethod(
                tap, [tap] { emit tap->learnedChanged(); }, Qt::QueuedConnection);
            break;
        case TapFilter::Heard::strike:
            QMetaObject::invokeMethod(
                tap, [tap, reading] { emit tap->strikeAt(reading); }, Qt::QueuedConnection);
            break;
        case TapFilter::Heard::one:
            QMetaObject::invokeMethod(
                tap, [tap] { emit tap->oneMarked(); }, Qt::QueuedConnection);
            break;
        case TapFilter::Heard::nothing:
            break;
        }
    }
};

MidiTap::MidiTap(Clock clock, QObject* parent)
    : QObject(parent), listener_(std::make_unique<Listener>()) {
    listener_->tap = this;
    listener_->clock = std::move(clock);
}

MidiTap::~MidiTap() {
    // No message can be handled once the port is closed.
    listener_->port.reset();
}

QList<MidiPort> MidiTap::ports(int* answered) const {
    QList<MidiPort> found;
    int count = 0;
    for (const RtMidi::Api api : systems()) {
        if (leftOut_.contains(QString::fromStdString(RtMidi::getApiName(api)))) {
            continue;
        }
        const std::unique_ptr<RtMidiIn> in = inputOn(api);
        if (!in) {
            continue;
        }
        ++count;
        const QString apiName = QString::fromStdString(RtMidi::getApiName(api));
        for (unsigned int i = 0, n = in->getPortCount(); i < n; ++i) {
            found.append({apiName, QString::fromStdString(in->getPortName(i))});
        }
    }
    if (answered) {
        *answered = count;
    }
    return found;
}

bool MidiTap::open(const MidiPort& port) {
    close();
    chosen_ = port;
    const RtMidi::Api api = RtMidi::getCompiledApiByName(port.api.toStdString());
    std::unique_ptr<RtMidiIn> in =
        api == RtMidi::UNSPECIFIED || leftOut_.contains(port.api) ? nullptr : inputOn(api);
    if (!in) {
        return false;
    }
    QList<MidiPort> offered;
    for (unsigned int i = 0, n = in->getPortCount(); i < n; ++i) {
        offered.append({port.api, QString::fromStdString(in->getPortName(i))});
    }
    if (const std::optional<MidiPort> found = MidiPort::find(port, offered)) {
        const auto i = static_cast<unsigned int>(offered.indexOf(*found));
        auto opened = std::make_unique<Port>();
        opened->listener = listener_.get();
        listener_->filter.restart(); // no input hears now: the last one was dropped
        try {
            in->setCallback(&Port::heard, opened.get());
            in->ignoreTypes(true, true, true); // system exclusive, clock, active sensing
            in->openPort(i, "tap");
        } catch (const RtMidiError&) {
            in.reset(); // before what its callback would reach
            return false;
        }
        opened->input = std::move(in);
        listener_->port = std::move(opened);
        return true;
    }
    return false;
}

void MidiTap::close() {
    listener_->port.reset();
    chosen_.reset();
}

bool MidiTap::isOpen() const {
    return listener_->port && listener_->port->input->isPortOpen();
}

void MidiTap::learn() {
    listener_->filter.learn();
}

bool MidiTap::isLearning() const {
    return listener_->filter.isLearning();
}

std::optional<MidiMessage> MidiTap::learned() const {
    return listener_->filter.learned();
}

void MidiTap::setLearned(std::optional<MidiMessage> message) {
    listener_->filter.setLearned(message);
}

void MidiTap::learnOne() {
    listener_->filter.learnOne();
}

bool MidiTap::isLearningOne() const {
    return listener_->filter.isLearningOne();
}

std::optional<MidiMessage> MidiTap::learnedOne() const {
    return listener_->filter.learnedOne();
}

void MidiTap::setLearnedOne(std::optional<MidiMessage> message) {
    listener_->filter.setLearnedOne(message);
}

} // namespace tempocalc
