#include "WlrScreencopy.h"

#include "ShmFormat.h"

#include "wlr-screencopy-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <system_error>

Q_LOGGING_CATEGORY(lcWayland, "vo.platform.wayland", QtInfoMsg)

namespace platform {

namespace {

// What the compositor told about one frame.
struct FrameEvents
{
    std::optional<ShmBuffer::Spec> shm;
    bool buffersAnnounced = false;
    bool yInverted = false;
    bool ready = false;
    bool failed = false;
};

void onBuffer(void *data, zwlr_screencopy_frame_v1 *, std::uint32_t format, std::uint32_t width,
              std::uint32_t height, std::uint32_t stride)
{
    static_cast<FrameEvents *>(data)->shm =
        ShmBuffer::Spec{format, static_cast<int>(width), static_cast<int>(height), stride};
}

void onFlags(void *data, zwlr_screencopy_frame_v1 *, std::uint32_t flags)
{
    static_cast<FrameEvents *>(data)->yInverted =
        (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
}

void onReady(void *data, zwlr_screencopy_frame_v1 *, std::uint32_t, std::uint32_t, std::uint32_t)
{
    static_cast<FrameEvents *>(data)->ready = true;
}

void onFailed(void *data, zwlr_screencopy_frame_v1 *)
{
    static_cast<FrameEvents *>(data)->failed = true;
}

void onDamage(void *, zwlr_screencopy_frame_v1 *, std::uint32_t, std::uint32_t, std::uint32_t,
              std::uint32_t)
{
}

void onLinuxDmabuf(void *, zwlr_screencopy_frame_v1 *, std::uint32_t, std::uint32_t, std::uint32_t)
{
}

void onBufferDone(void *data, zwlr_screencopy_frame_v1 *)
{
    static_cast<FrameEvents *>(data)->buffersAnnounced = true;
}

const zwlr_screencopy_frame_v1_listener frameListener = {
    onBuffer, onFlags, onReady, onFailed, onDamage, onLinuxDmabuf, onBufferDone,
};

class FrameObject
{
public:
    explicit FrameObject(zwlr_screencopy_frame_v1 *frame)
        : m_frame(frame)
    {
    }
    ~FrameObject()
    {
        if (m_frame)
            zwlr_screencopy_frame_v1_destroy(m_frame);
    }
    FrameObject(const FrameObject &) = delete;
    FrameObject &operator=(const FrameObject &) = delete;
    zwlr_screencopy_frame_v1 *get() const { return m_frame; }

private:
    zwlr_screencopy_frame_v1 *m_frame;
};

} // namespace

std::shared_ptr<WlrScreencopy> WlrScreencopy::create(std::shared_ptr<WaylandConnection> connection)
{
    if (!connection || !connection->screencopyManager() || !connection->shm())
        return nullptr;
    return std::shared_ptr<WlrScreencopy>(new WlrScreencopy(std::move(connection)));
}

WlrScreencopy::WlrScreencopy(std::shared_ptr<WaylandConnection> connection)
    : m_connection(std::move(connection))
    , m_pool(std::make_shared<ShmBufferPool>(m_connection))
{
}

WlrScreencopy::~WlrScreencopy()
{
    waitUntilPrepared();
    m_settled.reset();
}

void WlrScreencopy::setTarget(const QString &outputName, std::optional<QPoint> point)
{
    waitUntilPrepared();
    if (m_settled)
        release(*std::exchange(m_settled, std::nullopt));
    m_targetName = outputName;
    m_targetPoint = point;
}

const WaylandConnection::Output *WlrScreencopy::target() const
{
    return m_connection->chooseOutput(m_targetName, m_targetPoint ? &*m_targetPoint : nullptr);
}

bool WlrScreencopy::offersDamage() const
{
    return m_connection->screencopyVersion() >= 2;
}

std::optional<WlrScreencopy::Frame> WlrScreencopy::copy(Wait wait, QDeadlineTimer deadline,
                                                        Dispatch how)
{
    waitUntilPrepared();
    return copyFrame(wait, deadline, how);
}

std::optional<WlrScreencopy::Frame> WlrScreencopy::copyFrame(Wait wait, QDeadlineTimer deadline,
                                                             Dispatch how)
{
    WaylandConnection &connection = *m_connection;
    if (connection.hasError())
        return std::nullopt;
    // Outputs come and go; their announcements must be in before one is picked.
    connection.dispatchAvailable();
    const WaylandConnection::Output *output = target();
    if (!output)
        return std::nullopt;

    FrameEvents events;
    const FrameObject frame(zwlr_screencopy_manager_v1_capture_output(
        connection.screencopyManager(), 0, output->output));
    zwlr_screencopy_frame_v1_add_listener(frame.get(), &frameListener, &events);
    const bool announcesDone = connection.screencopyVersion() >= 3;
    connection.dispatchUntil(
        [&] {
            return events.failed || (announcesDone ? events.buffersAnnounced : bool(events.shm));
        },
        deadline, how);
    if (events.failed || !events.shm)
        return std::nullopt;
    const ShmBuffer::Spec spec = *events.shm;
    const std::optional<imaging::PixelLayout> layout =
        layoutForShmFormat(spec.format, spec.width, spec.height, spec.stride);
    if (!layout) {
        qCWarning(lcWayland, "the compositor offers wl_shm format 0x%08x, which is not supported",
                  spec.format);
        return std::nullopt;
    }
    std::unique_ptr<ShmBuffer> buffer = m_pool->take(spec);
    if (!buffer)
        return std::nullopt;

    if (wait == Wait::Damage && offersDamage())
        zwlr_screencopy_frame_v1_copy_with_damage(frame.get(), buffer->buffer());
    else
        zwlr_screencopy_frame_v1_copy(frame.get(), buffer->buffer());
    connection.dispatchUntil([&] { return events.ready || events.failed; }, deadline, how);
    if (!events.ready) {
        // The frame's destruction, at the end of this scope, reaches the compositor before any
        // later copy into the buffer: it never writes into it again.
        m_pool->giveBack(std::move(buffer));
        return std::nullopt;
    }
    Frame result;
    result.buffer = std::move(buffer);
    result.layout = *layout;
    result.yInverted = events.yInverted;
    return result;
}

void WlrScreencopy::release(Frame frame)
{
    if (frame.buffer)
        m_pool->giveBack(std::move(frame.buffer));
}

void WlrScreencopy::keepSettledFrame(Frame frame)
{
    if (m_settled)
        release(std::move(*m_settled));
    m_settled = std::move(frame);
    m_settledAt = std::chrono::steady_clock::now();
}

std::optional<WlrScreencopy::Frame> WlrScreencopy::takeSettledFrame()
{
    std::optional<Frame> frame = std::exchange(m_settled, std::nullopt);
    if (frame && std::chrono::steady_clock::now() - m_settledAt > SettledFrameLifetime) {
        release(std::move(*frame));
        return std::nullopt;
    }
    return frame;
}

void WlrScreencopy::prepareInBackground()
{
    if (*m_preparing)
        return; // still at work
    waitUntilPrepared();
    if (m_pool->keptBuffers() > 0 || m_connection->hasError())
        return;
    *m_preparing = true;
    try {
        m_preparation = std::jthread([this, preparing = m_preparing] {
            std::optional<Frame> frame = copyFrame(
                Wait::NextFrame, QDeadlineTimer(std::chrono::seconds(5)), Dispatch::Blocking);
            if (frame) {
                frame->buffer->touchPages();
                release(std::move(*frame));
            }
            *preparing = false;
        });
    } catch (const std::system_error &) {
        // No thread to be had: the first capture makes its buffer itself.
        *m_preparing = false;
    }
}

void WlrScreencopy::releasePreparation()
{
    waitUntilPrepared();
    m_settled.reset();
    m_pool->clear();
}

void WlrScreencopy::waitUntilPrepared()
{
    if (m_preparation.joinable())
        m_preparation.join();
}

} // namespace platform
