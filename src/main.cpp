// The composition root: reads the command line, builds every part of the program and hands each
// its collaborators. Without arguments: connects the push buttons to their commands, runs the
// load step on the hidden window, makes it reachable for captures from the command line and
// shows it. With --capture: hands the capture to a running window of the user on this screen,
// or, when there is none, runs the capture command once on the saved choices, without a window.
#include "CaptureCommand.h"
#include "CaptureNotifier.h"
#include "CaptureReadiness.h"
#include "CollectingDialogs.h"
#include "CommandLine.h"
#include "DeferredDialogs.h"
#include "DesktopUrlOpener.h"
#include "EchoingDialogs.h"
#include "ErrorReporter.h"
#include "FolderBrowser.h"
#include "FolderSelection.h"
#include "GuardedApplication.h"
#include "HandOffChannel.h"
#include "HandOffClient.h"
#include "MainWindow.h"
#include "NoDisplay.h"
#include "PlatformLoader.h"
#include "QtDialogs.h"
#include "SavedChoices.h"
#include "SettingsStore.h"
#include "StartUp.h"
#include "StartUpPreload.h"
#include "TimeSeededRandomSource.h"
#include "WindowHandOff.h"

#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>

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

// The notification of a written file, kept until it is closed, and ten minutes at most.
int notifyWritten(int argc, char *argv[], const QString &path)
{
    QCoreApplication application(argc, argv);
    app::CaptureNotifier notifier;
    if (!notifier.notify(path))
        return 0;
    QObject::connect(&notifier, &app::CaptureNotifier::allClosed, &application,
                     &QCoreApplication::quit);
    QTimer::singleShot(std::chrono::minutes(10), &application, &QCoreApplication::quit);
    return QCoreApplication::exec();
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
int captureAlone(int &argc, char **argv, QString &writtenPath)
{
    startup::SetAppTitle(); // the caption of the program's message boxes
    app::SettingsStore settings(app::SettingsStore::defaultFilePath());
    ui::SavedChoices choices(settings);
    const bool guiFirst = choices.namingMode() == ui::NamingMode::AskedName || captureNeedsGui();

    app::QtDialogs shown;
    startup::UnshownDialogs unshown;
    std::unique_ptr<QCoreApplication> application;
    if (guiFirst) {
        const startup::NoDisplayExit noDisplay;
        application = std::make_unique<app::GuardedApplication>(argc, argv, shown);
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    // On a platform that shows nothing, the prompt would wait for ever: it is taken as Cancel.
    app::EchoingDialogs echoing(
        guiFirst && startup::showsNoWindows() ? static_cast<app::Dialogs &>(unshown) : shown);
    app::DeferredDialogs deferred;
    app::Dialogs &dialogs = guiFirst ? static_cast<app::Dialogs &>(echoing) : deferred;

    int status = 1;
    {
        app::ErrorReporter reporter(dialogs);
        const platform::Desktop desktop = platform::loadDesktop(platform::CaptureUse::Once);
        ui::CaptureCommand capture(choices, *desktop.capture, desktop.settler.get(), dialogs,
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
        std::optional<startup::NoDisplayExit> noDisplay(std::in_place);
        app::GuardedApplication gui(argc, argv, shown);
        noDisplay.reset();
        if (!startup::showsNoWindows())
            deferred.replay(shown);
    }
    if (status != 0)
        std::fprintf(stderr, "vistarel-ombrix: no picture was written\n");
    return status;
}

// The capture of --capture: handed to a running window of this user on this screen, which
// steps aside so that the picture never shows it; alone when there is none. A window that
// cannot step aside stops it.
int captureFromCommandLine(int &argc, char **argv, bool notify)
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
        app::QtDialogs shown;
        startup::UnshownDialogs unshown;
        std::optional<startup::NoDisplayExit> noDisplay(std::in_place);
        app::GuardedApplication application(argc, argv, shown);
        noDisplay.reset();
        app::EchoingDialogs echoing(startup::showsNoWindows() ? static_cast<app::Dialogs &>(unshown)
                                                              : shown);
        echoing.showMessage(
            QGuiApplication::applicationDisplayName(),
            QLatin1String(ui::CaptureCommand::NoCaptureText).arg(QLatin1String(NotAnsweringReason)),
            app::Dialogs::Icon::Warning);
        std::fprintf(stderr, "vistarel-ombrix: no picture was written\n");
        return 1;
    }
    case app::HandOffResult::Outcome::NoWindow:
        break;
    }
    QString written;
    if (captureAlone(argc, argv, written) != 0)
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
        return notifyWritten(argc, argv, commandLine.text);
    case startup::CommandLine::Action::Window:
    case startup::CommandLine::Action::Capture:
        break;
    }

    if (commandLine.action == startup::CommandLine::Action::Capture)
        exitNow(captureFromCommandLine(argc, argv, commandLine.notify));

    // Fonts, the settings reader's scratch folders and the icon images are prepared on a second
    // core while the toolkit connects to the display.
    std::optional<startup::StartUpPreload> preload;
    if (commandLine.action == startup::CommandLine::Action::Window)
        preload.emplace(startup::IconImagePaths());

    app::QtDialogs dialogs;
    auto noDisplay = std::make_optional<startup::NoDisplayExit>();
    app::GuardedApplication application(argc, argv, dialogs);
    noDisplay.reset();
    QGuiApplication::setDesktopFileName(QStringLiteral("com.kestrelby.VistarelOmbrix"));
    app::SettingsStore settings(app::SettingsStore::defaultFilePath());
    app::CollectingDialogs windowDialogs(dialogs);
    app::ErrorReporter reporter(windowDialogs);
    app::TimeSeededRandomSource random;
    app::DesktopUrlOpener urlOpener;
    const platform::Desktop desktop = platform::loadDesktop();

    preload->waitForFontConfiguration(); // the window's constructor lays out its first texts
    ui::MainWindow window(settings);
    window.failureRouting().setUntrappedFailures(&application.untrappedFailures());
    dialogs.setParentWindow(&window);
    ui::CaptureCommand capture(window, *desktop.capture, desktop.settler.get(), windowDialogs,
                               reporter);
    // Captures from the command line, handed over: notified like the command line's own.
    app::CaptureNotifier notifier;
    ui::WindowHandOff handOff(window, capture, windowDialogs, desktop.capture.get(),
                              desktop.settler.get(),
                              [&notifier](const QString &path) { notifier.notify(path); });
    ui::FolderBrowser browser(dialogs);
    ui::FolderSelection folderSelection(window, browser, reporter);
    QObject::connect(window.captureButton(), &QPushButton::clicked, &window,
                     [&capture] { capture.PushButton1_Click(); });
    QObject::connect(window.browseButton(), &QPushButton::clicked, &window,
                     [&folderSelection] { folderSelection.PushButton2_Click(); });
    // The capture's memory is prepared when a capture is near, and freed when none has been for
    // a while.
    ui::CaptureReadiness readiness(window, *window.captureButton(), *desktop.capture,
                                   [&capture] { return capture.capturing(); });

    startup::StartUp startUp(window, settings, reporter, random, urlOpener);
    startUp.setIconImageSource([&preload](const QString &path) { return preload->image(path); });
    startUp.Form_Load();
    window.show();
    handOff.listen();
    return QApplication::exec();
}
