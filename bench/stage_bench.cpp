// The stage box beside the window, on the same machine in one run: resident memory,
// the time from start to the JACK client's ports, CPU over a minute of idling (the MIDI
// clock on, no strikes, no beat) outside JACK's real-time callback, and, for the box,
// the time from a JACK server's restart to its connection made again and its first tick.
// Run against a JACK server of its own (bench/run starts one), with a display for the
// window. Prints a Markdown table and exits non-zero when the box misses a target:
// memory at most 0.7 times the window's, no CPU while idle, back within 2 s.

#include <jack/jack.h>
#include <jack/midiport.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Per thread, from /proc: CPU time in clock ticks, voluntary wake-ups, and whether the
// thread runs at real-time priority (JACK's process callback does).
struct ThreadUse {
    long ticks = 0;
    long wakeups = 0;
    bool realtime = false;
};

QMap<QString, ThreadUse> threadUse(qint64 pid) {
    QMap<QString, ThreadUse> use;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        QFile status(tasks.filePath(tid + QStringLiteral("/status")));
        if (!stat.open(QIODevice::ReadOnly) || !status.open(QIODevice::ReadOnly)) {
            continue;
        }
        // The fields after the command's closing bracket: utime is the 14th field of
        // the line, stime the 15th, policy the 41st.
        const QString line = QString::fromLatin1(stat.readAll());
        const QStringList fields =
            line.mid(line.lastIndexOf(QLatin1Char(')')) + 2).split(QLatin1Char(' '));
        ThreadUse u;
        u.ticks = fields.value(11).toLong() + fields.value(12).toLong();
        u.realtime = fields.value(38).toInt() != 0;
        const QRegularExpression voluntary(QStringLiteral("voluntary_ctxt_switches:\\s+(\\d+)"));
        u.wakeups = voluntary.match(QString::fromLatin1(status.readAll())).captured(1).toLong();
        use[tid] = u;
    }
    return use;
}

// Resident memory but the JACK server's shared memory, which every client maps (its
// graph and port buffers) and which belongs to the server: the program's own pages and
// those of the libraries it loaded.
long residentKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QString text = QString::fromLatin1(status.readAll());
    const auto field = [&](const char* name) {
        return QRegularExpression(QStringLiteral("%1:\\s+(\\d+)").arg(QLatin1String(name)))
            .match(text)
            .captured(1)
            .toLong();
    };
    return field("VmRSS") - field("RssShmem");
}

// A JACK client of the bench's own: sees the program's ports, and hears its clock.
struct Ear {
    jack_client_t* client = nullptr;
    jack_port_t* in = nullptr;
    std::atomic<jack_time_t> firstTick{0};

    bool open() {
        client = jack_client_open("stage-bench", JackNoStartServer, nullptr);
        if (!client) {
            return false;
        }
        in = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client, &Ear::process, this);
        return jack_activate(client) == 0;
    }
    void close() {
        if (client) {
            jack_client_close(client);
            client = nullptr;
        }
    }
    static int process(jack_nframes_t frames, void* self) {
        auto* ear = static_cast<Ear*>(self);
        void* buffer = jack_port_get_buffer(ear->in, frames);
        for (std::uint32_t i = 0; i < jack_midi_get_event_count(buffer); ++i) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, buffer, i) == 0 && e.buffer[0] == 0xf8 &&
                ear->firstTick == 0) {
                ear->firstTick =
                    jack_frames_to_time(ear->client, jack_last_frame_time(ear->client) + e.time);
            }
        }
        return 0;
    }
    bool portsThere() const { return jack_port_by_name(client, "tempo-calculator:clock"); }
};

struct Row {
    QString face;
    long kib = 0;
    double portsMs = 0;
    double idleCpuPercent = 0;
    long idleWakeups = 0;
    std::optional<double> backMs, tickMs;
};

int server(const char* action) {
    return std::system(QByteArray(TEMPOCALC_JACK_SERVER " ")
                           .append(action)
                           .append(" tempo-stage-bench /tmp/tempo-stage-bench.pid")
                           .constData());
}

// Starts the program, waits for its ports, and idles it for idleSeconds.
std::optional<Row> measure(const QString& face, const QStringList& arguments, bool window,
                           int idleSeconds, Ear& ear) {
    QTemporaryDir config;
    QDir().mkpath(config.filePath(QStringLiteral("tempo-calculator")));
    QFile settings(config.filePath(QStringLiteral("tempo-calculator/tempo-calculator.conf")));
    if (!settings.open(QIODevice::WriteOnly) || settings.write("[beat]\nmidi_clock=true\n") < 0) {
        return std::nullopt;
    }
    settings.close();
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    if (!window) {
        env.remove(QStringLiteral("DISPLAY"));
    }
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto started = Clock::now();
    program.start(QStringLiteral(TEMPOCALC_PROGRAM), arguments);
    if (!program.waitForStarted()) {
        return std::nullopt;
    }
    while (!ear.portsThere() && Clock::now() - started < std::chrono::seconds(20)) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    Row row;
    row.face = face;
    row.portsMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    QTest::qWait(3000); // settled
    row.kib = residentKiB(program.processId());
    const auto before = threadUse(program.processId());
    QTest::qWait(idleSeconds * 1000);
    const auto after = threadUse(program.processId());
    long ticks = 0;
    for (auto t = after.begin(); t != after.end(); ++t) {
        if (t->realtime) {
            continue; // JACK's process callback
        }
        const ThreadUse then = before.value(t.key());
        ticks += t->ticks - then.ticks;
        row.idleWakeups += t->wakeups - then.wakeups;
    }
    row.idleCpuPercent = 100.0 * static_cast<double>(ticks) /
                         static_cast<double>(sysconf(_SC_CLK_TCK)) / idleSeconds;
    program.terminate();
    program.waitForFinished(3000);
    // Its client gone before the next is timed, which would otherwise find these ports.
    (void)QTest::qWaitFor([&] { return !ear.portsThere(); }, 5000);
    return row;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    int idle = 60;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--idle" && i + 1 < argc) {
            idle = std::atoi(argv[++i]);
        }
    }
    qputenv("JACK_DEFAULT_SERVER", "tempo-stage-bench");
    qputenv("JACK_NO_START_SERVER", "1");
    server("stop");
    if (server("start") != 0) {
        std::fputs("stage_bench: no JACK server\n", stderr);
        return EXIT_FAILURE;
    }
    Ear ear;
    if (!ear.open()) {
        std::fputs("stage_bench: cannot open its own JACK client\n", stderr);
        return EXIT_FAILURE;
    }
    const std::optional<Row> window = measure(QStringLiteral("window"), {}, true, idle, ear);
    std::optional<Row> box =
        measure(QStringLiteral("stage box"), {QStringLiteral("--headless")}, false, idle, ear);
    if (!window || !box) {
        std::fputs("stage_bench: the program did not start\n", stderr);
        return EXIT_FAILURE;
    }

    // The box with a beat, its clock connected to the bench's ear: the server restarted
    // three times: the time from its being back to the connection made again (the
    // median), and to the first tick, which waits for the next bar line.
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(TEMPOCALC_PROGRAM),
                  {"--headless", "--clock", "--bpm", "120", "--connect", "clock=stage-bench:in"});
    program.waitForStarted();
    QTest::qWait(1500);
    std::vector<double> back, ticks; // to the connection made again, to the first tick
    for (int round = 0; round < 3; ++round) {
        ear.close();
        server("stop");
        server("start");
        const jack_time_t up = jack_get_time();
        ear.firstTick = 0;
        if (!ear.open()) {
            break;
        }
        jack_time_t connected = 0;
        (void)QTest::qWaitFor(
            [&] {
                if (connected == 0 && jack_port_connected(ear.in) > 0) {
                    connected = jack_get_time();
                }
                return connected != 0 && ear.firstTick != 0;
            },
            8000);
        if (connected == 0 || ear.firstTick == 0) {
            std::fprintf(stderr, "stage_bench: round %d: %s\n", round + 1,
                         connected == 0 ? "the box did not connect again within 8 s"
                                        : "connected, but no tick within 8 s");
        } else {
            back.push_back(static_cast<double>(connected - up) / 1000.0);
            ticks.push_back(static_cast<double>(ear.firstTick - up) / 1000.0);
        }
    }
    program.terminate();
    program.waitForFinished(3000);
    ear.close();
    server("stop");
    std::sort(back.begin(), back.end());
    std::sort(ticks.begin(), ticks.end());
    if (back.size() == 3) {
        box->backMs = back[1];
        box->tickMs = ticks[1];
    }

    std::printf("| face | resident memory (but JACK's shared memory) | start to JACK ports | idle CPU (%d s, outside "
                "JACK's callback) | wake-ups while idle | server restart to the connection again, to the first tick |\n",
                idle);
    std::printf("|---|---|---|---|---|---|\n");
    for (const Row& row : {*window, *box}) {
        std::printf(
            "| %s | %.1f MiB | %.0f ms | %.2f %% | %ld | %s |\n", qPrintable(row.face),
            static_cast<double>(row.kib) / 1024, row.portsMs, row.idleCpuPercent, row.idleWakeups,
            row.backMs ? qPrintable(QStringLiteral("%1 ms, %2 ms (medians of 3)")
                                        .arg(*row.backMs, 0, 'f', 0)
                                        .arg(*row.tickMs, 0, 'f', 0))
                       : "—");
    }
    const double ratio = static_cast<double>(box->kib) / static_cast<double>(window->kib);
    const bool met =
        ratio <= 0.7 && box->idleCpuPercent == 0 && box->backMs && *box->backMs <= 2000;
    std::printf("\nTargets: the box's memory at most 0.7 of the window's (%.2f), no CPU while "
                "idle (%.2f %%), back within 2 s (%s): %s\n",
                ratio, box->idleCpuPercent,
                box->backMs ? qPrintable(QStringLiteral("%1 ms").arg(*box->backMs, 0, 'f', 0))
                            : "never",
                met ? "met" : "MISSED");
    return met ? EXIT_SUCCESS : EXIT_FAILURE;
}
