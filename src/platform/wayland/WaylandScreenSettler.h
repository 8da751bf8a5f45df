#pragma once
// The Wayland settler. A Wayland client does not learn where its window is, so the settler
// watches the output instead: prepare() notes which output shows the window (the one it
// watches) and takes a signature of one frame with the window on it. After the hide, it makes a
// round trip on the toolkit's connection (the compositor has then processed the unmap) and
// copies frames as they change (the protocol's damage) until one differs from the first over an
// area at least about the window's size: the window's place has been redrawn without it. A
// compositor may keep showing a closed window until its tiled neighbours have redrawn at their
// new sizes (sway's transactions), which is why the wait looks at the frames themselves. The
// frame that settles it is kept for the capture that follows, which takes it when the window was
// on the primary output.

#include "FrameSignature.h"
#include "ScreenSettler.h"

#include <QSize>
#include <memory>

namespace platform {

class OutputCapture;

class WaylandScreenSettler final : public ScreenSettler
{
public:
    explicit WaylandScreenSettler(std::shared_ptr<OutputCapture> screencopy);

    void prepare(const QWindow &window) override;
    void waitUntilRepainted() override;

private:
    std::shared_ptr<OutputCapture> m_screencopy;
    FrameSignature m_before;
    QSize m_windowSize; // in the output's buffer pixels
};

} // namespace platform
