// The figures the benchmarks print from a set of measurements.
#pragma once

#include <algorithm>
#include <utility>
#include <vector>

namespace quenda::bench {

// The value at fraction p (0 to 1) of the sorted values, nearest rank; values is not empty.
inline double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5)];
}

inline double median(std::vector<double> values) {
    return percentile(std::move(values), 0.5);
}

}  // namespace quenda::bench
