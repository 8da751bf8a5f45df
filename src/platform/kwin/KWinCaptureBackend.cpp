#include "KWinCaptureBackend.h"

#include "MappedPixels.h"
#include "PixelMemory.h"
#include "PrimaryScreenSize.h"
#include "ToolkitDisplay.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QLoggingCategory>
#include <QScreen>

#include <cerrno>
#include <cstring>
#include <future>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

namespace platform {

namespace {

constexpr auto Service = "org.kde.KWin.ScreenShot2";
constexpr auto ObjectPath = "/org/kde/KWin/ScreenShot2";
constexpr auto Interface = "org.kde.KWin.ScreenShot2";
constexpr int CallTimeoutMs = 10000;

// What came through the pipe: length bytes at the start of memory.
struct Received
{
    PixelMemory memory;
    std::size_t length = 0;
};

// Reads the pipe until KWin closes it, into memory mapped (and its pages written) for the
// expected size while KWin still renders the screen; grows when more comes. Gives up when
// nothing arrives for the call's time-out.
Received readAll(int fd, std::size_t expected)
{
    Received received{PixelMemory(expected), 0};
    for (;;) {
        if (received.length == received.memory.size()) {
            PixelMemory larger(std::max<std::size_t>(2 * received.memory.size(), 1 << 20));
            if (!larger.data())
                return {};
            if (received.length)
                std::memcpy(larger.data(), received.memory.data(), received.length);
            received.memory = std::move(larger);
        }
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, CallTimeoutMs) <= 0)
            return {};
        const ssize_t got = read(fd, received.memory.data() + received.length,
                                 received.memory.size() - received.length);
        if (got == 0)
            return received;
        if (got < 0 && errno != EINTR)
            return {};
        if (got > 0)
            received.length += std::size_t(got);
    }
}

} // namespace

KWinCaptureBackend::KWinCaptureBackend(std::unique_ptr<CaptureBackend> fallback)
    : m_fallback(std::move(fallback))
{
}

bool KWinCaptureBackend::isAvailable()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(QLatin1String(Service)).value();
}

QString KWinCaptureBackend::failureReason() const
{
    return m_refused && m_fallback ? m_fallback->failureReason() : m_failureReason;
}

bool KWinCaptureBackend::failureIsFinal() const
{
    return m_refused && m_fallback ? m_fallback->failureIsFinal() : m_failureIsFinal;
}

imaging::Picture KWinCaptureBackend::fail(const QString &reason, bool final)
{
    qCDebug(lcPlatform) << "KWin capture failed:" << reason;
    m_failureReason = reason;
    m_failureIsFinal = final;
    return {};
}

// The desktop paints its screenshot from what it has processed when the request arrives on
// the session bus, which does not wait for the toolkit's Wayland connection: the unmap of a
// hidden window must have been processed first.
void KWinCaptureBackend::sync()
{
    roundTripToolkitDisplay();
}

imaging::Picture KWinCaptureBackend::captureScreen()
{
    if (m_refused && m_fallback)
        return m_fallback->captureScreen();
    m_failureReason.clear();
    m_failureIsFinal = false;
    const QScreen *primary = QGuiApplication::primaryScreen();
    return capture(primary ? primary->name() : QString());
}

// The named screen (CaptureScreen), or the active one (CaptureActiveScreen) when the name is
// empty or not KWin's (a program on Xwayland knows its screens by X's names).
imaging::Picture KWinCaptureBackend::capture(const QString &screen)
{
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0)
        return fail(QStringLiteral("no pipe for the screenshot (%1)")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))),
                    false);
    const QSize expected = m_lastSize.isValid() ? m_lastSize : primaryScreenSize();
    const auto expectedBytes = std::size_t(std::max(0, expected.width())) * 4 *
                               std::size_t(std::max(0, expected.height()));
    std::future<Received> reading = std::async(std::launch::async, [fd = pipe[0], expectedBytes] {
        Received received = readAll(fd, expectedBytes);
        close(fd);
        return received;
    });

    QElapsedTimer clock;
    clock.start();
    // The pipe's end for KWin lives only in the message, which goes before the reading waits
    // for the end of the pipe: KWin's copy is then the last one.
    const QDBusMessage reply = [&] {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QLatin1String(Service), QLatin1String(ObjectPath), QLatin1String(Interface),
            screen.isEmpty() ? QStringLiteral("CaptureActiveScreen")
                             : QStringLiteral("CaptureScreen"));
        if (!screen.isEmpty())
            call << screen;
        const QVariantMap options{{QStringLiteral("native-resolution"), true},
                                  {QStringLiteral("include-cursor"), false}};
        call << options << QVariant::fromValue(QDBusUnixFileDescriptor(pipe[1]));
        close(pipe[1]);
        return QDBusConnection::sessionBus().call(call, QDBus::Block, CallTimeoutMs);
    }();
    const qint64 answeredAt = clock.nsecsElapsed();

    if (reply.type() != QDBusMessage::ReplyMessage) {
        const QString error = reply.errorName();
        reading.wait();
        if (error.endsWith(QLatin1String("NoAuthorized"))) {
            m_refused = true;
            qCDebug(lcPlatform) << "KWin does not authorise this program to take screenshots "
                                   "(no installed desktop entry for it names the interface)"
                                << (m_fallback ? "; the desktop portal takes over" : "");
            if (m_fallback)
                return m_fallback->captureScreen();
            return fail(QStringLiteral("KWin does not let the program take screenshots; install "
                                       "it with its desktop entry"),
                        true);
        }
        if (error.endsWith(QLatin1String("InvalidScreen")) && !screen.isEmpty())
            return capture(QString());
        return fail(
            QStringLiteral("KWin could not take the screenshot (%1)").arg(reply.errorMessage()),
            false);
    }

    const QVariantMap results = qdbus_cast<QVariantMap>(reply.arguments().value(0));
    const int width = results.value(QStringLiteral("width")).toInt();
    const int height = results.value(QStringLiteral("height")).toInt();
    const std::size_t stride = results.value(QStringLiteral("stride")).toUInt();
    const auto format = QImage::Format(results.value(QStringLiteral("format")).toInt());
    Received received = reading.get();
    if (results.value(QStringLiteral("type")).toString() != QLatin1String("raw") || width <= 0 ||
        height <= 0 || stride < std::size_t(width) * 4 ||
        received.length != stride * std::size_t(height))
        return fail(QStringLiteral("KWin's screenshot came incomplete or in an unknown form"),
                    true); // another attempt would wait as long again
    m_lastSize = QSize(width, height);
    qCDebug(lcPlatform, "KWin: answered in %.1f ms; its pixels all in %.1f ms after that",
            double(answeredAt) / 1e6, double(clock.nsecsElapsed() - answeredAt) / 1e6);

    // KWin's images are 32-bit (A)RGB; opaque, as the screen is, their pixels are XRGB as they
    // are. Any other format is converted.
    if (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
        format == QImage::Format_ARGB32_Premultiplied)
        return imaging::Picture(std::make_shared<const MappedPixels>(width, height, stride,
                                                                     std::move(received.memory)));
    const QImage image(received.memory.data(), width, height, qsizetype(stride), format);
    const QImage converted = image.convertToFormat(QImage::Format_RGB32);
    if (converted.isNull())
        return fail(QStringLiteral("KWin's screenshot came in an unknown form"), false);
    return imaging::Picture::fromImage(converted);
}

} // namespace platform
