// The composition root: builds every part of the program, hands each its collaborators,
// connects the push buttons to their commands, runs the load step on the hidden window and
// shows it.
#include "CaptureBackendLoader.h"
#include "CaptureCommand.h"
#include "DesktopUrlOpener.h"
#include "ErrorReporter.h"
#include "FolderBrowser.h"
#include "FolderSelection.h"
#include "GuardedApplication.h"
#include "MainWindow.h"
#include "QtDialogs.h"
#include "SettingsStore.h"
#include "StartUp.h"
#include "TimeSeededRandomSource.h"

#include <QPushButton>
#include <memory>

int main(int argc, char *argv[])
{
    app::QtDialogs dialogs;
    app::GuardedApplication application(argc, argv, dialogs);
    QGuiApplication::setDesktopFileName(QStringLiteral("com.kestrelby.VistarelOmbrix"));

    app::SettingsStore settings(app::SettingsStore::defaultFilePath());
    app::ErrorReporter reporter(dialogs);
    app::TimeSeededRandomSource random;
    app::DesktopUrlOpener urlOpener;
    const std::unique_ptr<imaging::CaptureBackend> backend = imaging::loadCaptureBackend();

    ui::MainWindow window(settings);
    window.setUntrappedFailures(&application.untrappedFailures());
    dialogs.setParentWindow(&window);
    ui::CaptureCommand capture(window, backend.get(), dialogs, reporter);
    ui::FolderBrowser browser(dialogs);
    ui::FolderSelection folderSelection(window, browser, reporter);
    QObject::connect(window.PushButton1(), &QPushButton::clicked, &window,
                     [&capture] { capture.PushButton1_Click(); });
    QObject::connect(window.PushButton2(), &QPushButton::clicked, &window,
                     [&folderSelection] { folderSelection.PushButton2_Click(); });

    app::StartUp startUp(window, settings, reporter, random, urlOpener);
    startUp.Form_Load();
    window.show();
    return QApplication::exec();
}
