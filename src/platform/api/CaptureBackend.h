#pragma once
// What the program needs to capture the screen: copy the primary screen into a Picture.
// Backends: X11 (xcb, MIT-SHM with a GetImage fallback), wlroots screencopy, KWin's screenshot
// interface, the desktop portal, and the null backend; PlatformLoader is the one place that
// picks the backend.

#include "Picture.h"

#include <QString>

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

    // Why the last captureScreen() yielded nothing, in words for the user; empty when there is
    // nothing more to say than that.
    virtual QString failureReason() const { return {}; }
    // Whether that failure is final for now (a refusal, no answer in time): further attempts
    // of the same command would only repeat it, or its wait.
    virtual bool failureIsFinal() const { return false; }
    // The attempts of one capture are over: what the backend still waited for on their behalf
    // (a frame asked for and not come) is not waited for any more. Nothing by default.
    virtual void endCapture() {}

    // Hints that a capture may come soon (the pointer came over the window, ...): the backend
    // may get ready for it in the background, e.g. prepare the memory the screen is copied
    // into. Returns at once; never throws. Nothing by default.
    virtual void prepareForCapture() {}

    // Hints that no capture is expected for a while: the backend frees what it holds for the
    // next capture (pictures handed out keep their pixels). Never throws. Nothing by default.
    virtual void releasePreparation() {}
};

} // namespace platform
