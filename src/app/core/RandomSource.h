#pragma once
// A whole number from 1 to 100, drawn afresh on each call. Replaceable in tests.

namespace app {

class RandomSource
{
public:
    virtual ~RandomSource() = default;
    virtual int drawPercent() = 0;
};

} // namespace app
