#pragma once
// WlrScreencopy: frames of one output through the wlroots screencopy protocol
// (zwlr_screencopy_manager_v1, versions 1 to 3), on this program's own Wayland connection.
// Frames land in wl_shm buffers of a pool that keeps a released buffer for the next frame; the
// first one can be prepared at start in the background. Used by the capture backend and the
// screen settler of a Wayland session, on the GUI thread; a frame's buffer may be given back
// on any thread. Nothing is prepared ahead unless asked for (prepareInBackground()).

#include "PixelLayout.h"
#include "ShmBuffer.h"
#include "WaylandConnection.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QPoint>
#include <QRect>
#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

// What the Wayland capture does, frame by frame ("vo.platform.wayland"; debug messages with
// QT_LOGGING_RULES="vo.platform.wayland.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcWayland)

namespace platform {

class WlrScreencopy
{
public:
    struct Frame
    {
        std::unique_ptr<ShmBuffer> buffer;
        imaging::PixelLayout layout;
        bool yInverted = false;
    };

    enum class Wait {
        NextFrame, // the next frame the compositor draws (it draws one for the request)
        Damage,    // the next frame with damage since the previous Damage frame
    };

    // nullptr when the connection offers no screencopy manager or no wl_shm.
    static std::shared_ptr<WlrScreencopy> create(std::shared_ptr<WaylandConnection> connection);
    ~WlrScreencopy();
    WlrScreencopy(const WlrScreencopy &) = delete;
    WlrScreencopy &operator=(const WlrScreencopy &) = delete;

    // Copies a frame of the target output. nullopt when the compositor fails the copy, offers
    // no wl_shm format that a Picture can hold, or has not answered by the deadline. With
    // Dispatch::ProcessingEvents the GUI thread's events are processed while it waits.
    using Dispatch = WaylandConnection::Dispatch;
    std::optional<Frame> copy(Wait wait, QDeadlineTimer deadline,
                              Dispatch how = Dispatch::Blocking);
    // Keeps a frame's buffer for the next copy.
    void release(Frame frame);
    std::shared_ptr<ShmBufferPool> pool() const { return m_pool; }

    // The output to capture: the one named outputName, else the one holding point (layout
    // coordinates), else the one at the layout's origin, else the first.
    void setTarget(const QString &outputName, std::optional<QPoint> point = std::nullopt);
    // nullptr without outputs.
    const WaylandConnection::Output *target() const;
    // Damage requests (copy_with_damage) need version 2; without, Wait::Damage waits for the
    // next frame.
    bool offersDamage() const;

    // The settler's last frame, once the screen no longer shows the window: the capture that
    // follows at once takes it instead of waiting for another frame. A frame is kept for
    // SettledFrameLifetime at most; setting another or taking it ends its keeping.
    static constexpr std::chrono::milliseconds SettledFrameLifetime{100};
    void keepSettledFrame(Frame frame);
    std::optional<Frame> takeSettledFrame();

    // Unless a buffer is kept already, copies a frame in the background into a fresh buffer and
    // reads its pages, so that the next capture finds a buffer both sides have touched. Returns
    // at once; every other call waits for the preparation to end.
    void prepareInBackground();
    void waitUntilPrepared();
    // Frees the kept buffers and the settled frame (pictures handed out keep theirs).
    void releasePreparation();
    std::size_t keptBuffers() const { return m_pool->keptBuffers(); }

    WaylandConnection &connection() const { return *m_connection; }

private:
    explicit WlrScreencopy(std::shared_ptr<WaylandConnection> connection);
    std::optional<Frame> copyFrame(Wait wait, QDeadlineTimer deadline, Dispatch how);

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
