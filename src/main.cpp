// The composition root: builds every part of the program, hands each its collaborators,
// connects the push buttons to their commands, runs the load step on the hidden window and
// shows it.
#include "CaptureCommand.h"
#include "DesktopUrlOpener.h"
#include "ErrorReporter.h"
#include "FolderBrowser.h"
#include "FolderSelection.h"
#include "GuardedApplication.h"
#include "MainWindow.h"
#include "PlatformLoader.h"
#include "QtDialogs.h"
#include "SettingsStore.h"
#include "StartUp.h"
#include "TimeSeededRandomSource.h"

#include <QPushButton>

int main(int argc, char *argv[])
{
    app::QtDialogs dialogs;
    app::GuardedApplication application(argc, argv, dialogs);
    QGuiApplication::setDesktopFileName(QStringLiteral("com.kestrelby.VistarelOmbrix"));

    app::SettingsStore settings(app::SettingsStore::defaultFilePath());
    app::ErrorReporter reporter(dialogs);
    app::TimeSeededRandomSource random;
    app::DesktopUrlOpener urlOpener;
    const platform::Desktop desktop = platform::loadDesktop();

    ui::MainWindow window(settings);
    window.failureRouting().setUntrappedFailures(&application.untrappedFailures());
    dialogs.setParentWindow(&window);
    ui::CaptureCommand capture(window, desktop.capture.get(), desktop.settler.get(), dialogs,
                               reporter);
    ui::FolderBrowser browser(dialogs);
    ui::FolderSelection folderSelection(window, browser, reporter);
    QObject::connect(window.captureButton(), &QPushButton::clicked, &window,
                     [&capture] { capture.PushButton1_Click(); });
    QObject::connect(window.browseButton(), &QPushButton::clicked, &window,
                     [&folderSelection] { folderSelection.PushButton2_Click(); });

    startup::StartUp startUp(window, settings, reporter, random, urlOpener);
    startUp.Form_Load();
    window.show();
    return QApplication::exec();
}
