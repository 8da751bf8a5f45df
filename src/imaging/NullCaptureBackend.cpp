#include "NullCaptureBackend.h"

namespace imaging {

Picture NullCaptureBackend::captureScreen()
{
    return {};
}

void NullCaptureBackend::sync() {}

} // namespace imaging
