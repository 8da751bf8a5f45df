#pragma once
// The Wayland settler. A Wayland client does not learn where its window is, so the settler
// watches the output instead: prepare() notes which output shows the window (the one it
// watches) and takes a signature of one frame with the window on it. After the hide, it
// makes a round trip on the toolkit's connection (the compositor has then processed the unmap)
// and copies frames as they change (copy_with_damage) until one differs from the first over an
// area at least about the window's size, and then until the frames are quiet again: no frame
// that changes as much follows for a while. A compositor may show intermediate frames on the
// way: sway keeps the old layout, or a window's last buffer, until the windows around a closed
// tiled one have redrawn at their new sizes (its transactions, which it applies after 200 ms at
// the latest), and a click while an earlier layout change is still under way finds that change
// and the unmap queued one behind the other. So a change no larger than about the window's
// place (it floated, or filled the output) settles after a short quiet time, and a larger one
// (the layout around it changed) only after a quiet time longer than a transaction may last.
// The frame that settles it is kept for the capture that follows, which takes it when the window
// was on the primary output.

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
    QSize m_windowSize; // in the output's buffer pixels, with the compositor's frame
};

} // namespace platform
