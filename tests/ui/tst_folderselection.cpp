// The "..." button with the real main window and store and a recording picker: the picker's
// request, the trailing "/" rule, and Cancel.
#include "DesignControls.h"
#include "ErrorReporter.h"
#include "FolderBrowser.h"
#include "FolderSelection.h"
#include "MainWindow.h"
#include "RecordingDialogs.h"
#include "SettingsStore.h"

#include <QDir>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestFolderSelection : public QObject
{
    Q_OBJECT

private slots:
    void choosingAFolder_data()
    {
        QTest::addColumn<QString>("answer"); // "<tmp>" stands for a temporary folder
        QTest::addColumn<QString>("text1");  // the box afterwards, and what is stored

        QTest::newRow("ordinary folder gets a slash") << "<tmp>/shots"
                                                      << "<tmp>/shots/";
        QTest::newRow("folder with a slash keeps one") << "<tmp>/shots/"
                                                       << "<tmp>/shots/";
        QTest::newRow("root stays root") << "/"
                                         << "/";
        QTest::newRow("cancel leaves the box alone") << ""
                                                     << "/earlier/";
        QTest::newRow("no such folder is like cancel") << "<tmp>/missing"
                                                       << "/earlier/";
    }

    void choosingAFolder()
    {
        QFETCH(QString, answer);
        QFETCH(QString, text1);
        QTemporaryDir tmp;
        QVERIFY(QDir().mkpath(tmp.filePath("shots")));
        answer.replace("<tmp>", tmp.path());
        text1.replace("<tmp>", tmp.path());

        app::SettingsStore settings(tmp.filePath("settings.conf"));
        testsupport::RecordingDialogs dialogs;
        app::ErrorReporter reporter(dialogs);
        ui::MainWindow window(settings);
        ui::FolderBrowser browser(dialogs);
        ui::FolderSelection selection(window, browser, reporter);
        testsupport::control<QLineEdit>(window, "Text1")->setText("/earlier/");
        if (!answer.isEmpty())
            dialogs.folders.enqueue(answer);
        selection.PushButton2_Click();

        QCOMPARE(testsupport::control<QLineEdit>(window, "Text1")->text(), text1);
        QCOMPARE(QSettings(settings.filePath(), QSettings::IniFormat).value("Text1").toString(),
                 text1);
        QVERIFY(dialogs.messages.isEmpty());
        // Titled, and not positioned on the folder in the box.
        QCOMPARE(dialogs.folderRequests.size(), 1);
        QCOMPARE(dialogs.folderRequests.first().title, QStringLiteral("Please select folder:"));
        QCOMPARE(dialogs.folderRequests.first().startFolder, QString());
    }
};

QTEST_MAIN(TestFolderSelection)
#include "tst_folderselection.moc"
