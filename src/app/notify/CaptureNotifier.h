#pragma once
// The notification of a file written by a capture from the command line, through the desktop's
// notification service (org.freedesktop.Notifications on the session bus): the file's name and
// folder, a small preview, and the buttons "Open" (the desktop's default viewer, through
// xdg-open; clicking the notification does the same) and "Show in folder" (the file manager's
// org.freedesktop.FileManager1.ShowItems, or the folder opened when no file manager offers it).
// Without a session bus or a notification service nothing is shown, and that is no failure.
// The buttons work while the notifier lives: a short-lived process keeps it until allClosed().
// Qt Core, Qt D-Bus and QImage; needs a QCoreApplication.

#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

namespace app {

class CaptureNotifier : public QObject
{
    Q_OBJECT

public:
    explicit CaptureNotifier(const QDBusConnection &bus = QDBusConnection::sessionBus(),
                             QObject *parent = nullptr);

    // Shows the notification of path; false when no notification service took it.
    bool notify(const QString &path);

    // The notifications shown and not yet closed.
    int openCount() const { return static_cast<int>(m_open.size()); }

    // Whether nothing is left to do: every notification closed and every call its buttons made
    // answered. A call is sent from the bus's own thread, so a process that ended before its
    // answer could end before the call had left.
    bool isDone() const { return m_open.isEmpty() && m_callsUnanswered == 0; }

    // What notify() sends, for tests: the summary and the plain body.
    static QString summaryText();
    static QString bodyText(const QString &path);

signals:
    // Every notification closed and nothing left to do for it (isDone()).
    void allClosed();

private slots:
    void onActionInvoked(uint id, const QString &action);
    void onNotificationClosed(uint id, uint reason);

private:
    // The answer to a call, or an error after the call's bound: a blocking call on a bus that
    // went away was seen waiting for good. Other events (not the user's) go on meanwhile.
    QDBusMessage callWithinBound(const QDBusMessage &message);
    void showInFolder(const QString &path);
    void emitAllClosedWhenDone();

    // A button pressed, or a notification closed, while its id was still on its way.
    struct Early
    {
        uint id;
        bool closed;
        QString action;
    };

    QDBusConnection m_bus;
    QHash<uint, QString> m_open; // notification id -> file
    QList<Early> m_early;
    int m_callsUnanswered = 0;
    bool m_listening = false;
    bool m_waiting = false; // in callWithinBound()
};

} // namespace app
