#include "beat_grid.h"

#include "tempo_engine.h"

#include <cmath>

namespace tempocalc {
namespace {

// A reading taken onto the grid's count of seconds, which goes on past midnight.
double onto(const BeatGrid& grid, double reading) {
    return reading + std::round((grid.beat - reading) / seconds_per_day) * seconds_per_day;
}

} // namespace

double nearest_beat(const BeatGrid& grid, double reading) {
    const double period = 60.0 / grid.bpm;
    return grid.beat + std::round((onto(grid, reading) - grid.beat) / period) * period;
}

int beat_in_bar(const BeatGrid& grid, double reading) {
    const double period = 60.0 / grid.bpm;
    const auto beats =
        static_cast<long long>(std::llround((onto(grid, reading) - grid.one) / period));
    return static_cast<int>(((beats % grid.bar) + grid.bar) % grid.bar) + 1;
}

} // namespace tempocalc
