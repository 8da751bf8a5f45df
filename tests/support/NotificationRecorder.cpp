// vo-notification-recorder [show]: a notification service and a file manager on the session bus
// (org.freedesktop.Notifications, org.freedesktop.FileManager1) that write each call they get
// to standard output, a line each: "notify|summary|body|actions|image WxH" and
// "showitems|uri...". Every notification is closed right after it is shown; with "show" its
// "Show in folder" button is pressed first. Prints "ready" once both names are taken.

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <cstdio>

namespace {

void record(const QString &line)
{
    std::printf("%s\n", qUtf8Printable(line));
    std::fflush(stdout);
}

QString imageSize(const QVariant &hint)
{
    if (!hint.canConvert<QDBusArgument>())
        return QStringLiteral("none");
    const QDBusArgument argument = hint.value<QDBusArgument>();
    int width = 0;
    int height = 0;
    argument.beginStructure();
    argument >> width >> height;
    return QStringLiteral("%1x%2").arg(width).arg(height);
}

} // namespace

class Notifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit Notifications(bool pressShow)
        : m_pressShow(pressShow)
    {
    }

public slots:
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }

    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &hints, int)
    {
        const uint id = ++m_last;
        record(QStringLiteral("notify|%1|%2|%3|image %4")
                   .arg(summary, QString(body).replace('\n', ' '), actions.join(','),
                        imageSize(hints.value(QStringLiteral("image-data")))));
        QTimer::singleShot(0, this, [this, id] {
            if (m_pressShow)
                emit ActionInvoked(id, QStringLiteral("show"));
            emit NotificationClosed(id, 2);
        });
        return id;
    }

    void CloseNotification(uint id) { emit NotificationClosed(id, 3); }

signals:
    void ActionInvoked(uint id, const QString &action);
    void NotificationClosed(uint id, uint reason);

private:
    bool m_pressShow;
    uint m_last = 0;
};

class FileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public slots:
    void ShowItems(const QStringList &uris, const QString &)
    {
        record(QStringLiteral("showitems|") + uris.join(' '));
    }
    void ShowFolders(const QStringList &uris, const QString &)
    {
        record(QStringLiteral("showfolders|") + uris.join(' '));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Notifications notifications(application.arguments().contains(QStringLiteral("show")));
    FileManager fileManager;
    const auto options = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals;
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                            options) ||
        !bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager,
                            options) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications")) ||
        !bus.registerService(QStringLiteral("org.freedesktop.FileManager1"))) {
        std::fprintf(stderr, "cannot register on the session bus\n");
        return 1;
    }
    record(QStringLiteral("ready"));
    return QCoreApplication::exec();
}

#include "NotificationRecorder.moc"
