#include "WlrScreencopy.h"

#include "ShmFormat.h"

#include "wlr-screencopy-unstable-v1-client-protocol.h"

#include <wayland-client.h>

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

WlrScreencopy::~WlrScreencopy()
{
    // The preparation's thread may be in copyFrame().
    waitUntilPrepared();
}

QString WlrScreencopy::protocolName() const
{
    return QStringLiteral("wlroots screencopy version %1").arg(connection().screencopyVersion());
}

bool WlrScreencopy::offersDamage() const
{
    return connection().screencopyVersion() >= 2;
}

std::optional<OutputCapture::Frame>
WlrScreencopy::copyFrame(const WaylandConnection::Output &output, Wait wait,
                         QDeadlineTimer deadline, Dispatch how)
{
    WaylandConnection &connection = this->connection();
    FrameEvents events;
    const FrameObject frame(zwlr_screencopy_manager_v1_capture_output(
        connection.screencopyManager(), 0, output.output));
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
    std::unique_ptr<ShmBuffer> buffer = bufferPool().take(spec);
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
        bufferPool().giveBack(std::move(buffer));
        return std::nullopt;
    }
    Frame result;
    result.buffer = std::move(buffer);
    result.layout = *layout;
    result.yInverted = events.yInverted;
    return result;
}

} // namespace platform
