#pragma once
// Picks the capture backend for the running session. VO_CAPTURE_BACKEND overrides the choice
// ("x11", or "null" for a backend that never yields a picture). Returns nullptr when no
// backend fits the session.

#include "CaptureBackend.h"

#include <memory>

namespace imaging {

std::unique_ptr<CaptureBackend> loadCaptureBackend();

} // namespace imaging
