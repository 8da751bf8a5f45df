#pragma once
// OutputCapture: frames of one output through a Wayland capture protocol, on this program's own
// Wayland connection. Two protocols implement it: ext-image-copy-capture (ExtImageCopyCapture,
// preferred) and wlroots screencopy (WlrScreencopy, the fallback). What they share lives here:
// frames land in wl_shm buffers of a pool that keeps a released buffer for the next frame; the
// first one can be prepared at start in the background; the settler's last frame is kept for
// the capture that follows. Used by the capture backend and the screen settler of a Wayland
// session, on the GUI thread; a frame's buffer may be given back on any thread. Nothing is
// prepared ahead unless asked for (prepareInBackground()).

#include "PixelLayout.h"
#include "ShmBuffer.h"
#include "WaylandConnection.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QPoint>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

// What the Wayland capture does, frame by frame ("vo.platform.wayland"; debug messages with
// QT_LOGGING_RULES="vo.platform.wayland.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcWayland)

namespace platform {

class OutputCapture
{
public:
    struct Frame
    {
        std::unique_ptr<ShmBuffer> buffer;
        imaging::PixelLayout layout;
        bool yInverted = false;
        std::uint32_t outputGlobal = 0; // the wl_output global it shows
    };

    enum class Wait {
        NextFrame, // the screen as it is now (the compositor draws a frame for the request)
        Damage,    // the next frame with damage since the previous frame of the same output
    };

    virtual ~OutputCapture();
    OutputCapture(const OutputCapture &) = delete;
    OutputCapture &operator=(const OutputCapture &) = delete;

    // The protocol's name, for the log.
    virtual QString protocolName() const = 0;
    // Whether Wait::Damage really waits for damage; without, it waits for the next frame.
    virtual bool offersDamage() const = 0;

    // Copies a frame of the target output (copy) or of the primary one (copyPrimary). nullopt
    // when the compositor fails the copy, offers no wl_shm format that a Picture can hold, or
    // has not answered by the deadline. With Dispatch::ProcessingEvents the GUI thread's events
    // are processed while it waits.
    using Dispatch = WaylandConnection::Dispatch;
    std::optional<Frame> copy(Wait wait, QDeadlineTimer deadline,
                              Dispatch how = Dispatch::Blocking);
    std::optional<Frame> copyPrimary(QDeadlineTimer deadline);
    // A frame that copyPrimary() asked for and that had not come by its deadline may stay asked
    // for, for the next attempt of the same capture (ExtImageCopyCapture): no longer. copy()'s
    // frames and the preparation's never stay.
    virtual void forgetRequested() {}
    // Keeps a frame's buffer for the next copy.
    void release(Frame frame);
    std::shared_ptr<ShmBufferPool> pool() const { return m_pool; }

    // The output to watch (the settler's): the one named outputName, else the one holding point
    // (layout coordinates), else the one at the layout's origin, else the first.
    void setTarget(const QString &outputName, std::optional<QPoint> point = std::nullopt);
    // nullptr without outputs.
    const WaylandConnection::Output *target() const;
    // The output a capture shows: the first in the compositor's order (WaylandConnection).
    const WaylandConnection::Output *primary() const;

    // The settler's last frame, once the screen no longer shows the window: the capture that
    // follows at once takes it instead of waiting for another frame (when it shows the primary
    // output). A frame is kept for SettledFrameLifetime at most; setting another or taking it
    // ends its keeping.
    static constexpr std::chrono::milliseconds SettledFrameLifetime{100};
    void keepSettledFrame(Frame frame);
    std::optional<Frame> takeSettledFrame();

    // Unless a buffer is kept already, copies a frame of the primary output in the background
    // into a fresh buffer and reads its pages, so that the next capture finds a buffer both
    // sides have touched. Returns at once; every other call waits for the preparation to end.
    void prepareInBackground();
    void waitUntilPrepared();
    // Frees the kept buffers and the settled frame (pictures handed out keep theirs).
    void releasePreparation();
    std::size_t keptBuffers() const { return m_pool->keptBuffers(); }

    WaylandConnection &connection() const { return *m_connection; }

protected:
    explicit OutputCapture(std::shared_ptr<WaylandConnection> connection);
    // The protocol's copy of one frame of output into a buffer of the pool. Runs on one thread
    // at a time (the caller's, or the preparation's).
    virtual std::optional<Frame> copyFrame(const WaylandConnection::Output &output, Wait wait,
                                           QDeadlineTimer deadline, Dispatch how) = 0;
    ShmBufferPool &bufferPool() const { return *m_pool; }

private:
    // Keep: a frame not come by the deadline may stay asked for (the capture's, for its next
    // attempt). Forget: it does not (the settler's and the preparation's, asked for while the
    // window may still show: drawn later, it would show it).
    enum class Asked { Keep, Forget };
    std::optional<Frame> copyOf(const WaylandConnection::Output *(OutputCapture::*which)() const,
                                Wait wait, QDeadlineTimer deadline, Dispatch how, Asked asked);

    std::shared_ptr<WaylandConnection> m_connection;
    std::shared_ptr<ShmBufferPool> m_pool;
    std::optional<Frame> m_settled;
    std::chrono::steady_clock::time_point m_settledAt;
    QString m_targetName;
    std::optional<QPoint> m_targetPoint;
    std::jthread m_preparation;
    std::shared_ptr<std::atomic<bool>> m_preparing = std::make_shared<std::atomic<bool>>(false);
};

} // namespace platform
