#pragma once
// The program's random draw: a generator seeded once from the clock at construction, giving
// whole numbers from 1 to 100, each equally likely.

#include "RandomSource.h"

#include <random>

namespace app {

class TimeSeededRandomSource : public RandomSource
{
public:
    TimeSeededRandomSource();
    int drawPercent() override;

private:
    std::mt19937 m_generator;
};

} // namespace app
