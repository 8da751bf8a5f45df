#pragma once
// WlrScreencopyBackend: captures the output that shows the program's window (the one the
// screen settler last found it on; with one output, that output) through the wlroots
// screencopy protocol, on a Wayland connection of its own. The frame's wl_shm buffer becomes
// the Picture's pixels in the compositor's format; a released picture's buffer is reused, and
// with prepareOnCue one is prepared in the background on prepareForCapture(), until
// releasePreparation(). Right after the settler has seen the screen without the
// window, that frame is the capture (the next one would cost another frame period).

#include "CaptureBackend.h"

#include <memory>

namespace platform {

class WlrScreencopy;

class WlrScreencopyBackend final : public CaptureBackend
{
public:
    WlrScreencopyBackend(std::shared_ptr<WlrScreencopy> screencopy, bool prepareOnCue);

    imaging::Picture captureScreen() override;
    // A round trip on the toolkit's connection (Wayland, or X11 under Xwayland).
    void sync() override;
    void prepareForCapture() override;
    void releasePreparation() override;

private:
    std::shared_ptr<WlrScreencopy> m_screencopy;
    bool m_prepareOnCue = false;
};

} // namespace platform
