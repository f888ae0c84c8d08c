#pragma once

#include <cstdint>

namespace tempocalc {

// The arithmetic of the JACK client's cycles, with no JACK in it: JACK's measure of a
// cycle, and the frames at which the MIDI clock's ticks and the click's beats fall.
// Times are microseconds on JACK's clock, frames JACK's 32-bit frame counter.

// JACK's measure of one cycle (jack_get_cycle_times), read once at its start: its first
// frame, that frame's time, and the time a frame lasts. Every conversion in the cycle
// goes through this one reading, so that a time and a frame agree within the cycle even
// when the server moves on during a late callback.
struct Cycle {
    std::uint32_t start = 0;
    double startUs = 0;
    double usPerFrame = 0;   // none: no measure yet
    std::uint32_t given = 0; // the first frame that JACK said

    // The cycle of `frames` frames from what JACK said of it (ok: whether it said
    // anything), the cycle before and the rate's nominal time a frame. Right after a
    // stall JACK's measure is now and then nonsense for a cycle (the next cycle's time
    // before this one's): the last good measure is carried on through it. A callback
    // that runs late is now and then given the measure of the cycle before (the same
    // first frame again): this cycle is the one after that.
    static Cycle measure(bool ok, std::uint32_t start, std::uint64_t startUs, std::uint64_t nextUs,
                         std::uint32_t frames, const Cycle& last, double nominalUsPerFrame);

    bool known() const { return usPerFrame > 0; }
    // The frame of a time, counted from the cycle's first (rounded, as JACK rounds).
    std::int64_t offsetOf(double us) const;
    double timeOf(std::int64_t offset) const {
        return startUs + static_cast<double>(offset) * usPerFrame;
    }
};

// Quarter-note beats every lengthUs in bars of `bar` beats, the first of a bar (the one)
// at beatUs; serial tells a new grid from the same one measured again, and marks a one
// set anew from bars that go on.
struct JackGrid {
    double beatUs = 0;
    double lengthUs = 0;
    std::uint64_t serial = 0;
    int bar = 1;
    unsigned marks = 0;
};

// MIDI clock: 24 ticks a beat from Start, as a receiver counts them. A drum machine takes
// every 24th tick since Start for its beat and plays its pattern from the top at Start,
// so the train keeps that count in step with the grid's beats and bars through
// everything that moves the grid or JACK's clock:
// - Started, Song Position Pointer 0 and Start go out before its first tick, on the
//   grid's next one: the receiver's first beat is the bar's first.
// - On a new grid, the ticks up to the receiver's next bar (or the one after, when the
//   next is too close to reach) are spread evenly from the last tick sent to the new
//   grid's one that keeps them nearest the new tick length, never closer than half of
//   it nor further apart than twice it; from that one on every tick is the grid's own.
// - A one set anew (marked, or bars of another length) does not move the beats: the ticks
//   follow the grid's beats, and at its next one the receiver is started again (Stop,
//   Song Position Pointer 0, Start), so that its bar begins there.
// - After a stall of JACK's clock, ticks less than half a tick late go out at once; later
//   ones are caught up the same way from now, never in a burst: a receiver counting from
//   Start has whole bars dropped, never a part of one.
class TickTrain {
public:
    static constexpr int ticks_per_beat = 24;

    // What goes out with a tick: before the first after Start, Song Position Pointer 0
    // and Start; before the first of a bar begun anew, Stop, Song Position Pointer 0 and
    // Start.
    enum class With { tick, start, restart };

    // Calls send(offset, with) for every tick due in the cycle of `frames` frames, each
    // moved earlier by the port's latency.
    template <class Send> void run(const JackGrid& grid, const Cycle& cycle, std::uint32_t latency,
                                   std::uint32_t frames, Send&& send) {
        const double nowUs = cycle.timeOf(latency);
        begin(grid, nowUs);
        // No two ticks share a frame at any tempo a grid may have.
        for (std::uint32_t sent = 0; sent < frames; ++sent) {
            double due = this->due(grid);
            if (nowUs - due > grid.lengthUs / ticks_per_beat / 2) {
                plan(grid, lastUs_, nowUs); // JACK's clock jumped on: late
                due = this->due(grid);
            }
            const std::int64_t offset = cycle.offsetOf(due) - latency;
            if (offset >= frames) {
                return;
            }
            With with = count_ == 0 ? With::start : With::tick;
            if (restart_ && number() % (ticks_per_beat * grid.bar) == 0) {
                with = With::restart;
                restart_ = false;
                count_ = 0;
            }
            send(static_cast<std::uint32_t>(offset < 0 ? 0 : offset), with);
            advance(due);
        }
    }
    // The clock stops: the next run starts afresh, with Start.
    void stop() { running_ = false; }
    // A receiver joined that has had no Start: all are started again at the next one.
    void startAgain() {
        if (running_ && count_ > 0) {
            restart_ = true;
        }
    }
    bool running() const { return running_; }
    std::int64_t count() const { return count_; } // ticks since Start

private:
    void begin(const JackGrid& grid, double nowUs);
    double due(const JackGrid& grid) const;
    std::int64_t number() const; // the next tick's number on the grid (0: a one)
    void advance(double due);
    // Spreads the ticks up to a receiver's beat (its next, or the one after where the
    // next is out of reach) evenly from the last tick sent, at fromUs, or from
    // earliestUs where the first would come before then, to the grid's beat that keeps
    // them nearest its tick length, and never closer than half of it or further apart
    // than twice it.
    void plan(const JackGrid& grid, double fromUs, double earliestUs);

    bool running_ = false;
    std::int64_t count_ = 0; // ticks sent since Start
    std::uint64_t serial_ = 0;
    unsigned marks_ = 0;
    bool restart_ = false;  // at the grid's next one
    double lastUs_ = 0;     // when the last tick sent was due
    std::int64_t next_ = 0; // the next tick's number on the grid (0: a beat)
    struct Ramp {
        double fromUs = 0, stepUs = 0;
        std::int64_t ticks = 0, done = 0; // its last tick is the grid's tick next_
    } ramp_;
};

// The click: a pulse on every beat of the grid, moved earlier by the port's latency. A
// beat more than lateUs late (JACK's clock jumped) is no click on the beat and is left
// out; on a new grid the clicks go on from its first beat at least half a beat after the
// last click, so that none comes twice or crowds the one before.
class BeatTrain {
public:
    // Calls pulse(offset, one) for every beat due in the cycle, one telling the first of
    // a bar.
    template <class Pulse> void run(const JackGrid& grid, const Cycle& cycle, std::uint32_t latency,
                                    std::uint32_t frames, double lateUs, Pulse&& pulse) {
        const double nowUs = cycle.timeOf(latency);
        begin(grid, nowUs);
        for (std::uint32_t sent = 0; sent < frames; ++sent) {
            const double due = grid.beatUs + static_cast<double>(next_) * grid.lengthUs;
            if (nowUs - due > lateUs) {
                skipTo(grid, nowUs - lateUs);
                continue;
            }
            const std::int64_t offset = cycle.offsetOf(due) - latency;
            if (offset >= frames) {
                return;
            }
            pulse(static_cast<std::uint32_t>(offset < 0 ? 0 : offset),
                  (next_ % grid.bar + grid.bar) % grid.bar == 0);
            lastUs_ = due;
            ++next_;
        }
    }
    void stop() { running_ = false; }

private:
    void begin(const JackGrid& grid, double nowUs);
    void skipTo(const JackGrid& grid, double us); // the first beat at or after us

    bool running_ = false;
    std::uint64_t serial_ = 0;
    double lastUs_ = -1e300;
    std::int64_t next_ = 0;
};

} // namespace tempocalc
