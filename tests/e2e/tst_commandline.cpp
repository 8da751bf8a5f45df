// The real vistarel-ombrix from the command line on the test display: --help, --version and a
// wrong option answer as command-line programs do; --capture writes the screen with the saved
// choices, prints the file's path and changes no setting; a missing folder shows its box, says
// so on standard error and ends with a failure status.

#include "ChildEnvironment.h"
#include "ColourWindowProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

// A fresh HOME and settings file holding settings, for one or more runs of the program.
class Home
{
public:
    explicit Home(const QByteArray &settings)
    {
        QDir().mkpath(settingsPath().section('/', 0, -2));
        QDir().mkpath(output());
        QFile file(settingsPath());
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray(settings).replace("@", output().toUtf8()));
    }
    QString output() const { return m_dir.path() + "/shots"; }
    QString settingsPath() const { return m_dir.path() + "/config/Kestrelby/Vistarel Ombrix.conf"; }

    // Runs the program with arguments; answers its first message box with Return (xdotool)
    // when answerBox is set. changes: "NAME=value" sets a variable, "NAME" removes it; a shell
    // command runs the program as its $0 instead, with the arguments it gives.
    Run run(const QStringList &arguments, bool answerBox = false, const QStringList &changes = {},
            const QString &shellCommand = {}) const
    {
        QProcess program;
        QProcessEnvironment environment = testsupport::childEnvironment();
        environment.insert("HOME", m_dir.path());
        environment.insert("XDG_CONFIG_HOME", m_dir.path() + "/config");
        // A runtime folder of its own: --capture hands over to a window of the program found
        // there, and the windows of the tests running beside this one must not take it.
        QDir(m_dir.path()).mkpath("runtime");
        QFile::setPermissions(m_dir.path() + "/runtime",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert("XDG_RUNTIME_DIR", m_dir.path() + "/runtime");
        environment.remove("QT_QPA_PLATFORM");
        for (const QString &change : changes) {
            if (change.contains('='))
                environment.insert(change.section('=', 0, 0), change.section('=', 1));
            else
                environment.remove(change);
        }
        program.setProcessEnvironment(environment);
        if (shellCommand.isEmpty())
            program.start(QStringLiteral(VO_PROGRAM), arguments);
        else
            program.start("/bin/sh", {"-c", shellCommand, QStringLiteral(VO_PROGRAM)});
        if (answerBox) {
            // Return goes to the box until the program has ended: a box that has just been
            // mapped may not take keys yet, and a key sent then is lost. (xdotool may complain
            // that the box is gone before the key's release.)
            QDeadlineTimer bound(20000);
            while (!program.waitForFinished(200) && !bound.hasExpired())
                QProcess::execute("xdotool", {"search", "--onlyvisible", "--name", "^Vistarel$",
                                              "key", "--window", "%@", "Return"});
            // A box gone before the key's release leaves Return down in the server, where
            // every later box of the suite's display would close at once.
            QProcess::execute("xdotool", {"keyup", "Return"});
        }
        Run run;
        const bool finished =
            program.state() == QProcess::NotRunning || program.waitForFinished(20000);
        if (finished && program.exitStatus() == QProcess::NormalExit)
            run.status = program.exitCode();
        else
            program.kill();
        run.out = QString::fromUtf8(program.readAllStandardOutput());
        run.err = QString::fromUtf8(program.readAllStandardError());
        return run;
    }

private:
    QTemporaryDir m_dir;
};

const QByteArray CountedJpeg = "[General]\nText1=@\nText2=key-\nOption1=False\nOption2=True\n";

} // namespace

class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void answersAsACommandLineProgram_data();
    void answersAsACommandLineProgram();
    void captureWritesTheScreenAndPrintsThePath_data();
    void captureWritesTheScreenAndPrintsThePath();
    void missingFolderFailsWithTheMessage();
    void failsWithItsOwnMessageWhereNoOneSeesIt_data();
    void failsWithItsOwnMessageWhereNoOneSeesIt();
};

void tst_CommandLine::answersAsACommandLineProgram_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out"); // a line the output starts with
    QTest::addColumn<QString>("err");
    QTest::newRow("--version") << QStringList{"--version"} << 0 << "vistarel-ombrix 0."
                               << "";
    QTest::newRow("--help") << QStringList{"--help"} << 0 << "Usage: vistarel-ombrix"
                            << "";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << ""
                                    << "vistarel-ombrix: Unknown option 'bogus'.\nUsage: ";
    QTest::newRow("stray argument") << QStringList{"x"} << 2 << ""
                                    << "vistarel-ombrix: ";
}

void tst_CommandLine::answersAsACommandLineProgram()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    Home home(CountedJpeg);
    const Run run = home.run(arguments);
    QCOMPARE(run.status, status);
    QVERIFY2(out.isEmpty() ? run.out.isEmpty() : run.out.startsWith(out), qPrintable(run.out));
    QVERIFY2(err.isEmpty() ? run.err.isEmpty() : run.err.startsWith(err), qPrintable(run.err));
    QVERIFY(QDir(home.output()).isEmpty());
}

void tst_CommandLine::captureWritesTheScreenAndPrintsThePath_data()
{
    QTest::addColumn<QStringList>("changes");
    QTest::newRow("on X11") << QStringList{};
    QTest::newRow("Qt offscreen, the screen of DISPLAY")
        << QStringList{"QT_QPA_PLATFORM=offscreen"};
}

void tst_CommandLine::captureWritesTheScreenAndPrintsThePath()
{
    QFETCH(QStringList, changes);
    Home home(CountedJpeg);
    QFile existing(home.output() + "/key-1.jpg");
    QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("earlier") == 7);
    existing.close();
    QFile settings(home.settingsPath());
    QVERIFY(settings.open(QIODevice::ReadOnly));
    const QByteArray before = settings.readAll();
    settings.close();
    const QColor colour(0x2a, 0x9d, 0x8f);
    ColourWindowProcess background(QRect(0, 0, 1920, 1080), colour.name());
    QVERIFY(background.isReady());

    // The dynamic loader names every library it loads: the capture takes Qt Core, not the GUI.
    const Run run = home.run({"--capture"}, false, changes + QStringList{"LD_DEBUG=files"});

    QCOMPARE(run.status, 0);
    QVERIFY2(run.err.contains("libQt6Core.so"), qPrintable(run.err.left(2000)));
    for (const char *library : {"libQt6Gui.so", "libQt6DBus.so", "libvistarel-ombrix-gui.so"})
        QVERIFY2(!run.err.contains(library), library);
    const QString file = home.output() + "/key-2.jpg";
    QCOMPARE(run.out, file + "\n");
    const QImage picture = QImage(file).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), QSize(1920, 1080));
    for (const QPoint point : {QPoint(0, 0), QPoint(960, 540), QPoint(1919, 1079)}) {
        const QColor seen = picture.pixelColor(point);
        QVERIFY2(std::abs(seen.red() - colour.red()) <= 8 &&
                     std::abs(seen.green() - colour.green()) <= 8 &&
                     std::abs(seen.blue() - colour.blue()) <= 8,
                 qPrintable(seen.name()));
    }
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QCOMPARE(settings.readAll(), before);
}

void tst_CommandLine::missingFolderFailsWithTheMessage()
{
    Home home("[General]\nText1=@/gone\nOption2=True\nOption1=False\n");
    const Run run = home.run({"--capture"}, true);
    QVERIFY2(run.status > 0, qPrintable(QString::number(run.status)));
    QVERIFY2(run.err.contains("Vistarel: Folder does not exist. Please select another folder."),
             qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    QVERIFY(QDir(home.output()).isEmpty());
}

// No display to connect to, a box no one could answer, a path that never reached its reader:
// each ends with status 1 and the reason on standard error, and nothing waits.
void tst_CommandLine::failsWithItsOwnMessageWhereNoOneSeesIt_data()
{
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("command"); // run by sh, the program as $0
    QTest::addColumn<QString>("err");     // the whole of standard error, or a line in it
    QTest::addColumn<bool>("written");

    const QStringList noDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"};
    const QString capture = "exec \"$0\" --capture";
    const QString missing =
        "vistarel-ombrix: cannot connect to a display: tried X11 (DISPLAY is not set)\n";
    // --capture starts without the GUI: the capture itself finds no display and says so.
    QTest::newRow("no display, --capture")
        << noDisplay << CountedJpeg << capture
        << "Cannot capture the screen: no display server could be reached." << false;
    QTest::newRow("no display, the window")
        << noDisplay << CountedJpeg << "exec \"$0\"" << missing << false;
    QTest::newRow("DISPLAY naming no server")
        << QStringList{"DISPLAY=:987", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"} << CountedJpeg
        << capture
        << "vistarel-ombrix: cannot connect to a display: tried the X11 display \":987\" (no X "
           "server answers)"
        << false;
    QTest::newRow("offscreen, a message box")
        << QStringList{"QT_QPA_PLATFORM=offscreen"} << QByteArray("[General]\nText1=@/gone\n")
        << capture << "Vistarel: Folder does not exist." << false;
    QTest::newRow("minimal, the name prompt")
        << QStringList{"QT_QPA_PLATFORM=minimal"}
        << QByteArray("[General]\nText1=@\nOption1=False\nOption3=True\n") << capture
        << "Input Filename: no box can be shown on the Qt platform \"minimal\"" << false;
    const QString pathLost = "vistarel-ombrix: the picture's path could not be written";
    QTest::newRow("standard output full")
        << QStringList{} << CountedJpeg << capture + " >/dev/full" << pathLost << true;
    QTest::newRow("standard output closed")
        << QStringList{} << CountedJpeg << capture + " >&-" << pathLost << true;
}

void tst_CommandLine::failsWithItsOwnMessageWhereNoOneSeesIt()
{
    QFETCH(QStringList, changes);
    QFETCH(QByteArray, settings);
    QFETCH(QString, command);
    QFETCH(QString, err);
    QFETCH(bool, written);
    Home home(settings);
    const Run run = home.run({}, false, changes, command);
    QCOMPARE(run.status, 1);
    QVERIFY2(err.endsWith(u'\n') ? run.err == err : run.err.contains(err), qPrintable(run.err));
    QCOMPARE(QDir(home.output()).entryList(QDir::Files),
             written ? QStringList{"key-1.jpg"} : QStringList{});
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
