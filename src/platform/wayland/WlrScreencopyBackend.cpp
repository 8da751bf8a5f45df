#include "WlrScreencopyBackend.h"

#include "ToolkitDisplay.h"
#include "WaylandPixels.h"
#include "WlrScreencopy.h"

namespace platform {

namespace {
// A compositor draws a frame within a refresh period or two; one that has not answered in this
// time is not going to, and the capture command makes its next attempt.
constexpr std::chrono::milliseconds CaptureTimeout{1000};
} // namespace

WlrScreencopyBackend::WlrScreencopyBackend(std::shared_ptr<WlrScreencopy> screencopy,
                                           bool prepareOnCue)
    : m_screencopy(std::move(screencopy))
    , m_prepareOnCue(prepareOnCue)
{
}

imaging::Picture WlrScreencopyBackend::captureScreen()
{
    std::optional<WlrScreencopy::Frame> frame = m_screencopy->takeSettledFrame();
    if (!frame)
        frame = m_screencopy->copy(WlrScreencopy::Wait::NextFrame, QDeadlineTimer(CaptureTimeout));
    if (!frame)
        return {};
    return imaging::Picture(
        std::make_shared<const WaylandPixels>(std::move(*frame), m_screencopy->pool()));
}

void WlrScreencopyBackend::sync()
{
    roundTripToolkitDisplay();
}

} // namespace platform

namespace platform {

void WlrScreencopyBackend::prepareForCapture()
{
    if (m_prepareOnCue)
        m_screencopy->prepareInBackground();
}

void WlrScreencopyBackend::releasePreparation()
{
    m_screencopy->releasePreparation();
}

} // namespace platform
