#include "PortalCaptureBackend.h"

#include "CroppedPixels.h"
#include "MutterLayout.h"
#include "PngReader.h"
#include "PortalRequest.h"
#include "PrimaryScreenSize.h"
#include "ToolkitDisplay.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLoggingCategory>
#include <QUrl>

#include <future>
#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

namespace platform {

namespace {

constexpr auto Service = "org.freedesktop.portal.Desktop";
constexpr auto ObjectPath = "/org/freedesktop/portal/desktop";
constexpr auto ScreenshotInterface = "org.freedesktop.portal.Screenshot";

// The portal's file is this call's when it was written after the call began: a new name, or a
// name it reused and rewrote (as xdg-desktop-portal-wlr does with /tmp/out.png). File times
// come from a coarser clock than ours; a second of slack covers that.
bool writtenSince(const QFileInfo &file, const QDateTime &callStart)
{
    return file.exists() && file.lastModified() >= callStart.addSecs(-1);
}

} // namespace

PortalCaptureBackend::PortalCaptureBackend(Options options)
    : m_options(options)
{
}

bool PortalCaptureBackend::isAvailable()
{
    // Only a session bus that is there: without one, D-Bus would launch a bus of its own (and
    // the portal on it) for this program alone.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/bus"))))
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    // Reading the interface's version starts the portal through D-Bus activation if need be.
    QDBusMessage get = QDBusMessage::createMethodCall(
        QLatin1String(Service), QLatin1String(ObjectPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QLatin1String(ScreenshotInterface) << QStringLiteral("version");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 10000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

// The desktop paints its screenshot from what it has processed when the request arrives on
// the session bus, which does not wait for the toolkit's Wayland connection: the unmap of a
// hidden window must have been processed first.
void PortalCaptureBackend::sync()
{
    roundTripToolkitDisplay();
}

imaging::Picture PortalCaptureBackend::captureScreen()
{
    m_failureReason.clear();
    m_failureIsFinal = false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    const auto fail = [this](const QString &reason, bool final) {
        qCDebug(lcPlatform) << "portal capture failed:" << reason;
        m_failureReason = reason;
        m_failureIsFinal = final;
        return imaging::Picture();
    };
    if (!bus.isConnected())
        return fail(QStringLiteral("there is no session bus to reach the desktop portal"), true);

    PortalRequest request(bus, QStringLiteral("vistarel_ombrix_%1_%2")
                                   .arg(QCoreApplication::applicationPid())
                                   .arg(++m_requests));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(Service), QLatin1String(ObjectPath), QLatin1String(ScreenshotInterface),
        QStringLiteral("Screenshot"));
    const QVariantMap options{{QStringLiteral("handle_token"), request.token()},
                              {QStringLiteral("interactive"), false},
                              {QStringLiteral("modal"), false}};
    call << QString() << options;
    // GNOME's monitor layout, read once before the call: it gives the primary monitor's place
    // in the picture (below), and here the picture's size where nothing else does.
    const std::optional<MutterLayout> layout = readMutterLayout();
    // The memory for the picture is mapped while the portal takes the screenshot: its first
    // touch would otherwise cost about as much as decoding the PNG. Its size is the last
    // picture's, else the toolkit's primary screen; without either (--capture has no toolkit),
    // GNOME's layout gives it where it has one monitor: the picture is that monitor's mode,
    // turned as the monitor is.
    QSize expected = m_lastSize.isValid() ? m_lastSize : primaryScreenSize();
    if (expected.isEmpty() && layout && layout->monitors.size() == 1) {
        const MutterLogicalMonitor &monitor = layout->monitors.front();
        expected = monitor.transform % 2 ? monitor.mode.transposed() : monitor.mode;
    }
    const std::size_t bytes = PngReader::memoryFor(expected);
    std::future<PixelMemory> memory =
        std::async(std::launch::async, [bytes] { return PixelMemory(bytes); });
    const QDateTime callStart = QDateTime::currentDateTime();
    QElapsedTimer clock;
    clock.start();
    const QDBusReply<QDBusObjectPath> handle = bus.call(call, QDBus::Block, 10000);
    if (!handle.isValid())
        return fail(QStringLiteral("the desktop portal did not take the request (%1)")
                        .arg(handle.error().message()),
                    true);
    request.follow(handle.value().path());

    const auto timeout = m_answeredOnce ? m_options.timeout : m_options.firstTimeout;
    const std::optional<PortalRequest::Answer> answer = request.wait(timeout);
    if (!answer)
        return fail(QStringLiteral("the desktop did not answer the request for a screenshot "
                                   "within %1 s; if it asked whether applications may take "
                                   "screenshots, allow it and try again")
                        .arg(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()),
                    true);
    m_answeredOnce = true;
    if (answer->code == 1)
        return fail(QStringLiteral("the screenshot was cancelled at the desktop"), true);
    if (answer->code != 0)
        return fail(QStringLiteral("the desktop refused to let the program take screenshots; "
                                   "allow screenshots for it in the desktop's privacy or "
                                   "application settings"),
                    true);

    const qint64 answeredAt = clock.nsecsElapsed();
    const QString path =
        QUrl(answer->results.value(QStringLiteral("uri")).toString()).toLocalFile();
    const QFileInfo file(path);
    QString unreadable;
    imaging::Picture picture = PngReader::read(path, memory.get(), &unreadable);
    if (writtenSince(file, callStart))
        QFile::remove(path);
    if (picture.isNull())
        return fail(QStringLiteral("the desktop portal's picture could not be read (%1)")
                        .arg(path.isEmpty() ? QStringLiteral("no file")
                                            : path + QStringLiteral(": ") + unreadable),
                    false);
    m_lastSize = QSize(picture.width(), picture.height());
    // GNOME's portal pictures the whole desktop: keep its primary monitor, as the compositor
    // lays the monitors out. Elsewhere the picture stays as the portal gave it.
    if (layout) {
        if (const std::optional<QRect> primary = primaryMonitorInPicture(*layout, m_lastSize)) {
            qCDebug(lcPlatform) << "portal: the primary monitor is" << *primary << "of"
                                << m_lastSize;
            picture = CroppedPixels::of(picture, *primary);
        }
    }
    // Our own time on top of the portal's answer.
    qCDebug(lcPlatform, "portal: answered in %.1f ms; its picture read in %.1f ms",
            double(answeredAt) / 1e6, double(clock.nsecsElapsed() - answeredAt) / 1e6);
    return picture;
}

} // namespace platform
