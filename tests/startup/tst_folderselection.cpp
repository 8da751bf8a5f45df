// The "..." button: the folder picker's request, the trailing "/" rule, Cancel, and a failure
// of the picker, with the real main window and settings store and a recording picker.
#include "ErrorReporter.h"
#include "FolderBrowser.h"
#include "FolderSelection.h"
#include "MainWindow.h"
#include "RecordingDialogs.h"
#include "SettingsStore.h"
#include "core/Error.h"

#include <QDir>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestFolderSelection : public QObject
{
    Q_OBJECT

    struct Window
    {
        explicit Window(const QString &settingsFile) : settings(settingsFile), window(settings)
        {
            dialogs.setParentWindow(&window);
        }
        app::SettingsStore settings;
        testsupport::RecordingDialogs dialogs;
        app::ErrorReporter reporter{dialogs};
        ui::MainWindow window;
        ui::FolderBrowser browser{dialogs};
        ui::FolderSelection selection{window, browser, reporter};

        QString stored() const
        {
            const QSettings ini(settings.filePath(), QSettings::IniFormat);
            return ini.value(QStringLiteral("Text1")).toString();
        }
    };

    QTemporaryDir m_dir;

private slots:
    void choosingAFolder_data()
    {
        QTest::addColumn<QString>("answer"); // "<tmp>" stands for the temporary folder
        QTest::addColumn<QString>("text1");  // the text afterwards; also what is stored

        QTest::newRow("ordinary folder gets a slash") << "<tmp>/shots" << "<tmp>/shots/";
        QTest::newRow("folder with a slash keeps one") << "<tmp>/shots/" << "<tmp>/shots/";
        QTest::newRow("root stays root") << "/" << "/";
        QTest::newRow("cancel leaves the box alone") << "" << "/earlier/";
        QTest::newRow("no such folder is like cancel") << "<tmp>/missing" << "/earlier/";
        QTest::newRow("a file is no folder") << "<tmp>/file" << "/earlier/";
    }

    void choosingAFolder()
    {
        QFETCH(QString, answer);
        QFETCH(QString, text1);
        const QString tmp = m_dir.path();
        answer.replace("<tmp>", tmp);
        text1.replace("<tmp>", tmp);
        QDir().mkpath(tmp + "/shots");
        QFile file(tmp + "/file");
        QVERIFY(file.open(QIODevice::WriteOnly));

        Window w(tmp + "/settings.conf");
        w.window.Text1()->setText("/earlier/");
        if (!answer.isEmpty())
            w.dialogs.folders.enqueue(answer);
        w.selection.PushButton2_Click();

        QCOMPARE(w.window.Text1()->text(), text1);
        QCOMPARE(w.stored(), text1);
        QVERIFY(w.dialogs.messages.isEmpty());
        // The picker is titled, and not positioned on the folder in the box.
        QCOMPARE(w.dialogs.folderRequests.size(), 1);
        QCOMPARE(w.dialogs.folderRequests.first().title, QStringLiteral("Please select folder:"));
        QCOMPARE(w.dialogs.folderRequests.first().startFolder, QString());
    }

    void failureOfThePickerIsReported()
    {
        Window w(m_dir.filePath("failure.conf"));
        w.window.Text1()->setText("/earlier/");
        w.dialogs.folders.enqueue(m_dir.path());
        w.reporter.setStatementProbe([](const QString &location, int number) {
            if (location == ui::PushButton2Location && number == 100)
                throw core::Error(core::Error::InvalidArgument, "Picker failed");
        });
        w.selection.PushButton2_Click();

        QCOMPARE(w.dialogs.messages.size(), 1);
        QCOMPARE(w.dialogs.messages.first().text,
                 app::BuildErrorReport(ui::PushButton2Location, "Picker failed", 100));
        QCOMPARE(w.window.Text1()->text(), QStringLiteral("/earlier/"));
    }
};

QTEST_MAIN(TestFolderSelection)
#include "tst_folderselection.moc"
