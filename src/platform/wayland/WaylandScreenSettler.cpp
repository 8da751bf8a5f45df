#include "WaylandScreenSettler.h"

#include "OutputCapture.h"
#include "ToolkitDisplay.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

namespace platform {

namespace {

// A frame whose change covers this share of the window's width and height shows the window's
// place redrawn. (The compositor's own frame and title make the window's box larger than the
// toolkit's idea of it; a tiled window may have been given a smaller box.)
constexpr int ChangedShareNumerator = 3;
constexpr int ChangedShareDenominator = 4;

FrameSignature signatureOf(const OutputCapture::Frame &frame)
{
    return FrameSignature(frame.buffer->bytes(), frame.layout);
}

} // namespace

WaylandScreenSettler::WaylandScreenSettler(std::shared_ptr<OutputCapture> screencopy)
    : m_screencopy(std::move(screencopy))
{
    // sway gives the windows around a closed tiled one 200 ms to redraw at their new sizes,
    // and shows the old layout, the closed window included, until then.
    setLimit(std::chrono::milliseconds(300));
}

void WaylandScreenSettler::prepare(const QWindow &window)
{
    m_before = {};
    m_windowSize = {};
    const QScreen *screen = window.screen();
    // Under Xwayland the toolkit knows the window's place in the compositor's layout.
    const bool native = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    m_screencopy->setTarget(screen ? screen->name() : QString(),
                            native ? std::nullopt
                                   : std::optional<QPoint>(window.frameGeometry().center()));
    if (!window.isVisible())
        return;
    const WaylandConnection::Output *output = m_screencopy->target();
    const int scale = output ? output->scale : 1;
    m_windowSize = window.frameGeometry().size() * scale;

    std::optional<OutputCapture::Frame> frame =
        m_screencopy->copy(OutputCapture::Wait::NextFrame, QDeadlineTimer(limit()),
                           OutputCapture::Dispatch::ProcessingEvents);
    if (!frame)
        return;
    m_before = signatureOf(*frame);
    m_screencopy->release(std::move(*frame));
}

void WaylandScreenSettler::waitUntilRepainted()
{
    const QDeadlineTimer deadline(limit(), Qt::PreciseTimer);
    QElapsedTimer clock;
    clock.start();
    roundTripToolkitDisplay();
    if (m_before.isNull()) {
        qCDebug(lcWayland) << "settler: no frame with the window to compare with";
        return;
    }
    const QSize needed = m_windowSize * ChangedShareNumerator / ChangedShareDenominator;
    int frames = 0;
    bool settled = false;
    while (!settled && !deadline.hasExpired()) {
        std::optional<OutputCapture::Frame> frame = m_screencopy->copy(
            OutputCapture::Wait::Damage, deadline, OutputCapture::Dispatch::ProcessingEvents);
        if (!frame)
            break;
        ++frames;
        const QRect changed = m_before.changedArea(signatureOf(*frame));
        settled = changed.width() >= needed.width() && changed.height() >= needed.height();
        if (settled)
            m_screencopy->keepSettledFrame(std::move(*frame));
        else
            m_screencopy->release(std::move(*frame));
    }
    qCDebug(lcWayland).nospace() << "settler: " << (settled ? "settled" : "gave up") << " after "
                                 << frames << " frame(s), " << clock.elapsed() << " ms";
    m_before = {};
}

} // namespace platform
