#include "WlrScreencopy.h"

#include "ShmFormat.h"

#include "wlr-screencopy-unstable-v1-client-protocol.h"

#include <wayland-client.h>

Q_LOGGING_CATEGORY(lcWayland, "vo.platform.wayland")

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
    QRect damage;
    std::chrono::nanoseconds presented{};
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

void onReady(void *data, zwlr_screencopy_frame_v1 *, std::uint32_t secondsHigh,
             std::uint32_t secondsLow, std::uint32_t nanoseconds)
{
    auto *events = static_cast<FrameEvents *>(data);
    const auto seconds = (static_cast<std::uint64_t>(secondsHigh) << 32) | secondsLow;
    events->presented = std::chrono::seconds(seconds) + std::chrono::nanoseconds(nanoseconds);
    events->ready = true;
}

void onFailed(void *data, zwlr_screencopy_frame_v1 *)
{
    static_cast<FrameEvents *>(data)->failed = true;
}

void onDamage(void *data, zwlr_screencopy_frame_v1 *, std::uint32_t x, std::uint32_t y,
              std::uint32_t width, std::uint32_t height)
{
    auto *events = static_cast<FrameEvents *>(data);
    events->damage |= QRect(static_cast<int>(x), static_cast<int>(y), static_cast<int>(width),
                            static_cast<int>(height));
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
}

void WlrScreencopy::setTarget(const QString &outputName, std::optional<QPoint> point)
{
    waitUntilPrepared();
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
        // Destroying the frame first stops any later write into the buffer.
        m_pool->giveBack(std::move(buffer));
        return std::nullopt;
    }
    Frame result;
    result.buffer = std::move(buffer);
    result.layout = *layout;
    result.yInverted = events.yInverted;
    result.damage = events.damage;
    result.presented = events.presented;
    return result;
}

void WlrScreencopy::release(Frame frame)
{
    if (frame.buffer)
        m_pool->giveBack(std::move(frame.buffer));
}

void WlrScreencopy::prepareInBackground()
{
    waitUntilPrepared();
    m_preparation = std::jthread([this] {
        std::optional<Frame> frame =
            copyFrame(Wait::NextFrame, QDeadlineTimer(std::chrono::seconds(5)), Dispatch::Blocking);
        if (frame) {
            frame->buffer->touchPages();
            release(std::move(*frame));
        }
    });
}

void WlrScreencopy::waitUntilPrepared()
{
    if (m_preparation.joinable())
        m_preparation.join();
}

} // namespace platform
