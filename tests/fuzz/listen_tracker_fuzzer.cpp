// The listening tracker fed random hops and strikes: plausible ones (a hop's time a little
// later, a strength of music) among any doubles at all, resets between. Each step is
// checked: what it hears is finite, its confidence between 0 and 1, its tempo 0 while
// searching, and the beats it places are finite, with a tempo, and later than the last.

#include "fuzz_input.h"
#include "listen_tracker.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

using namespace tempocalc;
using tempocalc::fuzz::Input;

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "listen_tracker_fuzzer: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    constexpr double hop = 512.0 / 48000.0;
    ListenTracker tracker(input.byte() < 16 ? input.number() : hop);
    double time = 0;
    double last = -std::numeric_limits<double>::infinity();
    while (!input.empty()) {
        const std::uint8_t op = input.byte();
        switch (op % 8) {
        case 0: // any doubles at all
            tracker.hop(input.number(), input.number(), input.number());
            break;
        case 1: // a run of plausible hops, a beat now and then
        case 2:
        case 3: {
            const int count = input.byte();
            const int every = 20 + input.byte() % 80;
            for (int i = 0; i < count * 4; ++i) {
                time += hop;
                const double strength = (i % every == 0 ? 5.0 : 0.2) + (op >> 4) / 16.0;
                tracker.hop(time, strength, strength / 2);
            }
            break;
        }
        case 4: // a plausible strike
            tracker.strike(time - input.byte() / 256.0, (1 + input.byte() % 4) / 2.0);
            break;
        case 5: // any strike at all
            tracker.strike(input.number(), input.number());
            break;
        case 6:
            tracker.reset();
            last = -std::numeric_limits<double>::infinity();
            break;
        default: // the clock goes back, or jumps ahead
            time += (input.byte() - 128.0) / 16.0;
            break;
        }
        const Heard h = tracker.heard();
        check(std::isfinite(h.bpm) && std::isfinite(h.beat) && std::isfinite(h.confidence),
              "heard something not finite");
        check(h.confidence >= 0 && h.confidence <= 1, "confidence out of 0 to 1");
        check(h.state != Heard::State::searching || h.bpm == 0, "a tempo while searching");
        for (const auto& b : tracker.takeBeats()) {
            check(std::isfinite(b.time) && std::isfinite(b.bpm) && b.bpm > 0, "a beat not finite");
            check(b.time > last, "a beat not later than the last");
            last = b.time;
        }
    }
    return 0;
}
