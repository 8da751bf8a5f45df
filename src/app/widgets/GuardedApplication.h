#pragma once
// The program's QApplication: the boundary of the event loop. notify() catches every exception
// that an event handler lets through, so that none ever unwinds into Qt's event loop, and hands
// it to UntrappedFailures, which reports it without flooding the user (a settings write that
// fails on every keystroke gives one box, not one per key). Handlers without a trap
// of their own should run their work through untrappedFailures().run() so that a failure is
// caught before it crosses Qt's own code (signal emission, widget internals); notify() is the
// last net for anything that still gets through. The dialogs must outlive the application.

#include "Dialogs.h"
#include "UntrappedFailures.h"

#include <QApplication>

namespace app {

class GuardedApplication : public QApplication
{
public:
    GuardedApplication(int &argc, char **argv, Dialogs &dialogs);

    bool notify(QObject *receiver, QEvent *event) override;

    UntrappedFailures &untrappedFailures() { return m_failures; }

    // How a failure at the boundary names its place: the receiver's object name (its class name
    // when it has none) and the event's type, e.g. "Text1 (KeyPress)".
    static QString placeOf(const QString &objectName, const char *className, int eventType);

private:
    UntrappedFailures m_failures;
};

} // namespace app
