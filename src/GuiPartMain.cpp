// The composition root of the program's GUI part (the library vistarel-ombrix-gui, loaded by the
// executable when it needs it): the main window with its push buttons connected to their
// commands, the load step run on the hidden window, reachable for captures from the command line
// and shown; the notification of a file written by a capture from the command line; and the GUI
// a capture from the command line starts for its boxes.
#include "CaptureCommand.h"
#include "CaptureNotifier.h"
#include "CaptureReadiness.h"
#include "CollectingDialogs.h"
#include "DesktopUrlOpener.h"
#include "EchoingDialogs.h"
#include "ErrorReporter.h"
#include "FolderBrowser.h"
#include "FolderSelection.h"
#include "GuardedApplication.h"
#include "GuiPart.h"
#include "MainWindow.h"
#include "NoDisplay.h"
#include "PlatformLoader.h"
#include "QtDialogs.h"
#include "SettingsStore.h"
#include "StartUp.h"
#include "StartUpPreload.h"
#include "TimeSeededRandomSource.h"
#include "WindowHandOff.h"

#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

#include <unistd.h>

namespace {

// The notification of a written file, kept until it is closed, and ten minutes at most.
int notifyWritten(int &argc, char **argv, const QString &path)
{
    QCoreApplication application(argc, argv);
    // The hard end of those ten minutes, also for a call to the bus that never returns (a
    // notification service whose start hung, on a bus that went away, held one for good).
    alarm(11 * 60);
    app::CaptureNotifier notifier;
    if (!notifier.notify(path))
        return 0;
    QObject::connect(&notifier, &app::CaptureNotifier::allClosed, &application,
                     &QCoreApplication::quit);
    QTimer::singleShot(std::chrono::minutes(10), &application, &QCoreApplication::quit);
    return QCoreApplication::exec();
}

// The main window, as the program without arguments.
int runWindow(int &argc, char **argv)
{
    // Fonts, the settings reader's scratch folders and the icon images are prepared on a second
    // core while the toolkit connects to the display.
    std::optional<startup::StartUpPreload> preload(std::in_place, startup::IconImagePaths());

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
    if (!handOff.listen())
        std::fprintf(stderr, "vistarel-ombrix: a capture from the command line cannot be handed to "
                             "this window (no private folder for its socket in XDG_RUNTIME_DIR), "
                             "so it cannot step aside for one\n");
    return QApplication::exec();
}

class Gui final : public startup::GuiPart
{
public:
    int runWindow(int &argc, char **argv) override { return ::runWindow(argc, argv); }

    int notifyWritten(int &argc, char **argv, const QString &path) override
    {
        return ::notifyWritten(argc, argv, path);
    }

    Dialogs startGui(int &argc, char **argv) override
    {
        if (!m_application) {
            std::optional<startup::NoDisplayExit> noDisplay(std::in_place);
            m_application.emplace(argc, argv, m_qtDialogs);
            noDisplay.reset();
            m_shown =
                startup::showsNoWindows() ? static_cast<app::Dialogs *>(&m_unshown) : &m_qtDialogs;
            m_echoing.emplace(*m_shown);
        }
        return {*m_shown, *m_echoing};
    }

    platform::DesktopParts desktopParts() override { return platform::toolkitDesktopParts(); }

private:
    app::QtDialogs m_qtDialogs;
    startup::UnshownDialogs m_unshown;
    app::Dialogs *m_shown = nullptr;
    std::optional<app::GuardedApplication> m_application;
    std::optional<app::EchoingDialogs> m_echoing;
};

} // namespace

extern "C" __attribute__((visibility("default"))) startup::GuiPart *vo_make_gui_part()
{
    return new Gui;
}
