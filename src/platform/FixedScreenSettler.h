#pragma once
// The settler where no display server tells when the screen has repainted: it gives the windows
// that were covered the whole allowance, limit(), processing events meanwhile.

#include "ScreenSettler.h"

namespace platform {

class FixedScreenSettler final : public ScreenSettler
{
public:
    void prepare(const QWindow &) override {}
    void waitUntilRepainted() override;
};

} // namespace platform
