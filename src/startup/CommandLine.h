#pragma once
// The program's command line: no arguments opens the window; --capture captures once with the
// saved choices and exits (--no-notify: without the notification of the written file);
// --help and --version print and exit; anything else is a usage error (exit status 2). The
// hidden --notify-written <path> shows the notification of a file written by a capture and
// stays for its buttons (the capture starts it and does not wait for it). Parsed before the
// application object exists, so that --help and --version work without a display.

#include <QString>
#include <QStringList>

namespace startup {

struct CommandLine
{
    enum class Action { Window, Capture, NotifyWritten, Help, Version, UsageError };

    Action action = Action::Window;
    QString text;       // what to print for Help, Version and UsageError; the path to notify of
    bool notify = true; // Capture: show the notification of the written file

    static CommandLine parse(const QStringList &arguments);
};

} // namespace startup
