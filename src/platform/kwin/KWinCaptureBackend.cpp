#include "KWinCaptureBackend.h"

#include "PipeReception.h"
#include "PipedPixels.h"
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

#include <fcntl.h>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

namespace platform {

namespace {

constexpr auto Service = "org.kde.KWin.ScreenShot2";
constexpr auto ObjectPath = "/org/kde/KWin/ScreenShot2";
constexpr auto Interface = "org.kde.KWin.ScreenShot2";
constexpr int CallTimeoutMs = 10000;

// The most KWin may write for one screen: 16384 x 16384 pixels of 4 bytes. The memory for it is
// reserved, not taken: only the pages the pixels fill are.
constexpr std::size_t PipeLimit = std::size_t(1) << 30;

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

void KWinCaptureBackend::endCapture()
{
    if (m_fallback)
        m_fallback->endCapture();
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
    // A pipe of 1 MiB, the most a user's process may ask for by default, instead of 64 KiB:
    // KWin's 8 MB then pass in a few writes and reads, not in 128 of each. Without it, the
    // pipe stays as it is.
    fcntl(pipe[0], F_SETPIPE_SZ, 1 << 20);
    const QSize expected = m_lastSize.isValid() ? m_lastSize : primaryScreenSize();
    const auto expectedBytes = std::size_t(std::max(0, expected.width())) * 4 *
                               std::size_t(std::max(0, expected.height()));
    QElapsedTimer clock;
    clock.start();
    // Read from now on: KWin may write before it answers. Logged as the pixels come to an end,
    // which may be after the picture is handed out.
    auto reception = std::make_shared<const PipeReception>(
        pipe[0], expectedBytes, PipeLimit, CallTimeoutMs,
        [clock](std::optional<std::size_t> length) {
            qCDebug(lcPlatform, "KWin: its pixels all in %.1f ms after the call (%zu bytes)",
                    double(clock.nsecsElapsed()) / 1e6, length.value_or(0));
        });

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
    qCDebug(lcPlatform, "KWin: answered in %.1f ms", double(clock.nsecsElapsed()) / 1e6);

    if (reply.type() != QDBusMessage::ReplyMessage) {
        const QString error = reply.errorName();
        reception.reset(); // waits for KWin to let go of the pipe
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
    const bool known = results.value(QStringLiteral("type")).toString() == QLatin1String("raw") &&
                       width > 0 && height > 0 && stride >= std::size_t(width) * 4 &&
                       stride * std::size_t(height) <= PipeLimit;
    if (!known)
        return fail(QStringLiteral("KWin's screenshot came in an unknown form"), true);
    m_lastSize = QSize(width, height);

    // KWin's images are 32-bit (A)RGB; opaque, as the screen is, their pixels are XRGB as they
    // are, and the picture goes on while KWin still writes them: an incomplete one fails its
    // save. Any other format is converted once all of it is in.
    if (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
        format == QImage::Format_ARGB32_Premultiplied)
        return imaging::Picture(
            std::make_shared<const PipedPixels>(width, height, stride, std::move(reception)));
    if (reception->waitForEnd() != stride * std::size_t(height))
        return fail(QStringLiteral("KWin's screenshot came incomplete"),
                    true); // another attempt would wait as long again
    const QImage image(reception->data(), width, height, qsizetype(stride), format);
    const QImage converted = image.convertToFormat(QImage::Format_RGB32);
    if (converted.isNull())
        return fail(QStringLiteral("KWin's screenshot came in an unknown form"), false);
    return imaging::Picture::fromImage(converted);
}

} // namespace platform
