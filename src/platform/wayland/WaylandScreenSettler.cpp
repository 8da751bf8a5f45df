#include "WaylandScreenSettler.h"

#include "OutputCapture.h"
#include "ToolkitDisplay.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <optional>

namespace platform {

namespace {

// A frame whose change covers this share of the window's width and height shows the window's
// place redrawn. (The compositor's own frame and title make the window's box larger than the
// toolkit's idea of it; a tiled window may have been given a smaller box.)
constexpr int ChangedShareNumerator = 3;
constexpr int ChangedShareDenominator = 4;
// A change that stays within the window's size and this margin (the compositor's frame and
// title) is the window's place alone.
constexpr int FrameMargin = 64;

// How long no frame may change as much before the last one counts: after a change of the
// window's place alone, two frame periods at 60 Hz; after a change of the layout around it,
// longer than sway waits for the other windows before it applies a layout (200 ms).
constexpr std::chrono::milliseconds PlaceQuiet{35};
constexpr std::chrono::milliseconds LayoutQuiet{250};

FrameSignature signatureOf(const OutputCapture::Frame &frame)
{
    return FrameSignature(frame.buffer->bytes(), frame.layout);
}

} // namespace

WaylandScreenSettler::WaylandScreenSettler(std::shared_ptr<OutputCapture> screencopy)
    : m_screencopy(std::move(screencopy))
{
    // A click during a layout change waits for that change and then for the unmap's, each up
    // to sway's 200 ms, and then for the quiet time.
    setLimit(std::chrono::milliseconds(1000));
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
    const QSize place = m_windowSize + QSize(FrameMargin, FrameMargin);
    const auto changesAsMuch = [&](const QRect &changed) {
        return changed.width() >= needed.width() && changed.height() >= needed.height();
    };
    std::optional<OutputCapture::Frame> candidate;
    FrameSignature candidateSignature;
    QDeadlineTimer quiet(QDeadlineTimer::Forever);
    int frames = 0;
    bool settled = false;
    while (!settled && !deadline.hasExpired()) {
        const QDeadlineTimer until = quiet.deadline() < deadline.deadline() ? quiet : deadline;
        std::optional<OutputCapture::Frame> frame = m_screencopy->copy(
            OutputCapture::Wait::Damage, until, OutputCapture::Dispatch::ProcessingEvents);
        if (!frame) {
            settled = candidate && quiet.hasExpired();
            if (!until.hasExpired())
                break; // the copy failed
            continue;
        }
        ++frames;
        FrameSignature signature = signatureOf(*frame);
        const QRect changed = m_before.changedArea(signature);
        if (!changesAsMuch(changed)) { // the window, or the old layout, still shown
            m_screencopy->release(std::move(*frame));
            continue;
        }
        // The latest frame is the best picture; one that changes little against the one before
        // (a clock, a cursor, a video, a window's redrawn strip) leaves the quiet time running.
        const bool restart = !candidate || changesAsMuch(candidateSignature.changedArea(signature));
        const bool placeAlone =
            changed.width() <= place.width() && changed.height() <= place.height();
        qCDebug(lcWayland).nospace()
            << "settler: frame " << frames << " at " << clock.elapsed() << " ms changed " << changed
            << (restart ? (placeAlone ? ", the place" : ", the layout") : ", a little");
        if (candidate)
            m_screencopy->release(std::move(*candidate));
        candidate = std::move(frame);
        candidateSignature = std::move(signature);
        if (restart)
            quiet = QDeadlineTimer(placeAlone ? PlaceQuiet : LayoutQuiet, Qt::PreciseTimer);
    }
    // Past the deadline the last candidate is still the best guess.
    if (candidate)
        m_screencopy->keepSettledFrame(std::move(*candidate));
    qCDebug(lcWayland).nospace() << "settler: " << (settled ? "settled" : "gave up") << " after "
                                 << frames << " frame(s), " << clock.elapsed() << " ms";
    m_before = {};
}

} // namespace platform
