// The real vistarel-ombrix on the test display with a fresh settings folder: "Capture Now" is
// clicked with xdotool, the file in the folder must hold the screen without the program's own
// window, and closing the window must end the program without writing a setting. Under a file
// size limit the failed save is reported and leaves nothing behind.

#include "ProgramHome.h"
#include "XvfbServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <sys/resource.h>

namespace {

// Runs xdotool; its output, or nullopt when it failed.
std::optional<QString> xdotool(const QStringList &arguments, int timeoutMs = 10000)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Asks the window to close, as a window manager's close box does (WM_DELETE_WINDOW).
bool requestClose(xcb_window_t window)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const auto atom = [connection](const char *name) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    };
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom("WM_PROTOCOLS");
    message.data.data32[0] = atom("WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    const bool sent =
        xcb_request_check(connection, xcb_send_event_checked(
                                          connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                                          reinterpret_cast<const char *>(&message))) == nullptr;
    xcb_disconnect(connection);
    return sent;
}

// Another program's full-screen window with four coloured quadrants.
class Quadrants
{
public:
    Quadrants()
    {
        m_process.setProcessEnvironment(testsupport::childEnvironment());
        m_process.start(QStringLiteral(VO_COLOUR_WINDOW), {"0", "0", "1920", "1080", "quadrants"});
        m_ready = m_process.waitForReadyRead(10000) && m_process.readLine().startsWith("ready");
    }
    ~Quadrants()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }
    bool isReady() const { return m_ready; }

    // The colour of the quadrant that holds the point.
    static QColor at(QPoint point)
    {
        const bool right = point.x() >= 960;
        const bool bottom = point.y() >= 540;
        if (!bottom)
            return right ? QColor(30, 200, 40) : QColor(220, 30, 30);
        return right ? QColor(230, 220, 40) : QColor(30, 40, 220);
    }

private:
    QProcess m_process;
    bool m_ready = false;
};

bool near(const QColor &a, const QColor &b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

class tst_E2eCapture : public QObject
{
    Q_OBJECT

private slots:
    void captureNowWritesTheScreenAndClosingEndsTheProgram_data();
    void captureNowWritesTheScreenAndClosingEndsTheProgram();
    void fileSizeLimitIsReportedAndLeavesNoFile();
};

// As "prlimit --fsize=100000 vistarel-ombrix": the BMP of the screen (8 MB) cannot be written.
// The program must not die of SIGXFSZ; it reports the failure, removes its temporary file and
// carries on.
void tst_E2eCapture::fileSizeLimitIsReportedAndLeavesNoFile()
{
    const testsupport::ProgramHome home("Option2=True\nOption5=True\n");
    QVERIFY(home.isReady());
    const QString output = home.output();

    // An X server of its own: on the shared one, after the other tests, the program now and then
    // took no click at all (not understood; it never happened on a fresh server).
    const testsupport::XvfbServer server({"-screen", "0", "1920x1080x24"});
    QVERIFY(server.isRunning());
    const QByteArray sharedDisplay = qgetenv("DISPLAY");
    qputenv("DISPLAY", server.display().toLocal8Bit());
    const auto restoreDisplay = qScopeGuard([&] { qputenv("DISPLAY", sharedDisplay); });

    QProcess program;
    QProcessEnvironment environment = home.environment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.setChildProcessModifier([] {
        const rlimit limit{100000, 100000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    program.start(QStringLiteral(VO_PROGRAM), {});
    QVERIFY(program.waitForStarted());
    const auto stopProgram = qScopeGuard([&] {
        program.kill();
        program.waitForFinished(3000);
    });
    // This program's windows only: the window of the test before may still be closing.
    const auto visible = [&program](const char *title) {
        return xdotool({"search", "--all", "--onlyvisible", "--pid",
                        QString::number(program.processId()), "--name", title})
            .value_or(QString())
            .section('\n', 0, 0);
    };

    QString window;
    QTRY_VERIFY_WITH_TIMEOUT(!(window = visible("^Vistarel Ombrix$")).isEmpty(), 15000);
    QTest::qWait(300);

    // A click that comes before the window has taken its place and input is lost on a busy
    // machine: click again while nothing came of it.
    QString box;
    const auto boxAppears = [&](int milliseconds) {
        QElapsedTimer waited;
        waited.start();
        do {
            if (!(box = visible("^Application Error$")).isEmpty())
                return true;
            QTest::qWait(100);
        } while (waited.elapsed() < milliseconds && program.state() == QProcess::Running);
        return false;
    };
    for (int click = 0; click < 3 && !boxAppears(click == 0 ? 0 : 5000); ++click) {
        // Onto "Capture Now" where the window is now (it may have moved since it appeared), with
        // the window on top of what earlier tests may have left on the display.
        QVERIFY(xdotool({"windowraise", window}));
        QVERIFY(xdotool({"mousemove", "--window", window, "268", "21"}));
        QVERIFY(xdotool({"click", "1"}));
    }
    QVERIFY2(boxAppears(15000), "no report of the failed save");
    QCOMPARE(program.state(), QProcess::Running);
    QCOMPARE(QDir(output).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());

    // OK: the command goes on, the window comes back and the program closes normally.
    QTest::qWait(300); // let the box take the keyboard focus
    QVERIFY(xdotool({"key", "Return"}));
    QTRY_VERIFY_WITH_TIMEOUT(visible("^Application Error$").isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!visible("^Vistarel Ombrix$").isEmpty(), 10000);
    QVERIFY(requestClose(window.toUInt()));
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
}

void tst_E2eCapture::captureNowWritesTheScreenAndClosingEndsTheProgram_data()
{
    QTest::addColumn<QByteArray>("formatSettings");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("tolerance"); // per channel
    QTest::newRow("JPG") << QByteArray("Option4=True\nOption5=False\n") << "e2e-1.jpg" << 16;
    QTest::newRow("PNG") << QByteArray("Option4=False\nOption5=False\nOption6=True\n")
                         << "e2e-1.png" << 0;
}

void tst_E2eCapture::captureNowWritesTheScreenAndClosingEndsTheProgram()
{
    QFETCH(QByteArray, formatSettings);
    QFETCH(QString, fileName);
    QFETCH(int, tolerance);
    const testsupport::ProgramHome home("Text2=e2e-\nOption1=False\nOption2=True\nOption3=False\n" +
                                        formatSettings);
    QVERIFY(home.isReady());
    const QString output = home.output();

    Quadrants background;
    QVERIFY(background.isReady());

    QProcess program;
    QProcessEnvironment environment = home.environment();
    environment.remove("QT_QPA_PLATFORM");
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(VO_PROGRAM), {});
    QVERIFY(program.waitForStarted());
    const auto stopProgram = qScopeGuard([&] {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(3000);
        }
    });

    const QString window =
        xdotool({"search", "--sync", "--onlyvisible", "--name", "^Vistarel Ombrix$"})
            .value_or(QString())
            .section('\n', 0, 0);
    QVERIFY2(!window.isEmpty(), "the main window did not appear");
    const QString shell = xdotool({"getwindowgeometry", "--shell", window}).value_or(QString());
    const auto field = [&shell](const char *name) {
        return shell.section(QString(name) + '=', 1).section('\n', 0, 0).toInt();
    };
    const QRect geometry(field("X"), field("Y"), field("WIDTH"), field("HEIGHT"));
    QCOMPARE(geometry.size(), QSize(536, 281));
    QTest::qWait(300); // let the window paint before it is clicked

    // "Capture Now" spans the top of the window.
    const QPoint button = geometry.topLeft() + QPoint(268, 21);
    // (--sync would wait forever when the pointer is already there.)
    QVERIFY(xdotool({"mousemove", QString::number(button.x()), QString::number(button.y())}));
    QTRY_COMPARE(xdotool({"getmouselocation", "--shell"}).value_or(QString()).section('\n', 0, 1),
                 QString("X=%1\nY=%2").arg(button.x()).arg(button.y()));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(xdotool({"click", "1"}));

    const QString file = output + "/" + fileName;
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(file), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(xdotool({"search", "--onlyvisible", "--name", "^Vistarel Ombrix$"}),
                             10000);
    QTest::qWait(200); // the writer renames the finished file into place; give it a moment anyway
    qInfo("click to visible file: %lld ms (includes xdotool and polling)", clock.elapsed());

    const QImage picture = QImage(file).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), QSize(1920, 1080));
    QCOMPARE(QDir(output).entryList(QDir::Files), QStringList{fileName});
    // The screen: the four quadrants, also where the program's window stood.
    const QRect inside = geometry.adjusted(24, 24, -24, -24);
    for (const QPoint point :
         {QPoint(200, 200), QPoint(1700, 200), QPoint(200, 900), QPoint(1700, 900),
          inside.topLeft(), inside.topRight(), inside.bottomLeft(), inside.bottomRight(),
          QPoint(inside.left(), geometry.top() + 21),
          QPoint(inside.right(), geometry.top() + 21)}) {
        QVERIFY2(near(picture.pixelColor(point), Quadrants::at(point), tolerance),
                 qPrintable(QString("at %1,%2: %3")
                                .arg(point.x())
                                .arg(point.y())
                                .arg(picture.pixelColor(point).name())));
    }

    // Closing ends the program at once; nothing is written at exit.
    QFile settings(home.settingsPath());
    QVERIFY(settings.open(QIODevice::ReadOnly));
    const QByteArray before = settings.readAll();
    settings.close();
    QVERIFY(requestClose(window.toUInt()));
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QCOMPARE(settings.readAll(), before);
}

QTEST_GUILESS_MAIN(tst_E2eCapture)
#include "XvfbServer.h"
#include "tst_e2e_capture.moc"
