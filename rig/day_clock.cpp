#include "day_clock.h"

#include "tempo_engine.h"

#include <cmath>
#include <ctime>

namespace tempocalc {
namespace {

double seconds_since_local_midnight(std::chrono::system_clock::time_point now) {
    const std::time_t whole = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&whole, &local);
    const std::chrono::duration<double> fraction =
        now - std::chrono::system_clock::from_time_t(whole);
    // A leap second (tm_sec 60) is folded into the next day like midnight itself.
    return std::fmod(local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + fraction.count(),
                     seconds_per_day);
}

} // namespace

DayClock::DayClock() : DayClock(seconds_since_local_midnight(std::chrono::system_clock::now())) {}

DayClock::DayClock(double seconds_since_midnight)
    : anchor_(std::chrono::steady_clock::now()), anchor_seconds_(seconds_since_midnight) {}

double DayClock::operator()() const {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - anchor_;
    return std::fmod(anchor_seconds_ + elapsed.count(), seconds_per_day);
}

std::chrono::steady_clock::time_point steadyTimeOf(const std::function<double()>& clock,
                                                   double reading) {
    const double now = clock();
    const std::chrono::steady_clock::time_point steady = std::chrono::steady_clock::now();
    double ahead = std::fmod(reading - now, seconds_per_day);
    if (ahead > seconds_per_day / 2) {
        ahead -= seconds_per_day;
    } else if (ahead < -seconds_per_day / 2) {
        ahead += seconds_per_day;
    }
    return steady + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(ahead));
}

double readingAt(const std::function<double()>& clock, std::chrono::steady_clock::time_point at) {
    const double now = clock();
    const std::chrono::duration<double> ahead = at - std::chrono::steady_clock::now();
    const double reading = std::fmod(now + ahead.count(), seconds_per_day);
    return reading < 0 ? reading + seconds_per_day : reading;
}

} // namespace tempocalc
