#include "ExtImageCopyCapture.h"

#include "ShmFormat.h"

#include "ext-image-capture-source-v1-client-protocol.h"
#include "ext-image-copy-capture-v1-client-protocol.h"

#include <wayland-client.h>

#include <vector>

namespace platform {

// One capture session of one output, with the constraints its buffers must meet.
struct ExtImageCopyCapture::Session
{
    std::uint32_t outputGlobal = 0;
    ext_image_capture_source_v1 *source = nullptr;
    ext_image_copy_capture_session_v1 *session = nullptr;
    QSize bufferSize;
    std::vector<std::uint32_t> shmFormats; // the compositor's order of preference
    bool constraintsDone = false;
    bool stopped = false;
    bool gaveFrame = false; // later frames wait for the output to change

    Session() = default;
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    ~Session()
    {
        if (session)
            ext_image_copy_capture_session_v1_destroy(session);
        if (source)
            ext_image_capture_source_v1_destroy(source);
    }
};

namespace {

using Session = ExtImageCopyCapture::Session;

void onBufferSize(void *data, ext_image_copy_capture_session_v1 *, std::uint32_t width,
                  std::uint32_t height)
{
    auto *session = static_cast<Session *>(data);
    // Constraints are sent anew as a whole when they change.
    if (session->constraintsDone) {
        session->constraintsDone = false;
        session->shmFormats.clear();
    }
    session->bufferSize = QSize(static_cast<int>(width), static_cast<int>(height));
}

void onShmFormat(void *data, ext_image_copy_capture_session_v1 *, std::uint32_t format)
{
    auto *session = static_cast<Session *>(data);
    if (session->constraintsDone) {
        session->constraintsDone = false;
        session->shmFormats.clear();
    }
    session->shmFormats.push_back(format);
}

void onDmabufDevice(void *, ext_image_copy_capture_session_v1 *, wl_array *) {}

void onDmabufFormat(void *, ext_image_copy_capture_session_v1 *, std::uint32_t, wl_array *) {}

void onSessionDone(void *data, ext_image_copy_capture_session_v1 *)
{
    static_cast<Session *>(data)->constraintsDone = true;
}

void onStopped(void *data, ext_image_copy_capture_session_v1 *)
{
    static_cast<Session *>(data)->stopped = true;
}

const ext_image_copy_capture_session_v1_listener sessionListener = {
    onBufferSize, onShmFormat, onDmabufDevice, onDmabufFormat, onSessionDone, onStopped,
};

struct FrameEvents
{
    bool ready = false;
    bool failed = false;
    std::uint32_t failure = 0;
};

void onTransform(void *, ext_image_copy_capture_frame_v1 *, std::uint32_t) {}

void onDamage(void *, ext_image_copy_capture_frame_v1 *, std::int32_t, std::int32_t, std::int32_t,
              std::int32_t)
{
}

void onPresentationTime(void *, ext_image_copy_capture_frame_v1 *, std::uint32_t, std::uint32_t,
                        std::uint32_t)
{
}

void onReady(void *data, ext_image_copy_capture_frame_v1 *)
{
    static_cast<FrameEvents *>(data)->ready = true;
}

void onFailed(void *data, ext_image_copy_capture_frame_v1 *, std::uint32_t reason)
{
    auto *events = static_cast<FrameEvents *>(data);
    events->failed = true;
    events->failure = reason;
}

const ext_image_copy_capture_frame_v1_listener frameListener = {
    onTransform, onDamage, onPresentationTime, onReady, onFailed,
};

} // namespace

// A frame asked for, with the buffer the compositor copies into.
struct ExtImageCopyCapture::Request
{
    ext_image_copy_capture_frame_v1 *frame = nullptr;
    FrameEvents events;
    std::unique_ptr<ShmBuffer> buffer;
    imaging::PixelLayout layout;

    Request() = default;
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;
    ~Request()
    {
        if (frame)
            ext_image_copy_capture_frame_v1_destroy(frame);
    }
};

std::shared_ptr<ExtImageCopyCapture>
ExtImageCopyCapture::create(std::shared_ptr<WaylandConnection> connection)
{
    if (!connection || !connection->imageCopyCaptureManager() ||
        !connection->outputCaptureSourceManager() || !connection->shm())
        return nullptr;
    return std::shared_ptr<ExtImageCopyCapture>(new ExtImageCopyCapture(std::move(connection)));
}

ExtImageCopyCapture::~ExtImageCopyCapture()
{
    // The preparation's thread may be in copyFrame().
    waitUntilPrepared();
    m_request.reset(); // before its session
}

void ExtImageCopyCapture::forgetRequested()
{
    if (!m_request)
        return;
    std::unique_ptr<ShmBuffer> buffer = std::move(m_request->buffer);
    // The frame's destruction reaches the compositor before any later copy into the buffer: it
    // never writes into it again.
    m_request.reset();
    bufferPool().giveBack(std::move(buffer));
}

QString ExtImageCopyCapture::protocolName() const
{
    return QStringLiteral("ext-image-copy-capture");
}

bool ExtImageCopyCapture::openSession(const WaylandConnection::Output &output,
                                      QDeadlineTimer deadline, Dispatch how)
{
    WaylandConnection &connection = this->connection();
    forgetRequested();
    m_session.reset();
    auto session = std::make_unique<Session>();
    session->outputGlobal = output.globalName;
    session->source = ext_output_image_capture_source_manager_v1_create_source(
        connection.outputCaptureSourceManager(), output.output);
    // The picture shows the screen's content, without the pointer (as the other routes do).
    session->session = ext_image_copy_capture_manager_v1_create_session(
        connection.imageCopyCaptureManager(), session->source, 0);
    ext_image_copy_capture_session_v1_add_listener(session->session, &sessionListener,
                                                   session.get());
    m_session = std::move(session);
    connection.dispatchUntil([&] { return m_session->constraintsDone || m_session->stopped; },
                             deadline, how);
    return m_session->constraintsDone && !m_session->stopped;
}

std::optional<OutputCapture::Frame>
ExtImageCopyCapture::copyFrame(const WaylandConnection::Output &output, Wait wait,
                               QDeadlineTimer deadline, Dispatch how)
{
    WaylandConnection &connection = this->connection();
    const bool reusable = m_session && m_session->outputGlobal == output.globalName &&
                          !m_session->stopped && m_session->constraintsDone &&
                          (wait == Wait::Damage || !m_session->gaveFrame);
    if (!reusable)
        forgetRequested();
    if (!reusable && !openSession(output, deadline, how)) {
        m_session.reset();
        return std::nullopt;
    }
    Session &session = *m_session;

    if (!m_request) {
        std::optional<imaging::PixelLayout> layout;
        ShmBuffer::Spec spec;
        for (const std::uint32_t format : session.shmFormats) {
            spec = ShmBuffer::Spec{format, session.bufferSize.width(), session.bufferSize.height(),
                                   static_cast<std::size_t>(session.bufferSize.width()) * 4};
            layout = layoutForShmFormat(spec.format, spec.width, spec.height, spec.stride);
            if (layout)
                break;
        }
        if (!layout) {
            qCWarning(lcWayland, "the compositor offers no wl_shm format that is supported");
            return std::nullopt;
        }
        auto request = std::make_unique<Request>();
        request->buffer = bufferPool().take(spec);
        if (!request->buffer)
            return std::nullopt;
        request->layout = *layout;
        request->frame = ext_image_copy_capture_session_v1_create_frame(session.session);
        ext_image_copy_capture_frame_v1_add_listener(request->frame, &frameListener,
                                                     &request->events);
        ext_image_copy_capture_frame_v1_attach_buffer(request->frame, request->buffer->buffer());
        ext_image_copy_capture_frame_v1_damage_buffer(request->frame, 0, 0, spec.width,
                                                      spec.height);
        ext_image_copy_capture_frame_v1_capture(request->frame);
        m_request = std::move(request);
    }
    const FrameEvents &events = m_request->events;
    connection.dispatchUntil([&] { return events.ready || events.failed; }, deadline, how);
    if (!events.ready) {
        if (events.failed) {
            qCDebug(lcWayland) << "ext-image-copy-capture: frame failed, reason" << events.failure;
            // New constraints or an ended session: the next copy opens a session afresh.
            forgetRequested();
            m_session.reset();
        }
        return std::nullopt;
    }
    session.gaveFrame = true;
    Frame result;
    result.buffer = std::move(m_request->buffer);
    result.layout = m_request->layout;
    m_request.reset();
    return result;
}

} // namespace platform
