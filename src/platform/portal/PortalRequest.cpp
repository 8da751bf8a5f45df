#include "PortalRequest.h"

#include <QDBusMessage>
#include <QEventLoop>
#include <QTimer>

namespace platform {

namespace {

constexpr auto Service = "org.freedesktop.portal.Desktop";
constexpr auto RequestInterface = "org.freedesktop.portal.Request";

// /org/freedesktop/portal/desktop/request/SENDER/TOKEN, SENDER being the connection's unique
// name without its ':' and with '_' for every '.'.
QString requestPath(const QDBusConnection &connection, const QString &token)
{
    QString sender = connection.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

} // namespace

PortalRequest::PortalRequest(QDBusConnection connection, const QString &token)
    : m_connection(std::move(connection))
    , m_token(token)
{
    subscribe(requestPath(m_connection, token));
}

PortalRequest::~PortalRequest()
{
    unsubscribe();
}

bool PortalRequest::subscribe(const QString &path)
{
    m_path = path;
    return m_connection.connect(QLatin1String(Service), path, QLatin1String(RequestInterface),
                                QStringLiteral("Response"), this,
                                SLOT(takeResponse(uint, QVariantMap)));
}

void PortalRequest::unsubscribe()
{
    if (!m_path.isEmpty())
        m_connection.disconnect(QLatin1String(Service), m_path, QLatin1String(RequestInterface),
                                QStringLiteral("Response"), this,
                                SLOT(takeResponse(uint, QVariantMap)));
    m_path.clear();
}

void PortalRequest::follow(const QString &path)
{
    if (path == m_path)
        return;
    unsubscribe();
    subscribe(path);
}

void PortalRequest::takeResponse(uint code, const QVariantMap &results)
{
    m_answer = Answer{code, results};
    emit answered();
}

std::optional<PortalRequest::Answer> PortalRequest::wait(std::chrono::milliseconds timeout)
{
    if (!m_answer) {
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(this, &PortalRequest::answered, &loop, &QEventLoop::quit);
        deadline.start(timeout);
        loop.exec();
    }
    if (!m_answer && !m_path.isEmpty()) {
        m_connection.call(QDBusMessage::createMethodCall(QLatin1String(Service), m_path,
                                                         QLatin1String(RequestInterface),
                                                         QStringLiteral("Close")),
                          QDBus::Block, 2000);
    }
    return m_answer;
}

} // namespace platform
