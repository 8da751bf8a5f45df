#pragma once
// NullCaptureBackend: a backend that never yields a picture (VO_CAPTURE_BACKEND=null), for
// sessions without a usable display and for tests of the "no capture" path.

#include "CaptureBackend.h"

namespace platform {

class NullCaptureBackend final : public CaptureBackend
{
public:
    imaging::Picture captureScreen() override;
    void sync() override;
};

} // namespace platform
