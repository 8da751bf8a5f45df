#include "NullCaptureBackend.h"

namespace platform {

imaging::Picture NullCaptureBackend::captureScreen()
{
    return {};
}

void NullCaptureBackend::sync() {}

} // namespace platform
