#pragma once
// One request to the desktop portal: subscribes to the Response of the Request object that the
// call will create (its path follows from the connection's name and our handle token), so that
// no answer is missed, and waits for it.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <chrono>
#include <optional>

namespace platform {

class PortalRequest : public QObject
{
    Q_OBJECT

public:
    struct Answer
    {
        uint code = 0; // 0 success, 1 cancelled, 2 refused or failed
        QVariantMap results;
    };

    PortalRequest(QDBusConnection connection, const QString &token);
    ~PortalRequest() override;

    QString token() const { return m_token; }
    // Follows the request at path when the portal answered the call with another one.
    void follow(const QString &path);
    // Processes events until the answer arrives or timeout passes; nullopt on timeout, after
    // which the request is closed (a dialog it opened goes away).
    std::optional<Answer> wait(std::chrono::milliseconds timeout);

signals:
    void answered();

private slots:
    void takeResponse(uint code, const QVariantMap &results);

private:
    bool subscribe(const QString &path);
    void unsubscribe();

    QDBusConnection m_connection;
    QString m_token;
    QString m_path;
    std::optional<Answer> m_answer;
};

} // namespace platform
