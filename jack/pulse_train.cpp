#include "pulse_train.h"

#include <cmath>

namespace tempocalc {

Cycle Cycle::measure(bool ok, std::uint32_t start, std::uint64_t startUs, std::uint64_t nextUs,
                     std::uint32_t frames, const Cycle& last, double nominalUsPerFrame) {
    if (!ok) {
        startUs = nextUs = 0;
    }
    if (last.known() && start == last.given) {
        return {last.start + frames, last.startUs + frames * last.usPerFrame, last.usPerFrame,
                start};
    }
    const double usPerFrame =
        static_cast<double>(static_cast<std::int64_t>(nextUs - startUs)) / frames;
    if (usPerFrame > nominalUsPerFrame / 2 && usPerFrame < nominalUsPerFrame * 2) {
        return {start, static_cast<double>(startUs), usPerFrame, start};
    }
    if (!last.known()) {
        return {start, 0, 0, start};
    }
    return {start, last.startUs + static_cast<std::int32_t>(start - last.start) * last.usPerFrame,
            last.usPerFrame, start};
}

std::int64_t Cycle::offsetOf(double us) const {
    return std::llround((us - startUs) / usPerFrame);
}

void TickTrain::begin(const JackGrid& grid, double nowUs) {
    const double barUs = grid.lengthUs * grid.bar;
    // Started but nothing sent yet (the first one is still to come): a new grid is
    // started on as the first was.
    if (!running_ || (count_ == 0 && serial_ != grid.serial)) {
        running_ = true;
        count_ = 0;
        serial_ = grid.serial;
        marks_ = grid.marks;
        restart_ = false;
        ramp_ = {};
        next_ = static_cast<std::int64_t>(std::ceil((nowUs - grid.beatUs) / barUs)) *
                ticks_per_beat * grid.bar;
    } else if (serial_ != grid.serial) {
        serial_ = grid.serial;
        if (marks_ != grid.marks) {
            marks_ = grid.marks;
            restart_ = true; // at the next one; meanwhile the beats go on
        }
        plan(grid, lastUs_, nowUs);
    }
}

std::int64_t TickTrain::number() const {
    return ramp_.ticks > 0 ? next_ - ramp_.ticks + ramp_.done + 1 : next_;
}

double TickTrain::due(const JackGrid& grid) const {
    if (ramp_.ticks > 0) {
        return ramp_.fromUs + static_cast<double>(ramp_.done + 1) * ramp_.stepUs;
    }
    return grid.beatUs + static_cast<double>(next_) * grid.lengthUs / ticks_per_beat;
}

void TickTrain::advance(double due) {
    lastUs_ = due;
    ++count_;
    if (ramp_.ticks == 0) {
        ++next_;
    } else if (++ramp_.done == ramp_.ticks) {
        ramp_ = {};
        ++next_;
    }
}

void TickTrain::plan(const JackGrid& grid, double fromUs, double earliestUs) {
    const double tick = grid.lengthUs / ticks_per_beat;
    // The receiver's bar, which it is to keep; while it is to be started again anyway,
    // its beat.
    const std::int64_t unit = ticks_per_beat * (restart_ ? 1 : grid.bar);
    const double unitUs = tick * static_cast<double>(unit);
    // The receiver's place in its bar (or beat) of the next tick, and the ticks to its
    // next bar (or beat).
    const std::int64_t toNext = (unit - count_ % unit) % unit + 1;
    for (std::int64_t units = 0; units < 4; ++units) {
        const auto n = static_cast<double>(toNext + units * unit);
        const double ideal = std::max(fromUs + n * tick, earliestUs + (n - 1) * tick);
        const auto nearest = static_cast<std::int64_t>(std::floor((ideal - grid.beatUs) / unitUs));
        double best = HUGE_VAL;
        for (std::int64_t at = nearest - 1; at <= nearest + 2; ++at) {
            const double end = grid.beatUs + static_cast<double>(at) * unitUs;
            // Evenly from the last tick; or, where that would put the first before now
            // (after a stall, or a last tick a long one ago), from now.
            double step = (end - fromUs) / n, from = fromUs;
            if (from + step < earliestUs) {
                if (n < 2) {
                    continue;
                }
                step = (end - earliestUs) / (n - 1);
                from = earliestUs - step;
            }
            if (step < tick / 2 || step > 2 * tick) {
                continue;
            }
            if (const double off = std::fabs(std::log(step / tick)); off < best) {
                best = off;
                ramp_ = {from, step, static_cast<std::int64_t>(n), 0};
                next_ = at * unit;
            }
        }
        if (best < HUGE_VAL) {
            return;
        }
    }
}

void BeatTrain::begin(const JackGrid& grid, double nowUs) {
    if (!running_) {
        running_ = true;
        serial_ = grid.serial;
        skipTo(grid, nowUs);
    } else if (serial_ != grid.serial) {
        serial_ = grid.serial;
        skipTo(grid, std::max(nowUs, lastUs_ + grid.lengthUs / 2));
    }
}

void BeatTrain::skipTo(const JackGrid& grid, double us) {
    next_ = static_cast<std::int64_t>(std::ceil((us - grid.beatUs) / grid.lengthUs));
}

} // namespace tempocalc
