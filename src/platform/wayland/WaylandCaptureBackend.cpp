#include "WaylandCaptureBackend.h"

#include "OutputCapture.h"
#include "WaylandPixels.h"

namespace platform {

namespace {
// A compositor draws a frame within a refresh period or two; one that has not answered in this
// time is not going to, and the capture command makes its next attempt.
constexpr std::chrono::milliseconds CaptureTimeout{1000};
} // namespace

WaylandCaptureBackend::WaylandCaptureBackend(std::shared_ptr<OutputCapture> capture,
                                             bool prepareOnCue, bool (*toolkitSync)())
    : m_capture(std::move(capture))
    , m_prepareOnCue(prepareOnCue)
    , m_toolkitSync(toolkitSync)
{
}

imaging::Picture WaylandCaptureBackend::captureScreen()
{
    std::optional<OutputCapture::Frame> frame = m_capture->takeSettledFrame();
    if (!frame)
        frame = m_capture->copyPrimary(QDeadlineTimer(CaptureTimeout));
    if (!frame)
        return {};
    return imaging::Picture(
        std::make_shared<const WaylandPixels>(std::move(*frame), m_capture->pool()));
}

void WaylandCaptureBackend::sync()
{
    if (m_toolkitSync)
        m_toolkitSync();
}

void WaylandCaptureBackend::prepareForCapture()
{
    if (m_prepareOnCue)
        m_capture->prepareInBackground();
}

void WaylandCaptureBackend::endCapture()
{
    m_capture->forgetRequested();
}

void WaylandCaptureBackend::releasePreparation()
{
    m_capture->releasePreparation();
}

} // namespace platform
