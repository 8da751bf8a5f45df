#include "TimeSeededRandomSource.h"

#include <chrono>

namespace app {

TimeSeededRandomSource::TimeSeededRandomSource()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch().count();
    std::seed_seq seed{static_cast<std::uint32_t>(now), static_cast<std::uint32_t>(now >> 32)};
    m_generator.seed(seed);
}

int TimeSeededRandomSource::drawPercent()
{
    return std::uniform_int_distribution<int>(1, 100)(m_generator);
}

} // namespace app
