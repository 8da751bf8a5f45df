#pragma once
// WaylandCaptureBackend: captures the primary output (the first in the compositor's order)
// through an OutputCapture (ext-image-copy-capture, or wlroots screencopy), on a Wayland
// connection of its own. The frame's wl_shm buffer becomes the Picture's pixels in the
// compositor's format; a released picture's buffer is reused, and with prepareOnCue one is
// prepared in the background on prepareForCapture(), until releasePreparation(). Right after
// the settler has seen the primary output without the window, that frame is the capture (the
// next one would cost another frame period).

#include "CaptureBackend.h"

#include <memory>

namespace platform {

class OutputCapture;

class WaylandCaptureBackend final : public CaptureBackend
{
public:
    // toolkitSync: makes sure the toolkit's earlier requests have reached the compositor, for
    // sync(); null where no toolkit runs.
    WaylandCaptureBackend(std::shared_ptr<OutputCapture> capture, bool prepareOnCue,
                          bool (*toolkitSync)() = nullptr);

    imaging::Picture captureScreen() override;
    // A round trip on the toolkit's connection (Wayland, or X11 under Xwayland).
    void sync() override;
    void prepareForCapture() override;
    void releasePreparation() override;
    void endCapture() override;

private:
    std::shared_ptr<OutputCapture> m_capture;
    bool m_prepareOnCue = false;
    bool (*m_toolkitSync)() = nullptr;
};

} // namespace platform
