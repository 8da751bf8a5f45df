// DesktopFolderPath with the XDG user directories set and unset, and FileExists.
#include "FileRoutines.h"
#include "core/Error.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestFileRoutines : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;

private slots:
    void desktopFolderPath_data()
    {
        QTest::addColumn<QString>("configHome");  // XDG_CONFIG_HOME below HOME; "-" unset
        QTest::addColumn<QString>("userDirs");    // user-dirs.dirs of that config folder
        QTest::addColumn<QStringList>("folders"); // made below HOME
        QTest::addColumn<QString>("expected");    // below HOME
        const QString german = "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
        QTest::newRow("XDG_CONFIG_HOME set, user-dirs names the desktop")
            << "cfg" << german << QStringList{"Schreibtisch"} << "Schreibtisch/";
        QTest::newRow("XDG_CONFIG_HOME unset, ~/.config/user-dirs.dirs used")
            << "-" << german << QStringList{"Schreibtisch"} << "Schreibtisch/";
        QTest::newRow("no user-dirs file, Desktop below home")
            << "cfg"
            << "" << QStringList{"Desktop"} << "Desktop/";
        QTest::newRow("desktop folder missing: home instead")
            << "cfg" << german << QStringList{} << "";
    }
    void desktopFolderPath()
    {
        QFETCH(QString, configHome);
        QFETCH(QString, userDirs);
        QFETCH(QStringList, folders);
        QFETCH(QString, expected);
        const QString home = m_root.path() + "/" + QTest::currentDataTag();
        const QString config = home + "/" + (configHome == "-" ? ".config" : configHome);
        QVERIFY(QDir().mkpath(config));
        qputenv("HOME", QFile::encodeName(home));
        if (configHome == "-")
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
        if (!userDirs.isEmpty()) {
            QFile file(config + "/user-dirs.dirs");
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(userDirs.toUtf8());
        }
        for (const QString &folder : folders)
            QVERIFY(QDir().mkpath(home + "/" + folder));
        QCOMPARE(app::DesktopFolderPath(), home + "/" + expected);
    }

    void noDesktopPathIsAnInvalidArgument()
    {
        QCOMPARE(app::DesktopFolderPathFrom(m_root.path(), "/nowhere"), m_root.path() + "/");
        QCOMPARE(app::DesktopFolderPathFrom("/", "/"), QString("/"));
        try {
            app::DesktopFolderPathFrom("", m_root.path());
            QFAIL("no error");
        } catch (const core::Error &error) {
            QCOMPARE(error.number(), 5);
            QCOMPARE(error.description(), QString("Invalid procedure call or argument"));
        }
    }

    void fileExists_data()
    {
        QTest::addColumn<QString>("path"); // relative to the test folder unless empty
        QTest::addColumn<bool>("expected");
        QTest::newRow("empty text") << "" << false;
        QTest::newRow("existing file") << "file.txt" << true;
        QTest::newRow("missing file") << "missing.txt" << false;
        QTest::newRow("file in a missing folder") << "nofolder/file.txt" << false;
        QTest::newRow("file used as a folder") << "file.txt/x" << false;
        QTest::newRow("dangling link") << "dangling" << false;
        QTest::newRow("name with a NUL") << QString("file.txt") + QChar(0) + "x" << false;
    }
    void fileExists()
    {
        QFETCH(QString, path);
        QFETCH(bool, expected);
        QFile file(m_root.filePath("file.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QFile::link(m_root.filePath("gone"), m_root.filePath("dangling"));
        QCOMPARE(app::FileExists(path.isEmpty() ? path : m_root.filePath(path)), expected);
    }
};

QTEST_GUILESS_MAIN(TestFileRoutines)
#include "tst_fileroutines.moc"
