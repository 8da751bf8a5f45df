#include "WaylandConnection.h"

#include "ext-image-capture-source-v1-client-protocol.h"
#include "ext-image-copy-capture-v1-client-protocol.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>

namespace platform {

namespace {

constexpr std::uint32_t OutputVersion = 4;     // 4 announces the output's name
constexpr std::uint32_t ScreencopyVersion = 3; // 3 announces buffer types with buffer_done

void onOutputGeometry(void *data, wl_output *, std::int32_t x, std::int32_t y, std::int32_t,
                      std::int32_t, std::int32_t, const char *, const char *, std::int32_t)
{
    static_cast<WaylandConnection::Output *>(data)->position = QPoint(x, y);
}

void onOutputMode(void *data, wl_output *, std::uint32_t flags, std::int32_t width,
                  std::int32_t height, std::int32_t refresh)
{
    if (!(flags & WL_OUTPUT_MODE_CURRENT))
        return;
    auto *output = static_cast<WaylandConnection::Output *>(data);
    output->modeSize = QSize(width, height);
    output->refreshMilliHz = refresh;
}

void onOutputDone(void *, wl_output *) {}

void onOutputScale(void *data, wl_output *, std::int32_t factor)
{
    static_cast<WaylandConnection::Output *>(data)->scale = std::max(factor, 1);
}

void onOutputName(void *data, wl_output *, const char *name)
{
    static_cast<WaylandConnection::Output *>(data)->name = QString::fromUtf8(name);
}

void onOutputDescription(void *, wl_output *, const char *) {}

const wl_output_listener outputListener = {
    onOutputGeometry, onOutputMode, onOutputDone, onOutputScale, onOutputName, onOutputDescription,
};

} // namespace

QRect WaylandConnection::Output::logicalRect() const
{
    return QRect(position, modeSize / std::max(scale, 1));
}

std::shared_ptr<WaylandConnection> WaylandConnection::open(const char *displayName)
{
    std::shared_ptr<WaylandConnection> connection(new WaylandConnection);
    connection->m_display = wl_display_connect(displayName);
    if (!connection->m_display)
        return nullptr;
    static const wl_registry_listener listener = {&WaylandConnection::onGlobal,
                                                  &WaylandConnection::onGlobalRemove};
    connection->m_registry = wl_display_get_registry(connection->m_display);
    wl_registry_add_listener(connection->m_registry, &listener, connection.get());
    // The first round trip announces the globals, the second the outputs' properties.
    if (!connection->roundTrip() || !connection->roundTrip())
        return nullptr;
    return connection;
}

WaylandConnection::~WaylandConnection()
{
    if (!m_display)
        return;
    for (const auto &output : m_outputs)
        wl_output_destroy(output->output);
    if (m_screencopy)
        zwlr_screencopy_manager_v1_destroy(m_screencopy);
    if (m_imageCopy)
        ext_image_copy_capture_manager_v1_destroy(m_imageCopy);
    if (m_outputSource)
        ext_output_image_capture_source_manager_v1_destroy(m_outputSource);
    if (m_shm)
        wl_shm_destroy(m_shm);
    if (m_registry)
        wl_registry_destroy(m_registry);
    wl_display_disconnect(m_display);
}

void WaylandConnection::onGlobal(void *data, wl_registry *registry, std::uint32_t name,
                                 const char *interface, std::uint32_t version)
{
    auto *self = static_cast<WaylandConnection *>(data);
    if (std::strcmp(interface, wl_shm_interface.name) == 0 && !self->m_shm) {
        self->m_shm = static_cast<wl_shm *>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0 &&
               !self->m_screencopy) {
        self->m_screencopyVersion = std::min(version, ScreencopyVersion);
        self->m_screencopy = static_cast<zwlr_screencopy_manager_v1 *>(wl_registry_bind(
            registry, name, &zwlr_screencopy_manager_v1_interface, self->m_screencopyVersion));
    } else if (std::strcmp(interface, ext_image_copy_capture_manager_v1_interface.name) == 0 &&
               !self->m_imageCopy) {
        self->m_imageCopy = static_cast<ext_image_copy_capture_manager_v1 *>(
            wl_registry_bind(registry, name, &ext_image_copy_capture_manager_v1_interface, 1));
    } else if (std::strcmp(interface, ext_output_image_capture_source_manager_v1_interface.name) ==
                   0 &&
               !self->m_outputSource) {
        self->m_outputSource =
            static_cast<ext_output_image_capture_source_manager_v1 *>(wl_registry_bind(
                registry, name, &ext_output_image_capture_source_manager_v1_interface, 1));
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto output = std::make_unique<Output>();
        output->globalName = name;
        output->output = static_cast<wl_output *>(wl_registry_bind(
            registry, name, &wl_output_interface, std::min(version, OutputVersion)));
        wl_output_add_listener(output->output, &outputListener, output.get());
        self->m_outputs.push_back(std::move(output));
    }
}

void WaylandConnection::onGlobalRemove(void *data, wl_registry *, std::uint32_t name)
{
    auto *self = static_cast<WaylandConnection *>(data);
    const auto gone =
        std::find_if(self->m_outputs.begin(), self->m_outputs.end(),
                     [name](const auto &output) { return output->globalName == name; });
    if (gone == self->m_outputs.end())
        return;
    wl_output_destroy((*gone)->output);
    self->m_outputs.erase(gone);
}

const WaylandConnection::Output *WaylandConnection::chooseOutput(const QString &name,
                                                                 const QPoint *point) const
{
    if (m_outputs.empty())
        return nullptr;
    const auto find = [this](const auto &matches) -> const Output * {
        const auto found = std::find_if(m_outputs.begin(), m_outputs.end(),
                                        [&](const auto &output) { return matches(*output); });
        return found == m_outputs.end() ? nullptr : found->get();
    };
    if (!name.isEmpty())
        if (const Output *named = find([&](const Output &o) { return o.name == name; }))
            return named;
    if (point)
        if (const Output *holding =
                find([&](const Output &o) { return o.logicalRect().contains(*point); }))
            return holding;
    if (const Output *origin = find([](const Output &o) { return o.position == QPoint(0, 0); }))
        return origin;
    return m_outputs.front().get();
}

const WaylandConnection::Output *WaylandConnection::primaryOutput() const
{
    return m_outputs.empty() ? nullptr : m_outputs.front().get();
}

bool WaylandConnection::hasError() const
{
    return wl_display_get_error(m_display) != 0;
}

bool WaylandConnection::roundTrip()
{
    return wl_display_roundtrip(m_display) >= 0;
}

bool WaylandConnection::dispatchUntil(const std::function<bool()> &done, QDeadlineTimer deadline,
                                      Dispatch how)
{
    if (how == Dispatch::Blocking)
        return dispatchBlocking(done, deadline);
    if (!dispatchAvailable())
        return false;
    if (done() || deadline.hasExpired())
        return done();
    QEventLoop loop;
    QSocketNotifier readable(wl_display_get_fd(m_display), QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &loop, [&] {
        if (!dispatchAvailable() || done())
            loop.quit();
    });
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (!deadline.isForever())
        timer.start(std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 0)));
    loop.exec();
    return done();
}

bool WaylandConnection::dispatchAvailable()
{
    if (wl_display_flush(m_display) < 0 && errno != EAGAIN)
        return false;
    while (wl_display_prepare_read(m_display) != 0) {
        if (wl_display_dispatch_pending(m_display) < 0)
            return false;
    }
    pollfd fd{wl_display_get_fd(m_display), POLLIN, 0};
    if (::poll(&fd, 1, 0) > 0) {
        if (wl_display_read_events(m_display) < 0)
            return false;
    } else {
        wl_display_cancel_read(m_display);
    }
    if (wl_display_dispatch_pending(m_display) < 0)
        return false;
    return wl_display_flush(m_display) >= 0 || errno == EAGAIN;
}

bool WaylandConnection::dispatchBlocking(const std::function<bool()> &done, QDeadlineTimer deadline)
{
    while (!done()) {
        if (wl_display_dispatch_pending(m_display) < 0)
            return false;
        if (done())
            return true;
        while (wl_display_prepare_read(m_display) != 0) {
            if (wl_display_dispatch_pending(m_display) < 0)
                return false;
        }
        pollfd fd{wl_display_get_fd(m_display), POLLIN, 0};
        // Requests must reach the compositor before its answer is awaited.
        while (wl_display_flush(m_display) < 0) {
            if (errno != EAGAIN) {
                wl_display_cancel_read(m_display);
                return false;
            }
            pollfd writable{fd.fd, POLLOUT, 0};
            ::poll(&writable, 1, 100);
        }
        const qint64 remaining = deadline.remainingTimeNSecs();
        timespec timeout{static_cast<time_t>(remaining / 1000000000),
                         static_cast<long>(remaining % 1000000000)};
        const int ready = ::ppoll(&fd, 1, remaining < 0 ? nullptr : &timeout, nullptr);
        if (ready <= 0) {
            wl_display_cancel_read(m_display);
            if (ready < 0 && errno == EINTR)
                continue;
            return done();
        }
        if (wl_display_read_events(m_display) < 0)
            return false;
    }
    return true;
}

} // namespace platform
