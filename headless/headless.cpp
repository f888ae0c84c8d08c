#include "headless.h"

#include "day_clock.h"
#include "number_text.h"
#include "rig.h"
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

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <optional>

namespace tempocalc {
namespace {

void say(const QString& line) {
    std::fprintf(stderr, "tempo-calculator: %s\n", qUtf8Printable(line));
    std::fflush(stderr);
}

// What the command line gives for this run alone: never written to the settings.
struct RunOptions {
    std::optional<MidiPort> tap;
    bool clock = false, click = false, link = false, align = false, listen = false;
    std::optional<std::int16_t> note;
    std::optional<int> bar;
    std::optional<AverageMethod> method;
    std::optional<double> bpm;
    QList<QPair<QString, QString>> connections;

    // The settings with this run's choices over them.
    Settings over(Settings settings) const {
        if (tap && (tap->api != settings.midiApi || tap->name != settings.midiPort)) {
            // What was learned on the window's pedal is no message of this one.
            settings.midiApi = tap->api;
            settings.midiPort = tap->name;
            settings.midiMessage.clear();
        }
        settings.midiClock = settings.midiClock || clock;
        settings.click = settings.click || click;
        settings.link = settings.link || link;
        settings.align = settings.align || align;
        settings.listen = settings.listen || listen;
        settings.note = note.value_or(settings.note);
        settings.bar = bar.value_or(settings.bar);
        settings.average = method.value_or(settings.average);
        return settings;
    }
};

// The program's JACK ports that --connect takes.
QStringList ourPorts() {
    QStringList ours{QStringLiteral("clock"), QStringLiteral("click"), QStringLiteral("tap")};
    if (Rig::built().listen) {
        ours << QStringLiteral("listen");
    }
    return ours;
}

void describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Measures the tempo of music, without a window: a stage box. Strikes come from a MIDI "
        "pedal or pad; Link, the MIDI clock and the click on JACK follow the beat. Choices are "
        "read from the settings the window keeps; the options hold for this run alone. Each "
        "event is one line on stderr. SIGINT or SIGTERM ends it (a MIDI Stop first), SIGHUP "
        "reads the settings again."));
    parser.addHelpOption();
    parser.addVersionOption();
    // Only what this build can do: a build without JACK has no clock, click or ports.
    const Rig::Built built = Rig::built();
    parser.addOption(
        {QStringLiteral("headless"), QStringLiteral("Runs without a window (this mode).")});
    if (built.midi) {
        parser.addOption(
            {QStringLiteral("tap"),
             QStringLiteral("Strikes from this JACK MIDI port (as jack_lsp names it), or an ALSA "
                            "port as alsa:NAME."),
             QStringLiteral("PORT")});
    }
    if (built.jack) {
        parser.addOptions({
            {QStringLiteral("clock"), QStringLiteral("Sends MIDI clock on the JACK port clock.")},
            {QStringLiteral("click"), QStringLiteral("Plays a click on the JACK port click.")},
        });
    }
    if (built.link) {
        parser.addOptions({
            {QStringLiteral("link"), QStringLiteral("Shares the beat's tempo with Ableton Link.")},
            {QStringLiteral("align"), QStringLiteral("Puts Link's beats on the taps.")},
        });
    }
    parser.addOptions({
        {QStringLiteral("note"),
         QStringLiteral("What a strike stands for: 4, 8 or 12 (1/4, 1/8, "
                        "1/12 notes)."),
         QStringLiteral("N")},
        {QStringLiteral("method"), QStringLiteral("How the tempo is found: mean or line."),
         QStringLiteral("METHOD")},
        {QStringLiteral("bar"), QStringLiteral("Beats in a bar, 2 to 7."), QStringLiteral("N")},
        {QStringLiteral("bpm"),
         QStringLiteral("A beat at N BPM from the start, until strikes give one."),
         QStringLiteral("N")},
    });
    if (built.jack) {
        parser.addOption(
            {QStringLiteral("connect"),
             QStringLiteral("Connects a port of the program's (%1) with another "
                            "client's, now and whenever both are there; may be given again.")
                 .arg(ourPorts().join(QStringLiteral(", "))),
             QStringLiteral("OURS=THEIRS")});
    }
    if (built.listen) {
        parser.addOption({QStringLiteral("listen-jack"),
                          QStringLiteral("Listens to the music on the JACK port listen: the beat "
                                         "heard is the beat, and strikes settle it.")});
    }
}

// The options, or why they cannot be used, in one line.
std::optional<RunOptions> read(const QCommandLineParser& parser, QString& error) {
    RunOptions run;
    // Among the options found: one this build does not have was refused by the parser.
    const QStringList found = parser.optionNames();
    const auto is = [&](const char* name) { return found.contains(QString::fromLatin1(name)); };
    const auto value = [&](const char* name) { return parser.value(QString::fromLatin1(name)); };
    if (is("tap")) {
        const QString port = value("tap");
        if (port.isEmpty() || port == QLatin1String("alsa:")) {
            error = QStringLiteral("--tap needs a port");
            return std::nullopt;
        }
        run.tap = port.startsWith(QLatin1String("alsa:"))
                      ? MidiPort{QStringLiteral("alsa"), port.mid(5)}
                      : MidiPort{QStringLiteral("jack"), port};
    }
    run.clock = is("clock");
    run.click = is("click");
    run.link = is("link");
    run.align = is("align");
    run.listen = is("listen-jack");
    if (is("note")) {
        const qsizetype mode = QStringList({"4", "8", "12"}).indexOf(value("note"));
        if (mode < 0) {
            error = QStringLiteral("--note %1: a note is 4, 8 or 12").arg(value("note"));
            return std::nullopt;
        }
        run.note = static_cast<std::int16_t>(mode);
    }
    if (is("bar")) {
        bool ok = false;
        const int beats = value("bar").toInt(&ok);
        if (!ok || beats < fewest_beats_in_a_bar || beats > most_beats_in_a_bar) {
            error = QStringLiteral("--bar %1: a bar has 2 to 7 beats").arg(value("bar"));
            return std::nullopt;
        }
        run.bar = beats;
    }
    if (is("method")) {
        const QString method = value("method").toLower();
        if (method != QLatin1String("mean") && method != QLatin1String("line")) {
            error = QStringLiteral("--method %1: the method is mean or line").arg(value("method"));
            return std::nullopt;
        }
        run.method = method == QLatin1String("line") ? AverageMethod::line : AverageMethod::mean;
    }
    if (is("bpm")) {
        bool ok = false;
        const double bpm = value("bpm").toDouble(&ok);
        if (!ok || !(bpm >= 20 && bpm <= fastest_beat_bpm)) {
            error = QStringLiteral("--bpm %1: a tempo from 20 to 999 BPM").arg(value("bpm"));
            return std::nullopt;
        }
        run.bpm = bpm;
    }
    for (const QString& connection :
         is("connect") ? parser.values(QStringLiteral("connect")) : QStringList()) {
        const qsizetype equals = connection.indexOf(QLatin1Char('='));
        const QString ours = connection.left(equals);
        if (equals < 0 || connection.mid(equals + 1).isEmpty() || !ourPorts().contains(ours)) {
            error = QStringLiteral("--connect %1: give OURS=THEIRS, OURS one of %2")
                        .arg(connection, ourPorts().join(QStringLiteral(", ")));
            return std::nullopt;
        }
        run.connections.append({ours, connection.mid(equals + 1)});
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("%1: not an option").arg(parser.positionalArguments().first());
        return std::nullopt;
    }
    return run;
}

// SIGINT, SIGTERM and SIGHUP, as bytes on a socket that the event loop watches.
int signalSocket[2] = {-1, -1};

void onSignal(int number) {
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(signalSocket[1], &byte, 1);
}

QString describe(const Settings& settings, const RunOptions& run) {
    QStringList parts;
    parts
        << (settings.midiPort.isEmpty()
                ? QStringLiteral("no pedal chosen")
                : QStringLiteral("tapping from %1 (%2)").arg(settings.midiPort, settings.midiApi));
    if (const std::optional<MidiMessage> learned = MidiMessage::fromString(settings.midiMessage)) {
        parts << QStringLiteral("only %1 %2 on channel %3 strikes (learned)")
                     .arg(learned->kind == MidiMessage::Kind::note ? "note" : "controller")
                     .arg(learned->number)
                     .arg(learned->channel);
    }
    parts << QStringLiteral("%1 notes")
                 .arg(settings.note == 0   ? "quarter"
                      : settings.note == 1 ? "eighth"
                                           : "twelfth");
    parts << QStringLiteral("%1 beats a bar").arg(settings.bar);
    parts << (settings.average == AverageMethod::line ? QStringLiteral("the line through strikes")
                                                      : QStringLiteral("the mean of the tempos"));
    parts << QStringLiteral("MIDI clock %1").arg(settings.midiClock ? "on" : "off");
    parts << QStringLiteral("click %1").arg(settings.click ? "on" : "off");
    if (Rig::built().listen) {
        parts << QStringLiteral("listening %1").arg(settings.listen ? "on" : "off");
    }
    parts << QStringLiteral("Link %1").arg(settings.link ? (settings.align ? "on, aligned" : "on")
                                                         : "off");
    if (run.bpm) {
        parts << QStringLiteral("%1 BPM until the first tempo").arg(*run.bpm);
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace

int runHeadless(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tempo-calculator"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TEMPOCALC_VERSION));
    QCommandLineParser parser;
    describe(parser);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QCoreApplication::arguments())) {
        say(parser.errorText());
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        parser.showHelp(0);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }
    QString error;
    const std::optional<RunOptions> run = read(parser, error);
    if (!run) {
        say(error);
        return 2;
    }

    Settings loaded = Settings::load();
    for (const SettingsProblem& problem : std::as_const(loaded.problems)) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(problem.line()));
    }
    const Settings choices = run->over(loaded);
    Rig rig(DayClock(), choices);
    rig.settings().onProblem = [](const SettingsProblem& problem) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(problem.line()));
    };
    rig.setNote(choices.note);

    // One line an event, for the journal.
    std::optional<double> lastTempo;
    QObject::connect(&rig, &Rig::shown, &app, [&] {
        const std::optional<double> tempo = rig.session().average();
        if (tempo && tempo != lastTempo) {
            // As Ave would show it; and the beat that goes out, where the mean differs.
            QString line = QStringLiteral("tempo %1 BPM").arg(*tempo, 0, 'f', 3);
            if (const std::optional<BeatGrid> grid = rig.grid(); grid && grid->bpm != *tempo) {
                line += QStringLiteral(" (the mean); the beat %1 BPM").arg(grid->bpm, 0, 'f', 3);
            }
            say(line);
        }
        lastTempo = tempo;
    });
#if TEMPOCALC_HAVE_LISTEN_JACK
    // What is heard, when what the log would say of it changes.
    QString lastHeard;
    QObject::connect(rig.listen(), &ListenControl::heardChanged, &app, [&] {
        const std::optional<Heard> heard = rig.heard();
        QString line;
        if (!heard) {
            line = rig.listening() ? QStringLiteral("listening: no beat heard yet") : QString();
        } else if (heard->state == Heard::State::holding) {
            line = QStringLiteral("heard: no beat in the music, holding %1 BPM")
                       .arg(heard->bpm, 0, 'f', 1);
        } else {
            line = QStringLiteral("heard %1 BPM (%2%3)")
                       .arg(heard->bpm, 0, 'f', 1)
                       .arg(heard->state == Heard::State::unsure ? "not sure yet" : "sure")
                       .arg(heard->struck ? ", on the strikes" : "");
        }
        if (!line.isEmpty() && line != lastHeard) {
            say(line);
        }
        lastHeard = line;
    });
#endif
    QObject::connect(&rig, &Rig::failed, &app, [](int number, const QString& what) {
        say(QStringLiteral("a strike failed (%1): %2").arg(number).arg(what));
    });
#if TEMPOCALC_HAVE_JACK
    if (JackControl* jack = rig.jack()) {
        QObject::connect(jack, &JackControl::stateChanged, &app, [jack](JackControl::State s) {
            if (s == JackControl::State::open) {
                say(QStringLiteral("JACK: server found, client %1 open").arg(jack->clientName()));
            } else if (s == JackControl::State::waiting) {
                say(QStringLiteral("JACK: waiting for a server (%1)").arg(jack->error()));
            }
        });
        QObject::connect(jack, &JackControl::serverGone, &app, [](const QString& why) {
            say(QStringLiteral("JACK: server gone (%1)").arg(why));
        });
        QObject::connect(
            jack, &JackControl::connectionChanged, &app,
            [](const QString& ours, const QString& theirs, bool connected) {
                say(QStringLiteral("JACK: %1 %2 %3")
                        .arg(ours, connected ? "connected to" : "no longer connected to", theirs));
            });
    }
#endif
    if (Taps* taps = rig.taps()) {
        std::optional<bool> heard;
        QObject::connect(taps, &Taps::portsChanged, &app, [taps, heard]() mutable {
            if (!taps->chosen() || heard == taps->heard()) {
                return;
            }
            heard = taps->heard();
            say(*heard ? QStringLiteral("pedal: listening to %1").arg(taps->chosen()->name)
                       : QStringLiteral("pedal: %1 is not there; waiting for it")
                             .arg(taps->chosen()->name));
        });
    }
#if TEMPOCALC_HAVE_LINK
    if (LinkControl* link = rig.link()) {
        QObject::connect(link, &LinkControl::changed, &app, [link, peers = -1]() mutable {
            if (link->isJoined() && link->peers() != peers) {
                peers = link->peers();
                say(QStringLiteral("Link: %1 peer%2").arg(peers).arg(peers == 1 ? "" : "s"));
            }
        });
    }
#endif

    // Signals reach the event loop through a socket, as nothing else may run in a handler.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSocket) != 0) {
        say(QStringLiteral("cannot watch for signals"));
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(number, &action, nullptr);
    }
    QSocketNotifier signalled(signalSocket[0], QSocketNotifier::Read);
    QObject::connect(&signalled, &QSocketNotifier::activated, &app, [&] {
        char number = 0;
        if (::read(signalSocket[0], &number, 1) != 1) {
            return;
        }
        if (number == SIGHUP) {
            Settings again = Settings::load();
            for (const SettingsProblem& problem : std::as_const(again.problems)) {
                std::fprintf(stderr, "%s\n", qUtf8Printable(problem.line()));
            }
            const Settings fresh = run->over(again);
            rig.apply(fresh);
            rig.setNote(fresh.note);
            say(QStringLiteral("settings read again: %1").arg(describe(fresh, *run)));
            return;
        }
        say(QStringLiteral("ending"));
        signalled.setEnabled(false);
        // A Stop to whatever counts the clock, then out of JACK and Link.
#if TEMPOCALC_HAVE_LINK
        if (LinkControl* link = rig.link()) {
            link->setOn(false);
        }
#endif
#if TEMPOCALC_HAVE_JACK
        if (JackControl* jack = rig.jack()) {
            if (jack->state() != JackControl::State::off) {
                QObject::connect(jack, &JackControl::stateChanged, &app, [](JackControl::State s) {
                    if (s == JackControl::State::off) {
                        QCoreApplication::exit(0);
                    }
                });
                jack->closeNow();
                // A server that hangs is not waited for: out within a second.
                QTimer::singleShot(500, &app, [] { QCoreApplication::exit(0); });
                return;
            }
        }
#endif
        QCoreApplication::exit(0);
    });

    say(QStringLiteral("started: %1").arg(describe(choices, *run)));
    rig.setConnections(run->connections);
    if (run->bpm) {
        rig.startAt(*run->bpm);
    }
    const int status = QCoreApplication::exec();
    ::close(signalSocket[0]);
    ::close(signalSocket[1]);
    return status;
}

} // namespace tempocalc
