#include "GuardedApplication.h"

#include <QEvent>
#include <QMetaEnum>

namespace app {

GuardedApplication::GuardedApplication(int &argc, char **argv, Dialogs &dialogs)
    : QApplication(argc, argv)
    , m_failures(dialogs)
{
}

QString GuardedApplication::placeOf(const QString &objectName, const char *className, int eventType)
{
    const QString object = !objectName.isEmpty() ? objectName
                           : className           ? QString::fromLatin1(className)
                                                 : QStringLiteral("?");
    const char *type = QMetaEnum::fromType<QEvent::Type>().valueToKey(eventType);
    return object + QStringLiteral(" (") +
           (type ? QString::fromLatin1(type) : QString::number(eventType)) + u')';
}

bool GuardedApplication::notify(QObject *receiver, QEvent *event)
{
    // Taken before delivery: the receiver may be gone when a failure comes back.
    const QString objectName = receiver ? receiver->objectName() : QString();
    const char *className = receiver ? receiver->metaObject()->className() : nullptr;
    const int eventType = event ? int(event->type()) : 0;
    // An event that goes through says nothing about the handler that failed (a key that moves
    // the cursor runs no change handler), so only time lets such a failure be shown again.
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        m_failures.reportCurrent(placeOf(objectName, className, eventType));
        return false;
    }
}

} // namespace app
