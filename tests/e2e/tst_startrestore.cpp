// End to end: the real program started with a settings file that an earlier run left (prefix
// naming, BMP, a folder of the test's own) comes up with those choices restored, its restores
// write the choices back through the controls' handlers, and "Capture Now" at once writes the
// first counted BMP into that folder.
#include "ChildEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#ifndef VO_PROGRAM
#error "VO_PROGRAM must name the program under test"
#endif

namespace {

QString run(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace

class TestStartRestore : public QObject
{
    Q_OBJECT

private slots:
    void startsWithTheStoredChoicesAndCapturesByThem()
    {
        QTemporaryDir root;
        const QString out = root.filePath("shots");
        QVERIFY(QDir().mkpath(out));
        QVERIFY(QDir().mkpath(root.filePath("home/Desktop")));
        const QString settingsFile = root.filePath("config/Kestrelby/Vistarel Ombrix.conf");
        {
            // Options in other letter cases than the program writes, to see the rewrites.
            QSettings ini(settingsFile, QSettings::IniFormat);
            const QStringList prepared{"Text1",   out + "/", "Text2",   "Shot",    "Option1",
                                       "false",   "Option2", "true",    "Option3", "false",
                                       "Option4", "false",   "Option5", "true"};
            for (qsizetype i = 0; i < prepared.size(); i += 2)
                ini.setValue(prepared[i], prepared[i + 1]);
        }

        QProcess program;
        QProcessEnvironment environment = testsupport::childEnvironment();
        environment.insert("HOME", root.filePath("home"));
        environment.insert("XDG_CONFIG_HOME", root.filePath("config"));
        environment.insert("QT_QPA_PLATFORM", "xcb");
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(QStringLiteral(VO_PROGRAM), {});
        QVERIFY(program.waitForStarted());
        const auto stop = qScopeGuard([&] {
            program.kill();
            program.waitForFinished(5000);
        });

        QString window;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(window = run({"search", "--all", "--onlyvisible", "--pid",
                            QString::number(program.processId()), "--name", "^Vistarel Ombrix$"})
                           .section('\n', 0, 0))
                 .isEmpty(),
            15000);

        // The restores ran the option handlers, which wrote their groups back in their own form.
        const QSettings after(settingsFile, QSettings::IniFormat);
        QStringList options;
        for (const char *key : {"Option1", "Option2", "Option3", "Option4", "Option5"})
            options.append(after.value(key).toString());
        QCOMPARE(options, (QStringList{"False", "True", "False", "False", "True"}));

        // "Capture Now" spans the top of the window: 8 px in, 520 by 27 px.
        run({"mousemove", "--window", window, "268", "21"});
        run({"click", "1"});

        QFile bmp(out + "/Shot1.bmp");
        QTRY_VERIFY_WITH_TIMEOUT(bmp.exists() && bmp.size() > 54, 15000);
        QVERIFY(bmp.open(QIODevice::ReadOnly));
        const QByteArray header = bmp.read(54);
        QVERIFY(header.startsWith("BM"));
        QCOMPARE(qFromLittleEndian<qint32>(header.constData() + 18), 1920);
        QCOMPARE(qAbs(qFromLittleEndian<qint32>(header.constData() + 22)), 1080);
        QCOMPARE(QDir(out).entryList(QDir::Files), QStringList{"Shot1.bmp"});
        QCOMPARE(program.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TestStartRestore)
#include "tst_startrestore.moc"
