// The composition root: reads the command line, builds every part of the program and hands each
// its collaborators. Without arguments: connects the push buttons to their commands, runs the
// load step on the hidden window and shows it. With --capture: runs the capture command once on
// the saved choices, without the window.
#include "CaptureCommand.h"
#include "CaptureReadiness.h"
#include "CommandLine.h"
#include "DesktopUrlOpener.h"
#include "EchoingDialogs.h"
#include "ErrorReporter.h"
#include "FolderBrowser.h"
#include "FolderSelection.h"
#include "GuardedApplication.h"
#include "MainWindow.h"
#include "NoDisplay.h"
#include "PlatformLoader.h"
#include "QtDialogs.h"
#include "SavedChoices.h"
#include "SettingsStore.h"
#include "StartUp.h"
#include "StartUpPreload.h"
#include "TimeSeededRandomSource.h"

#include <QFileInfo>
#include <QPushButton>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

// One capture with the saved choices: the written file's full path on standard output and
// status 0, or every message on standard error as well as in its box, and status 1.
int captureOnce(app::QtDialogs &dialogs)
{
    startup::SetAppTitle(); // the caption of the program's message boxes
    startup::UnshownDialogs unshown;
    app::EchoingDialogs echoing(startup::showsNoWindows() ? static_cast<app::Dialogs &>(unshown)
                                                          : dialogs);
    app::SettingsStore settings(app::SettingsStore::defaultFilePath());
    app::ErrorReporter reporter(echoing);
    const platform::Desktop desktop = platform::loadDesktop(platform::CaptureUse::Once);
    ui::SavedChoices choices(settings);
    ui::CaptureCommand capture(choices, *desktop.capture, desktop.settler.get(), echoing, reporter);
    capture.PushButton1_Click();

    const QFileInfo written(capture.writtenPath());
    if (capture.writtenPath().isEmpty() || !written.isFile()) {
        std::fprintf(stderr, "vistarel-ombrix: no picture was written\n");
        return 1;
    }
    // A caller that never got the path has no picture of its own: that is no success.
    const QString path = written.absoluteFilePath();
    if (std::printf("%s\n", qUtf8Printable(path)) < 0 || std::fflush(stdout) != 0) {
        std::fprintf(stderr,
                     "vistarel-ombrix: the picture's path could not be written to standard "
                     "output (%s); the picture is %s\n",
                     std::strerror(errno), qUtf8Printable(path));
        return 1;
    }
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
    case startup::CommandLine::Action::Window:
    case startup::CommandLine::Action::Capture:
        break;
    }

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
    if (commandLine.action == startup::CommandLine::Action::Capture)
        exitNow(captureOnce(dialogs));

    app::SettingsStore settings(app::SettingsStore::defaultFilePath());
    app::ErrorReporter reporter(dialogs);
    app::TimeSeededRandomSource random;
    app::DesktopUrlOpener urlOpener;
    const platform::Desktop desktop = platform::loadDesktop();

    preload->waitForFontConfiguration(); // the window's constructor lays out its first texts
    ui::MainWindow window(settings);
    window.failureRouting().setUntrappedFailures(&application.untrappedFailures());
    dialogs.setParentWindow(&window);
    ui::CaptureCommand capture(window, *desktop.capture, desktop.settler.get(), dialogs, reporter);
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
    return QApplication::exec();
}
