#pragma once
// The program's command line: no arguments opens the window; --capture captures once with the
// saved choices and exits; --help and --version print and exit; anything else is a usage error
// (exit status 2). Parsed before the application object exists, so that --help and --version
// work without a display.

#include <QString>
#include <QStringList>

namespace startup {

struct CommandLine
{
    enum class Action { Window, Capture, Help, Version, UsageError };

    Action action = Action::Window;
    QString text; // what to print for Help, Version and UsageError

    static CommandLine parse(const QStringList &arguments);
};

} // namespace startup
