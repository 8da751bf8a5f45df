#pragma once
// The shown main window with its capture command, on a fresh settings file and output folder,
// for the capture command's tests: records every statement the trap starts and can make chosen
// statements fail.

#include "CaptureCommand.h"
#include "ErrorReporter.h"
#include "MainWindow.h"
#include "RecordingDialogs.h"
#include "ReportLocations.h"
#include "SettingsStore.h"
#include "core/Error.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using Numbers = QList<int>;

enum Mode { DateTime, Counter, Ask, NoMode };
inline const QString location = QLatin1String(app::ReportLocation::PushButton1Click);

// The shown main window with its capture command, on a fresh settings file and output folder.
struct World
{
    QTemporaryDir dir;
    QString folder = dir.path() + "/out";
    app::SettingsStore store{dir.path() + "/Vistarel Ombrix.conf"};
    testsupport::RecordingDialogs dialogs;
    app::ErrorReporter reporter{dialogs};
    ui::MainWindow window{store};
    ui::CaptureCommand command;
    Numbers statements; // every statement the trap started, in order

    World(platform::CaptureBackend &backend, Mode mode, bool bmp = false,
          platform::ScreenSettler *settler = nullptr)
        : command(window, backend, settler, dialogs, reporter)
    {
        QDir().mkpath(folder);
        window.setFolder(folder);
        window.setPrefix("Shot");
        const ui::NamingMode modes[] = {ui::NamingMode::DateTime, ui::NamingMode::CountedPrefix,
                                        ui::NamingMode::AskedName};
        for (int i = 0; i < 3; ++i)
            window.setNamingOption(modes[i], mode == i);
        window.setFormatOption(bmp ? imaging::ImageFormat::Bmp : imaging::ImageFormat::Jpeg, true);
        failAt({}, false);
        QObject::connect(window.captureButton(), &QPushButton::clicked, &window,
                         [this] { command.PushButton1_Click(); });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }

    // Makes the given statements fail, every time they run or only the first time.
    void failAt(const Numbers &numbers, bool onlyOnce)
    {
        auto failed = std::make_shared<Numbers>();
        reporter.setStatementProbe([=, this](const QString &where, int number) {
            if (where != location)
                return;
            statements.append(number);
            if (numbers.contains(number) && !(onlyOnce && failed->contains(number))) {
                failed->append(number);
                throw core::Error(5, QStringLiteral("injected at %1").arg(number));
            }
        });
    }

    void click() { QTest::mouseClick(window.captureButton(), Qt::LeftButton); }
    QStringList files() const
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    void touch(const QString &name) const
    {
        QFile file(folder + '/' + name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old") == 3);
    }

    // After every command: the window is back with the arrow and Capturing cleared.
    void verifyCameBack() const
    {
        QVERIFY(window.isVisible());
        QVERIFY(!command.capturing());
        QCOMPARE(window.mousePointer(), ui::MainWindow::PointerDefault);
    }

    Numbers reportedNumbers() const
    {
        Numbers numbers;
        for (const auto &message : dialogs.messages)
            if (message.title == QLatin1String("Application Error"))
                numbers.append(message.text.section("at line ", 1).section('\r', 0, 0).toInt());
        return numbers;
    }
};
