#pragma once
// The one platform service of the imaging layer: copy the primary screen into a Picture.
// Backends: X11 (xcb, MIT-SHM with a GetImage fallback) now; a desktop-portal backend later.
// CaptureBackendLoader is the one place that picks the backend.

#include "Picture.h"

namespace platform {

class CaptureBackend
{
public:
    virtual ~CaptureBackend() = default;

    // Captures the whole primary screen at its pixel size and format. Returns an empty Picture
    // when nothing could be captured; never throws.
    virtual imaging::Picture captureScreen() = 0;

    // Returns once the display server has processed every request that this program (including
    // the GUI toolkit's own connection) sent before the call, e.g. the unmap of a hidden window.
    virtual void sync() = 0;
};

} // namespace platform
