// How close each way of filling Ave comes to the true tempo: simulated players tap
// around a steady beat with the jitter that people have (one standard deviation a
// tap), with and without one missed beat, and the same clock readings go to the
// engine's mean of the tempos and to the fitted line. Prints the median and 95th
// percentile error after 9, 17 and 33 strikes, and exits non-zero when the line is
// not at least 3 times closer than the mean after 33 strikes at 20 ms, or is hurt by
// a missed beat (more than 1.5 times its own error without one).
//
// estimator_bench [--runs N] [--seed S]

#include "stats.h"
#include "tempo_engine.h"
#include "tempo_fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace tempocalc;
using namespace tempocalc::bench;

namespace {

constexpr std::array checkpoints = {9, 17, 33};

struct Errors {
    std::array<std::vector<double>, checkpoints.size()> mean, line;
};

// One player: 33 strikes (one more beat if one is missed), the clock started around noon.
void play(double bpm, double jitter, bool miss, std::mt19937_64& random, Errors& errors) {
    std::normal_distribution<double> off(0.0, jitter);
    std::uniform_real_distribution<double> start(40000.0, 45000.0);
    const double beat = 60.0 / bpm;
    const double first = start(random);
    TempoState state;
    TempoFit fit;
    Shown shown;
    int strike = 0;
    for (int b = 0; strike < checkpoints.back(); ++b) {
        if (miss && b == 6) {
            continue; // the player skips the seventh beat
        }
        const double reading = first + b * beat + off(random);
        tempocalc::strike(state, reading, shown);
        fit.add(reading, 0);
        ++strike;
        for (std::size_t c = 0; c < checkpoints.size(); ++c) {
            if (strike == checkpoints[c]) {
                errors.mean[c].push_back(std::fabs(state.avetempo - bpm));
                errors.line[c].push_back(std::fabs(fit.tempo().value_or(0.0) - bpm));
            }
        }
    }
}

} // namespace

int main(int argc, char* argv[]) {
    int runs = 1500;
    unsigned long long seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (option == "--seed") {
            seed = std::strtoull(argv[i + 1], nullptr, 10);
        }
    }
    std::printf("%d simulated players a row, seed %llu; errors in quarter-note BPM, "
                "median / 95th percentile\n\n",
                runs, seed);
    std::printf("| tempo | jitter | missed beat |");
    for (const int c : checkpoints) {
        std::printf(" mean, %d strikes | line, %d strikes |", c, c);
    }
    std::printf("\n|---|---|---|");
    for (std::size_t c = 0; c < checkpoints.size(); ++c) {
        std::printf("---:|---:|");
    }
    std::printf("\n");

    bool met = true;
    for (const double bpm : {90.0, 120.0, 180.0}) {
        for (const double jitter : {0.010, 0.020, 0.035}) {
            double steady_line = 0;
            for (const bool miss : {false, true}) {
                std::mt19937_64 random(seed);
                Errors errors;
                for (int r = 0; r < runs; ++r) {
                    play(bpm, jitter, miss, random, errors);
                }
                std::printf("| %.0f BPM | %.0f ms | %s |", bpm, jitter * 1000,
                            miss ? "one" : "none");
                for (std::size_t c = 0; c < checkpoints.size(); ++c) {
                    std::printf(" %.3f / %.3f | %.3f / %.3f |", percentile(errors.mean[c], 0.5),
                                percentile(errors.mean[c], 0.95), percentile(errors.line[c], 0.5),
                                percentile(errors.line[c], 0.95));
                }
                std::printf("\n");
                const double mean33 = percentile(errors.mean.back(), 0.5);
                const double line33 = percentile(errors.line.back(), 0.5);
                if (!miss) {
                    steady_line = line33;
                    if (jitter == 0.020 && !(3 * line33 <= mean33)) {
                        std::fprintf(stderr, "missed: the line is not 3 times closer at %.0f BPM\n",
                                     bpm);
                        met = false;
                    }
                } else if (!(line33 <= 1.5 * steady_line)) {
                    std::fprintf(stderr,
                                 "missed: a missed beat hurts the line at %.0f BPM, %.0f ms\n", bpm,
                                 jitter * 1000);
                    met = false;
                }
            }
        }
    }
    return met ? EXIT_SUCCESS : EXIT_FAILURE;
}
