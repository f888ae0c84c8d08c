// Listening through the program's JACK client, against a JACK server with the dummy
// driver: a client of the test's own plays a generated piece into "listen", and a
// listener counts the MIDI clock's ticks from Start. Once the program has locked, the
// beats the clock counts fall on the beats of the piece.

#include "day_clock.h"
#include "jack_client.h"
#include "jack_control.h"
#include "jack_peers.h"
#include "listen_corpus.h"
#include "rig.h"

#include <jack/jack.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

namespace tempocalc {
namespace {

// Plays the samples into "listen" from the cycle after it is told to, once, and notes
// which sample each cycle began with: a cycle the server skipped moves the music against
// the frames.
struct Player : Peer {
    struct Cycle {
        double usecs; // when its first frame was, on JACK's clock
        double usPerFrame;
        std::size_t sample;
    };
    std::vector<float> samples;
    std::vector<Cycle> cycles; // as many as the music takes, made ready before playing
    std::atomic<std::size_t> cycleCount{0};
    std::atomic<bool> playing{false};
    std::atomic<std::size_t> played{0};
    jack_port_t* out;

    explicit Player(std::vector<float> music)
        : Peer("player"), samples(std::move(music)), cycles(samples.size() / 16 + 1) {
        out = jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client, &Player::process, this);
        jack_activate(client);
    }
    static int process(jack_nframes_t n, void* self) {
        auto* p = static_cast<Player*>(self);
        p->watch(n);
        auto* audio = static_cast<float*>(jack_port_get_buffer(p->out, n));
        std::fill(audio, audio + n, 0.0f);
        if (!p->playing) {
            return 0;
        }
        const std::size_t at = p->played;
        if (at < p->samples.size() && p->cycleCount < p->cycles.size()) {
            jack_nframes_t frame;
            jack_time_t now, next;
            float periodUs;
            jack_get_cycle_times(p->client, &frame, &now, &next, &periodUs);
            p->cycles[p->cycleCount] = {static_cast<double>(now),
                                        static_cast<double>(next - now) / n, at};
            ++p->cycleCount;
        }
        const std::size_t count = std::min<std::size_t>(n, p->samples.size() - at);
        std::copy_n(p->samples.begin() + static_cast<std::ptrdiff_t>(at), count, audio);
        p->played = at + count;
        return 0;
    }
    bool done() const { return played == samples.size(); }
    // Where in the music a time on JACK's clock falls, in seconds. The dummy driver's
    // frames run slower or faster than its clock as the machine is busy or not, and the
    // program (like JACK) goes by the clock: so does this.
    double secondsAt(double usecs) const {
        const Cycle* within = &cycles[0];
        for (std::size_t i = 0; i < cycleCount; ++i) {
            if (cycles[i].usecs <= usecs) {
                within = &cycles[i];
            }
        }
        return (static_cast<double>(within->sample) +
                (usecs - within->usecs) / within->usPerFrame) /
               rate;
    }
};

bool waitFor(const std::function<bool()>& done, int ms) {
    return QTest::qWaitFor(done, ms);
}

TEST(ListenOnJack, TheClockCountsItsBeatsOnTheBeatsOfTheMusicOnceLocked) {
    corpus::PieceOptions options;
    options.seed = 11;
    options.seconds = 26;
    options.bpm = 112;
    options.sampleRate = rate;
    // A tight player: this is about the time base from the port to the clock, which the
    // benchmark leaves out; how well the beat is heard through a looser one is its part.
    options.timing = 0.004;
    const corpus::Piece piece = corpus::generate(options);

    const QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());

    // Each counted beat is on a beat of the piece, not between two; together they are on
    // it within 10 ms. A busy machine now and then stalls the dummy driver: the clock's
    // ticks are then caught up over the next bar, and JACK's own measure of its clock
    // settles over a second or two, so the beats counted up to 2 s after a stall are
    // not judged. A run that stalled too often to judge ten beats is played again.
    const double lockedAfter = 10; // seconds of the piece
    const double settleUs = 2e6;
    std::vector<double> offsets;
    std::size_t heardTicks = 0;
    for (int attempt = 0; attempt < 3 && offsets.size() < 10; ++attempt) {
        offsets.clear();
        Rig rig(DayClock(), Settings{});
        rig.setClock(true);
        rig.setListen(true);
        JackClient* client = rig.jack()->client();
        ASSERT_TRUE(waitFor([&] { return client->isOpen(); }, 5000))
            << client->error().toStdString();

        Player player(piece.samples);
        ASSERT_TRUE(waitFor(
            [&] { return jack_port_by_name(player.client, "tempo-calculator:listen"); }, 2000));
        player.connect("player:out", "tempo-calculator:listen");
        Listener listener;
        player.playing = true;
        ASSERT_TRUE(waitFor([&] { return player.done(); }, 40000));

        // The ticks counted from the last Start; every 24th is a beat.
        const std::vector<Listener::Heard> events = listener.events();
        const auto start = std::find_if(events.rbegin(), events.rend(),
                                        [](const Listener::Heard& h) { return h.byte == 0xfa; });
        ASSERT_NE(start, events.rend()) << "the clock never started";
        std::vector<Listener::Heard> ticks;
        for (auto h = start.base(); h != events.end(); ++h) {
            if (h->byte == 0xf8) {
                ticks.push_back(*h);
            }
        }
        heardTicks = ticks.size();
        // Up to where a tick may have been lost to the listener, which moves its count.
        const std::vector<std::size_t> unsure = Listener::countUnsure(ticks);
        const std::size_t sure = unsure.empty() ? ticks.size() : unsure.front();
        std::size_t stalled = 0; // the first tick since the latest stall
        for (std::size_t i = 0; i < sure; ++i) {
            if (i > 0 && ticks[i].jumps != ticks[i - 1].jumps) {
                stalled = i;
            }
            const double inPiece = player.secondsAt(ticks[i].usecs);
            if (i % 24 != 0 || inPiece < lockedAfter || inPiece > piece.seconds() - 1 ||
                !listener.steady(ticks, i) || ticks[i].usecs - ticks[stalled].usecs < settleUs) {
                continue;
            }
            const auto nearest =
                std::min_element(piece.beats.begin(), piece.beats.end(), [&](double a, double b) {
                    return std::fabs(a - inPiece) < std::fabs(b - inPiece);
                });
            offsets.push_back(inPiece - *nearest);
        }
    }
    const std::size_t checked = offsets.size();
    for (const double off : offsets) {
        EXPECT_NEAR(off, 0.0, 0.030) << "a beat counted";
    }
    if (checked > 0) {
        std::nth_element(offsets.begin(), offsets.begin() + checked / 2, offsets.end());
        EXPECT_NEAR(offsets[checked / 2], 0.0, 0.010) << "the median beat counted";
    }
    EXPECT_GE(checked, 10u) << heardTicks << " ticks from the last Start, three times over";
}

} // namespace
} // namespace tempocalc

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
