// The composition root of the executable, which runs on Qt Core: reads the command line, and
// loads the program's GUI part (GuiModule; see GuiPartMain.cpp) for the window, the notification
// and the boxes. With --capture: hands the capture to a running window of the user on this
// screen, or, when there is none, runs the capture command once on the saved choices, without a
// window, and without the GUI unless the name prompt, the desktop or a box needs it.
#include "AppTitle.h"
#include "CaptureCommand.h"
#include "CommandLine.h"
#include "DeferredDialogs.h"
#include "ErrorReporter.h"
#include "GuiModule.h"
#include "HandOffChannel.h"
#include "HandOffClient.h"
#include "PlatformLoader.h"
#include "SavedChoices.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <spawn.h>
#include <unistd.h>

extern char **environ;

namespace {

// Why a capture from the command line stops when a window of the program is there and does
// not take it.
constexpr auto NotAnsweringReason =
    "a window of the program is open and cannot step aside (a box of it is open, or it does not "
    "answer)";

// Starts this program again, apart from the caller (its own session, no standard streams), to
// show the notification of path and stay for its buttons; a caller that reads the output to
// its end does not wait for it. Only when there is a session bus to reach a notification
// service on.
void notifyDetached(const QString &path)
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        !QFileInfo::exists(QFile::decodeName(qgetenv("XDG_RUNTIME_DIR")) + QLatin1String("/bus")))
        return;
    posix_spawn_file_actions_t streams;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&streams);
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        posix_spawn_file_actions_addopen(&streams, fd, "/dev/null", O_RDWR, 0);
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return;
    const QByteArray program(self, length);
    const QByteArray file = QFile::encodeName(path);
    char option[] = "--notify-written";
    char *arguments[] = {const_cast<char *>(program.constData()), option,
                         const_cast<char *>(file.constData()), nullptr};
    pid_t child = 0;
    posix_spawn(&child, program.constData(), &streams, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&streams);
}

// Prints the written file's path; false, with a message on standard error, when standard output
// cannot take it: a caller that never got the path has no picture of its own, so that is no
// success (the picture stays).
bool printPath(const QString &path)
{
    if (std::printf("%s\n", qUtf8Printable(path)) >= 0 && std::fflush(stdout) == 0)
        return true;
    std::fprintf(stderr,
                 "vistarel-ombrix: the picture's path could not be written to standard output "
                 "(%s); the picture is %s\n",
                 std::strerror(errno), qUtf8Printable(path));
    return false;
}

// Whether the capture route needs the toolkit's GUI before it captures: KWin's interface is
// asked for the toolkit's primary screen.
bool captureNeedsGui()
{
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("KDE"));
}

// One capture with the saved choices, on no window: the written file's full path on standard
// output and status 0, or every message on standard error as well as in its box, and status 1.
// Starts with Qt Core only: the GUI comes up before the capture for the name prompt of
// "Specify filename" (or a route that needs it), otherwise only after it, for a box.
int captureAlone(int &argc, char **argv, startup::GuiModule &gui, QString &writtenPath)
{
    startup::SetAppTitle(); // the caption of the program's message boxes
    app::SettingsStore settings(app::SettingsStore::defaultFilePath());
    ui::SavedChoices choices(settings);
    const bool guiFirst = choices.namingMode() == ui::NamingMode::AskedName || captureNeedsGui();

    std::unique_ptr<QCoreApplication> application;
    app::DeferredDialogs deferred;
    app::Dialogs *dialogs = &deferred;
    platform::DesktopParts parts;
    if (guiFirst) {
        dialogs = &gui.part().startGui(argc, argv).echoed;
        parts = gui.part().desktopParts();
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
        // No window of the program is on the screen: no settler, no toolkit. The desktops'
        // interfaces are in the GUI part, loaded only for a session that needs one.
        parts.busBackend = [&gui](platform::BusRoute route) {
            return gui.part().desktopParts().busBackend(route);
        };
    }

    int status = 1;
    {
        app::ErrorReporter reporter(*dialogs);
        const platform::Desktop desktop = platform::loadDesktop(platform::CaptureUse::Once, parts);
        ui::CaptureCommand capture(choices, *desktop.capture, desktop.settler.get(), *dialogs,
                                   reporter);
        capture.PushButton1_Click();
        const QFileInfo written(capture.writtenPath());
        if (!capture.writtenPath().isEmpty() && written.isFile()) {
            writtenPath = written.absoluteFilePath();
            status = 0;
        }
    }
    // The boxes, once the capture is done. Their texts are on standard error already: without
    // a display, or on a platform that shows nothing, no box is waited for.
    const bool displayKnown = !qEnvironmentVariableIsEmpty("DISPLAY") ||
                              !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
                              !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (deferred.hasMessages() && displayKnown) {
        application.reset();
        deferred.replay(gui.part().startGui(argc, argv).shown);
    }
    if (status != 0)
        std::fprintf(stderr, "vistarel-ombrix: no picture was written\n");
    return status;
}

// The capture of --capture: handed to a running window of this user on this screen, which
// steps aside so that the picture never shows it; alone when there is none. A window that
// cannot step aside stops it.
int captureFromCommandLine(int &argc, char **argv, startup::GuiModule &gui, bool notify)
{
    const app::HandOffResult handedOff = app::handOffCapture(notify, app::handoff::AnswerTimeoutMs);
    switch (handedOff.outcome) {
    case app::HandOffResult::Outcome::Written:
        return printPath(handedOff.path) ? 0 : 1;
    case app::HandOffResult::Outcome::NotWritten:
        // The window showed its boxes; their texts go to standard error here.
        for (const QString &message : handedOff.messages)
            std::fprintf(stderr, "%s\n", qUtf8Printable(message));
        std::fprintf(stderr, "vistarel-ombrix: no picture was written\n");
        return 1;
    case app::HandOffResult::Outcome::NotAnswering: {
        startup::SetAppTitle();
        gui.part()
            .startGui(argc, argv)
            .echoed.showMessage(QCoreApplication::applicationName(),
                                QLatin1String(ui::CaptureCommand::NoCaptureText)
                                    .arg(QLatin1String(NotAnsweringReason)),
                                app::Dialogs::Icon::Warning);
        std::fprintf(stderr, "vistarel-ombrix: no picture was written\n");
        return 1;
    }
    case app::HandOffResult::Outcome::NoWindow:
        break;
    }
    QString written;
    if (captureAlone(argc, argv, gui, written) != 0)
        return 1;
    if (!printPath(written))
        return 1;
    if (notify)
        notifyDetached(written);
    return 0;
}

// Ends a capture from the command line at once: the file is in place and nothing is left to
// save, while tearing Qt down would first load the whole font configuration (its font
// database does so on destruction when no text was ever drawn), some 40 ms for nothing.
[[noreturn]] void exitNow(int status)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

} // namespace

int main(int argc, char *argv[])
{
    // Under a file-size limit (ulimit -f) a write past it would kill the process with SIGXFSZ;
    // ignored, the write fails with EFBIG, and the save reports it and removes its temporary
    // file like any other failed write.
    std::signal(SIGXFSZ, SIG_IGN);
    // A standard stream that was closed (--capture >&-) stays taken by /dev/null, read-only: a
    // write to it fails, as it should, and no file or connection opened later gets its number.
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(stream, F_GETFD) == -1 && errno == EBADF) {
            const int placeholder = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (placeholder >= 0 && placeholder != stream) {
                ::dup2(placeholder, stream);
                ::close(placeholder);
            }
        }
    }

    startup::GuiModule gui;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const startup::CommandLine commandLine = startup::CommandLine::parse(arguments);
    switch (commandLine.action) {
    case startup::CommandLine::Action::Help:
    case startup::CommandLine::Action::Version:
        std::fputs(qUtf8Printable(commandLine.text), stdout);
        return 0;
    case startup::CommandLine::Action::UsageError:
        std::fputs(qUtf8Printable(commandLine.text), stderr);
        return 2;
    case startup::CommandLine::Action::NotifyWritten:
        return gui.part().notifyWritten(argc, argv, commandLine.text);
    case startup::CommandLine::Action::Window:
    case startup::CommandLine::Action::Capture:
        break;
    }

    if (commandLine.action == startup::CommandLine::Action::Capture)
        exitNow(captureFromCommandLine(argc, argv, gui, commandLine.notify));
    return gui.part().runWindow(argc, argv);
}
