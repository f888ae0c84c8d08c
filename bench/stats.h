#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace tempocalc::bench {

// The value at quantile q of a set, by nearest rank (q = 0.5: the median).
inline double percentile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

struct Stats {
    double median, p99, max;
};

inline Stats statsOf(const std::vector<double>& values) {
    return {percentile(values, 0.5), percentile(values, 0.99),
            *std::max_element(values.begin(), values.end())};
}

} // namespace tempocalc::bench
