#pragma once

// JACK clients of the tests' own, for the program's JACK client and the stage box: a
// listener on "clock" and "click" that notes the frame of every event and every click's
// onset, and a pedal that plays into "tap" at planned frames.

#include <jack/jack.h>
#include <jack/midiport.h>

#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

namespace tempocalc {

using Clock = std::chrono::steady_clock;

constexpr double rate = 48000;
constexpr double usPerFrame = 1e6 / rate;

// A JACK client of the test's own; its process callback writes only what was made ready.
// The dummy driver keeps time with the system's timers, and a busy machine now and then
// stalls it: JACK's clock then jumps against its frames. Each peer counts the jumps, and
// the cycles in which JACK changed its measure of a period by a fifth of a frame or more
// (as it settles after starting, or after a stall), which move a time's frame.
struct Peer {
    explicit Peer(const char* name) : client(jack_client_open(name, JackNoStartServer, nullptr)) {}
    ~Peer() {
        if (client) {
            jack_client_close(client);
        }
    }
    void connect(const char* from, const char* to) const {
        EXPECT_EQ(jack_connect(client, from, to), 0);
    }
    void watch(jack_nframes_t n) {
        jack_nframes_t frame;
        jack_time_t now, next;
        float periodUs;
        jack_get_cycle_times(client, &frame, &now, &next, &periodUs);
        if (lastFrame != 0 &&
            (frame - lastFrame != n || std::fabs(now - lastUs - periodUs) > 100)) {
            ++jumps; // a stall, or cycles that JACK did not run this client in
        }
        if (lastFrame != 0 && frame - lastFrame > n) {
            ++missed; // what came in those cycles never reached this client
        }

        if (lastFrame != 0 && std::fabs(static_cast<double>(next - now) - lastSpan) > 4) {
            ++wobbles;
        }
        lastFrame = frame;
        lastUs = static_cast<double>(now);
        lastSpan = static_cast<double>(next - now);
    }
    jack_client_t* client;
    std::atomic<int> jumps{0}, wobbles{0}, missed{0};
    jack_nframes_t lastFrame = 0;
    double lastUs = 0, lastSpan = 0;
};

// Notes the absolute frame, and its time on JACK's clock, of every MIDI event and of
// every click's onset (a sample that is not silent after at least 2 ms of silence).
struct Listener : Peer {
    struct Heard {
        jack_nframes_t frame;
        double usecs;               // when it leaves the listener's inputs, on JACK's clock
        double framesPerUs;         // the server's rate, as JACK measures it against its clock
        int jumps, wobbles, missed; // so far
        unsigned char byte; // a MIDI event's first; a click's pitch: 0 low, 1 high, 2 unheard
    };
    static constexpr std::size_t capacity = 20000;
    std::array<Heard, capacity> midi{}, clicks{};
    std::atomic<std::size_t> midiCount{0}, clickCount{0};
    std::atomic<float> peak{0};
    std::atomic<jack_nframes_t> latency{0}; // what the listener says its inputs take to play
    jack_port_t* midiIn;
    jack_port_t* audioIn;
    jack_nframes_t silence = 0;

    // Connected to the program's client, unless told that the program connects itself.
    explicit Listener(bool connectToProgram = true) : Peer("listener") {
        midiIn = jack_port_register(client, "midi", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        audioIn = jack_port_register(client, "audio", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client, &Listener::process, this);
        jack_set_latency_callback(client, &Listener::setLatency, this);
        jack_activate(client);
        if (connectToProgram) {
            connect("tempo-calculator:clock", "listener:midi");
            connect("tempo-calculator:click", "listener:audio");
        }
    }
    static void setLatency(jack_latency_callback_mode_t mode, void* self) {
        auto* l = static_cast<Listener*>(self);
        jack_latency_range_t range{l->latency, l->latency};
        if (mode == JackPlaybackLatency) {
            jack_port_set_latency_range(l->midiIn, mode, &range);
            jack_port_set_latency_range(l->audioIn, mode, &range);
        }
    }
    static int process(jack_nframes_t n, void* self) {
        auto* l = static_cast<Listener*>(self);
        l->watch(n);
        const jack_nframes_t start = jack_last_frame_time(l->client);
        jack_nframes_t frame;
        jack_time_t now, next;
        float periodUs;
        jack_get_cycle_times(l->client, &frame, &now, &next, &periodUs);
        const auto heard = [&](jack_nframes_t frame, unsigned char byte) {
            return Heard{frame,
                         static_cast<double>(jack_frames_to_time(l->client, frame + l->latency)),
                         n / static_cast<double>(next - now),
                         l->jumps,
                         l->wobbles,
                         l->missed,
                         byte};
        };
        void* buffer = jack_port_get_buffer(l->midiIn, n);
        for (std::uint32_t i = 0; i < jack_midi_get_event_count(buffer); ++i) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, buffer, i) == 0 && l->midiCount < capacity) {
                l->midi[l->midiCount] = heard(start + e.time, e.buffer[0]);
                ++l->midiCount; // after the event, which is then the reader's to copy
            }
        }
        const auto* audio = static_cast<const float*>(jack_port_get_buffer(l->audioIn, n));
        for (jack_nframes_t i = 0; i < n; ++i) {
            if (audio[i] == 0.0f) {
                ++l->silence;
                continue;
            }
            l->peak = std::max<float>(l->peak, std::fabs(audio[i]));
            if (l->silence >= rate / 500 && l->clickCount < capacity) {
                // A sixth of a 2 kHz tone's period on, a quarter of a 3 kHz one's: the
                // high click is near nought there, the low at half its peak.
                const unsigned char pitch = i + 4 < n ? std::fabs(audio[i + 4]) < 0.1f : 2;
                l->clicks[l->clickCount] = heard(start + i, pitch);
                ++l->clickCount;
            }
            l->silence = 0;
        }
        return 0;
    }
    std::vector<Heard> events() const { return {midi.begin(), midi.begin() + midiCount}; }
    std::vector<Heard> ticks() const {
        std::vector<Heard> t;
        for (const Heard& h : events()) {
            if (h.byte == 0xf8) {
                t.push_back(h);
            }
        }
        return t;
    }
    std::vector<Heard> onsets() const { return {clicks.begin(), clicks.begin() + clickCount}; }
    // Whether JACK's clock kept time around the i-th of what was heard: no jump between
    // the one before and the one after (or now), which it may be noticed a cycle late.
    bool steady(const std::vector<Heard>& heard, std::size_t i) const {
        const int after = i + 1 < heard.size() ? heard[i + 1].jumps : jumps.load();
        return heard[i].jumps == after && (i == 0 || heard[i - 1].jumps == heard[i].jumps);
    }
    // The ticks from which the listener's count of them is no longer sure: each the first
    // after cycles that JACK left the listener out of, where the gap before it could have
    // held a tick (over one and a half times the ticks' spacing around it). A tick sent in
    // such a cycle never reached the listener; one that the program caught up late after
    // a stall of the server's did, and from here the two look the same.
    static std::vector<std::size_t> countUnsure(const std::vector<Heard>& ticks) {
        std::vector<std::size_t> unsure;
        for (std::size_t i = 1; i < ticks.size(); ++i) {
            if (ticks[i].missed == ticks[i - 1].missed) {
                continue;
            }
            double spacings = 0;
            int n = 0;
            if (i >= 2) {
                spacings += ticks[i - 1].usecs - ticks[i - 2].usecs;
                ++n;
            }
            if (i + 1 < ticks.size()) {
                spacings += ticks[i + 1].usecs - ticks[i].usecs;
                ++n;
            }
            if (n == 0 || ticks[i].usecs - ticks[i - 1].usecs > 1.5 * spacings / n) {
                unsure.push_back(i);
            }
        }
        return unsure;
    }
    void setLatency(jack_nframes_t frames) {
        latency = frames;
        jack_recompute_total_latencies(client);
    }
};

// A MIDI message, and how many seconds after the one before it goes.
struct Step {
    std::array<unsigned char, 3> message;
    double after;
};

// Plays MIDI messages into "tap" at planned absolute frames, or floods it.
struct Pedal : Peer {
    struct Planned {
        jack_nframes_t frame;
        std::array<unsigned char, 3> bytes;
    };
    std::vector<Planned> plan;  // only while not playing
    std::vector<double> sentUs; // each planned message's time on JACK's clock, as sent
    std::atomic<std::size_t> next{0};
    std::atomic<bool> playing{false}, flooding{false}, idle{true};
    jack_port_t* out;

    explicit Pedal(const char* name = "pedal") : Peer(name) {
        out = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client, &Pedal::process, this);
        jack_activate(client);
    }
    static int process(jack_nframes_t n, void* self) {
        auto* p = static_cast<Pedal*>(self);
        p->watch(n);
        void* buffer = jack_port_get_buffer(p->out, n);
        jack_midi_clear_buffer(buffer);
        const jack_nframes_t start = jack_last_frame_time(p->client);
        const unsigned char note[] = {0x90, 60, 100};
        while (p->flooding && jack_midi_event_write(buffer, n - 1, note, 3) == 0) {
        }
        if (!p->playing) {
            p->idle = true; // done with the plan
            return 0;
        }
        for (std::size_t i = p->next; i < p->plan.size(); i = ++p->next) {
            const auto offset = static_cast<std::int32_t>(p->plan[i].frame - start);
            if (offset >= static_cast<std::int32_t>(n)) {
                break;
            }
            // A cycle that JACK did not run the pedal in puts a note off: when it went.
            const jack_nframes_t at = start + static_cast<jack_nframes_t>(std::max(offset, 0));
            jack_midi_event_write(buffer, at - start, p->plan[i].bytes.data(), 3);
            p->sentUs[i] = static_cast<double>(jack_frames_to_time(p->client, at));
        }
        return 0;
    }
    // Each message `after` seconds after the one before, from a quarter of a second on.
    template <class Steps> void play(const Steps& steps) {
        playing = false;
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return idle.load(); })); // the callback let go of the plan
        plan.clear();
        double at = jack_frame_time(client) + rate / 4;
        for (const auto& step : steps) {
            at += step.after * rate;
            plan.push_back({static_cast<jack_nframes_t>(std::lround(at)), step.message});
        }
        sentUs.assign(plan.size(), 0);
        next = 0;
        idle = false;
        playing = true;
    }
    bool done() const { return next == plan.size(); }
};

// A steady time point on JACK's clock, in microseconds, by the test's own reading.
inline double jackMicros(Clock::time_point t) {
    std::int64_t best = INT64_MAX;
    double offset = 0;
    for (int i = 0; i < 16; ++i) {
        const auto a = Clock::now();
        const double jack = jack_get_time();
        const auto b = Clock::now();
        if ((b - a).count() < best) {
            best = (b - a).count();
            offset = jack + 0.5 -
                     std::chrono::duration<double, std::micro>((a + (b - a) / 2).time_since_epoch())
                         .count();
        }
    }
    return std::chrono::duration<double, std::micro>(t.time_since_epoch()).count() + offset;
}

} // namespace tempocalc
