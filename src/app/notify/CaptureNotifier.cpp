#include "CaptureNotifier.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTimer>
#include <QUrl>

#include <optional>
#include <utility>

namespace {

constexpr auto NotificationsService = "org.freedesktop.Notifications";
constexpr auto NotificationsPath = "/org/freedesktop/Notifications";
constexpr auto FileManagerService = "org.freedesktop.FileManager1";
constexpr auto FileManagerPath = "/org/freedesktop/FileManager1";
constexpr int PreviewSize = 256;
constexpr int CallTimeoutMs = 5000; // a service started on demand takes a moment

// The "image-data" hint: width, height, row stride, alpha, bits per sample, channels, bytes.
struct NotificationImage
{
    int width = 0;
    int height = 0;
    int rowStride = 0;
    bool hasAlpha = true;
    int bitsPerSample = 8;
    int channels = 4;
    QByteArray data;
};

QDBusArgument &operator<<(QDBusArgument &argument, const NotificationImage &image)
{
    argument.beginStructure();
    argument << image.width << image.height << image.rowStride << image.hasAlpha
             << image.bitsPerSample << image.channels << image.data;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, NotificationImage &image)
{
    argument.beginStructure();
    argument >> image.width >> image.height >> image.rowStride >> image.hasAlpha >>
        image.bitsPerSample >> image.channels >> image.data;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(NotificationImage)

namespace app {

namespace {

// The picture scaled down to fit PreviewSize, read at that size where the format allows it.
std::optional<NotificationImage> preview(const QString &path)
{
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid())
        reader.setScaledSize(size.scaled(PreviewSize, PreviewSize, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    if (image.width() > PreviewSize || image.height() > PreviewSize)
        image =
            image.scaled(PreviewSize, PreviewSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    image = image.convertToFormat(QImage::Format_RGBA8888);
    NotificationImage hint;
    hint.width = image.width();
    hint.height = image.height();
    hint.rowStride = static_cast<int>(image.bytesPerLine());
    hint.data = QByteArray(reinterpret_cast<const char *>(image.constBits()),
                           static_cast<qsizetype>(image.sizeInBytes()));
    return hint;
}

void openDetached(const QString &path)
{
    if (!QProcess::startDetached(QStringLiteral("xdg-open"), {path}))
        QProcess::startDetached(QStringLiteral("gio"), {QStringLiteral("open"), path});
}

} // namespace

CaptureNotifier::CaptureNotifier(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    qDBusRegisterMetaType<NotificationImage>();
}

QString CaptureNotifier::summaryText()
{
    return QStringLiteral("Screenshot saved");
}

QString CaptureNotifier::bodyText(const QString &path)
{
    const QFileInfo file(path);
    return QStringLiteral("%1\nin %2").arg(file.fileName(), file.absolutePath());
}

bool CaptureNotifier::notify(const QString &path)
{
    if (!m_bus.isConnected())
        return false;
    if (!m_listening) {
        m_bus.connect(QLatin1String(NotificationsService), QLatin1String(NotificationsPath),
                      QLatin1String(NotificationsService), QStringLiteral("ActionInvoked"), this,
                      SLOT(onActionInvoked(uint, QString)));
        m_bus.connect(QLatin1String(NotificationsService), QLatin1String(NotificationsPath),
                      QLatin1String(NotificationsService), QStringLiteral("NotificationClosed"),
                      this, SLOT(onNotificationClosed(uint, uint)));
        // A service that goes away closes its notifications with it.
        auto *watcher = new QDBusServiceWatcher(QLatin1String(NotificationsService), m_bus,
                                                QDBusServiceWatcher::WatchForUnregistration, this);
        connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
            if (!m_open.isEmpty()) {
                m_open.clear();
                emitAllClosedWhenDone();
            }
        });
        m_listening = true;
    }

    // A server that reads markup in the body would take a "&" or "<" of a path for it.
    QString body = bodyText(path);
    const QDBusMessage capabilities = callWithinBound(QDBusMessage::createMethodCall(
        QLatin1String(NotificationsService), QLatin1String(NotificationsPath),
        QLatin1String(NotificationsService), QStringLiteral("GetCapabilities")));
    if (capabilities.type() != QDBusMessage::ReplyMessage)
        return false; // no notification service: nothing to show
    if (capabilities.arguments().value(0).toStringList().contains(QStringLiteral("body-markup")))
        body = body.toHtmlEscaped();

    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("com.kestrelby.VistarelOmbrix"));
    if (const std::optional<NotificationImage> image = preview(path))
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(*image));
    QDBusMessage message = QDBusMessage::createMethodCall(
        QLatin1String(NotificationsService), QLatin1String(NotificationsPath),
        QLatin1String(NotificationsService), QStringLiteral("Notify"));
    message << QStringLiteral("Vistarel Ombrix") << 0u
            << QStringLiteral("com.kestrelby.VistarelOmbrix") << summaryText() << body
            << QStringList{QStringLiteral("default"), QStringLiteral("Open"),
                           QStringLiteral("open"),    QStringLiteral("Open"),
                           QStringLiteral("show"),    QStringLiteral("Show in folder")}
            << hints << -1;
    const QDBusMessage reply = callWithinBound(message);
    const QList<Early> early = std::exchange(m_early, {});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const uint id = reply.arguments().first().toUInt();
    m_open.insert(id, QFileInfo(path).absoluteFilePath());
    for (const Early &signal : early) {
        if (signal.id != id)
            continue;
        if (signal.closed)
            onNotificationClosed(id, 0);
        else
            onActionInvoked(id, signal.action);
    }
    return true;
}

QDBusMessage CaptureNotifier::callWithinBound(const QDBusMessage &message)
{
    QDBusPendingCallWatcher watcher(m_bus.asyncCall(message, CallTimeoutMs));
    if (!watcher.isFinished()) {
        QEventLoop loop;
        QTimer bound;
        bound.setSingleShot(true);
        connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
        bound.start(CallTimeoutMs + 500);
        m_waiting = true;
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        m_waiting = false;
    }
    if (!watcher.isFinished())
        return QDBusMessage::createError(QDBusError::Timeout,
                                         QStringLiteral("no answer from the notification service"));
    return watcher.reply();
}

void CaptureNotifier::onActionInvoked(uint id, const QString &action)
{
    const auto found = m_open.constFind(id);
    if (found == m_open.constEnd()) {
        if (m_waiting) // perhaps for the notification whose id has not come yet
            m_early.append({id, false, action});
        return;
    }
    if (action == QLatin1String("default") || action == QLatin1String("open"))
        openDetached(*found);
    else if (action == QLatin1String("show"))
        showInFolder(*found);
}

void CaptureNotifier::onNotificationClosed(uint id, uint)
{
    if (m_open.remove(id))
        emitAllClosedWhenDone();
    else if (m_waiting)
        m_early.append({id, true, {}});
}

void CaptureNotifier::emitAllClosedWhenDone()
{
    if (isDone())
        emit allClosed();
}

void CaptureNotifier::showInFolder(const QString &path)
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        QLatin1String(FileManagerService), QLatin1String(FileManagerPath),
        QLatin1String(FileManagerService), QStringLiteral("ShowItems"));
    message << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, CallTimeoutMs), this);
    ++m_callsUnanswered;
    const QString folder = QFileInfo(path).absolutePath();
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, folder] {
        if (watcher->isError())
            openDetached(folder); // no file manager offers it: the folder, opened
        watcher->deleteLater();
        --m_callsUnanswered;
        emitAllClosedWhenDone();
    });
}

} // namespace app
