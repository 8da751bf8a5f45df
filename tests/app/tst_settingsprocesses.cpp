// The settings store shared by running copies: a write seen at once by another process, a copy
// killed in the middle of a storm of writes, and two copies writing at the same time. The other
// copy is settings-writer, built from the same library.
#include "SettingsStore.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using app::SettingsStore;

class TestSettingsProcesses : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    QString m_file;

    QString runWriter(const QStringList &args)
    {
        QProcess writer;
        writer.start(SETTINGS_WRITER, args);
        if (!writer.waitForFinished(20000) || writer.exitCode() != 0)
            return "<failed: " + QString::fromUtf8(writer.readAllStandardError()) + ">";
        return QString::fromUtf8(writer.readAllStandardOutput());
    }

    // Text1 as a storm leaves it: TAG-i-<n pads>-n, whole.
    static bool isWholeStormValue(const QString &value, const QString &tag)
    {
        static const QRegularExpression pattern("^([A-Z])-(\\d+)-(p*)-(\\d+)$");
        const QRegularExpressionMatch match = pattern.match(value);
        return match.hasMatch() && match.captured(1) == tag &&
               match.captured(3).size() == match.captured(4).toInt() &&
               match.captured(4).toInt() == (match.captured(2).toInt() * 37) % 300;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path() + "/config"));
        // The killed copies' scratch files: here, to be looked at.
        QVERIFY(QDir().mkpath(m_home.path() + "/runtime"));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.path() + "/runtime"));
        QVERIFY(QDir().mkpath(m_home.path() + "/tmp"));
        qputenv("TMPDIR", QFile::encodeName(m_home.path() + "/tmp"));
    }
    void init()
    {
        QDir(m_home.path() + "/config").removeRecursively();
        m_file = SettingsStore::defaultFilePath();
    }

    void otherProcessSeesEachWriteAtOnce()
    {
        SettingsStore store(m_file);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(runWriter({"set", m_file, "Text1", QString("/theirs/%1/").arg(i)}), "");
            QCOMPARE(store.GetSetting("Text1", ""), QString("/theirs/%1/").arg(i));
            store.SaveSetting("Text1", QString("/mine/%1/").arg(i));
            QCOMPARE(runWriter({"get", m_file, "Text1"}), QString("/mine/%1/").arg(i));
        }
    }

    void killedWriterLeavesAWholeFile()
    {
        SettingsStore store(m_file);
        for (int round = 0; round < 12; ++round) {
            QProcess writer;
            writer.start(SETTINGS_WRITER, {"storm", m_file, "K", "0"});
            QVERIFY(writer.waitForReadyRead(10000));
            QThread::msleep(QRandomGenerator::global()->bounded(5, 60));
            writer.kill();
            QVERIFY(writer.waitForFinished(5000));

            const QSettings plain(m_file, QSettings::IniFormat);
            QCOMPARE(plain.status(), QSettings::NoError);
            const QString text1 = store.GetSetting("Text1", "");
            const int count = store.GetSetting("K", "").toInt();
            QVERIFY2(isWholeStormValue(text1, "K"), qPrintable(text1.left(40)));
            const int index = text1.section('-', 1, 1).toInt();
            QVERIFY(index == count || index == count - 1);

            // The killed copy's lock went with it, and it left no half-written file behind.
            store.SaveSetting("Text2", QString::number(round));
            QCOMPARE(QDir(QFileInfo(m_file).absolutePath()).entryList(QDir::Files | QDir::Hidden),
                     QStringList({"Vistarel Ombrix.conf", "Vistarel Ombrix.conf.lock"}));
        }
    }

    // What killed copies left (scratch files in the runtime and temporary folders, a new
    // settings file beside the settings) goes; a user's files of similar names stay.
    void onlyTheProgramsOwnLeftoversGo()
    {
        const QString settingsFolder = QFileInfo(m_file).absolutePath();
        QVERIFY(QDir().mkpath(settingsFolder));
        const QString dead = "vistarel-ombrix-999999999-";
        const QStringList scratchKept = {dead + "crash-report.txt", dead + "1-abcdef.ini.orig",
                                         dead + "notes", "vistarel-ombrix-x-1-abcdef.ini"};
        const QStringList scratchGone = {dead + "1-abcdef.ini", dead + "2-AbC123.ini.lock",
                                         dead + "3-xyzXYZ.ini.QwErTy"};
        const QStringList besideKept = {"Vistarel Ombrix.conf.backup",
                                        "Vistarel Ombrix.conf.orig01", "Vistarel Ombrix.conf.bak",
                                        "Vistarel Ombrix.conf.AbCdEf", ".vo-0a1b2c3d.tmp"};
        const auto create = [](const QString &folder, const QStringList &names) {
            for (const QString &name : names) {
                QFile file(folder + '/' + name);
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[General]\nText1=x\n") > 0);
            }
        };
        for (const QString &folder : {m_home.path() + "/runtime", m_home.path() + "/tmp"})
            create(folder, scratchKept + scratchGone);
        create(settingsFolder, besideKept + QStringList{"Vistarel Ombrix.conf.vo-0a1b2c3d.tmp"});

        QCOMPARE(runWriter({"get", m_file, "Text1"}), QString("<absent>"));
        QVERIFY(runWriter({"set", m_file, "Text1", "y"}).isEmpty());
        const auto sorted = [](QStringList names) {
            names.sort();
            return names;
        };
        for (const QString &folder : {m_home.path() + "/runtime", m_home.path() + "/tmp"})
            QCOMPARE(sorted(QDir(folder).entryList(QDir::Files | QDir::Hidden)),
                     sorted(scratchKept));
        QCOMPARE(
            sorted(QDir(settingsFolder).entryList(QDir::Files | QDir::Hidden)),
            sorted(besideKept + QStringList{"Vistarel Ombrix.conf", "Vistarel Ombrix.conf.lock"}));
    }

    void twoWritersLoseNothing()
    {
        QProcess a, b;
        a.start(SETTINGS_WRITER, {"storm", m_file, "A", "120"});
        b.start(SETTINGS_WRITER, {"storm", m_file, "B", "120"});
        QVERIFY(a.waitForFinished(60000));
        QVERIFY(b.waitForFinished(60000));
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);

        const QSettings plain(m_file, QSettings::IniFormat);
        QCOMPARE(plain.status(), QSettings::NoError);
        const SettingsStore store(m_file);
        QCOMPARE(store.GetSetting("A", ""), QString("120"));
        QCOMPARE(store.GetSetting("B", ""), QString("120"));
        const QString text1 = store.GetSetting("Text1", "");
        QVERIFY2(text1.startsWith("A-120-") || text1.startsWith("B-120-"),
                 qPrintable(text1.left(40)));
        QVERIFY(isWholeStormValue(text1, text1.left(1)));
    }
};

QTEST_GUILESS_MAIN(TestSettingsProcesses)
#include "tst_settingsprocesses.moc"
