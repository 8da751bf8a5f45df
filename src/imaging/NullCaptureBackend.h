#pragma once
// NullCaptureBackend: a backend that never yields a picture (VO_CAPTURE_BACKEND=null), for
// sessions without a usable display and for tests of the "no capture" path.

#include "CaptureBackend.h"

namespace imaging {

class NullCaptureBackend final : public CaptureBackend
{
public:
    Picture captureScreen() override;
    void sync() override;
};

} // namespace imaging
