#pragma once
// The bench programs' clock and figures: milliseconds of a steady clock, and the median of a
// series of runs (0 for none).

#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double ms(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace bench
