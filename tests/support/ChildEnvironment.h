#pragma once
// The environment for a Qt program that a test starts: this process's, without the mark that
// Qt's test library puts on its own process (QT_QTESTLIB_RUNNING). The programs a test starts
// are not autotests, but Qt's Wayland client takes the mark as theirs and treats their exposes
// the way it does a test's: with Qt 6.11 on sway 1.12, such windows showed black to grim
// although sway mapped and showed them, and they never came right.

#include <QProcessEnvironment>

namespace testsupport {

inline QProcessEnvironment childEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QTESTLIB_RUNNING"));
    return environment;
}

} // namespace testsupport
