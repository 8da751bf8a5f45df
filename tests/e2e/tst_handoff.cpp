// `vistarel-ombrix --capture` while the program's window is open (the Print key's case): the
// window takes the capture and steps aside, so that every picture equals the screen without
// it, also for ten captures at once (a held key), each under a name of its own. Another user
// cannot reach the window; a window that does not answer stops the capture with a message.
// A written file is notified through a recording notification service on a private session
// bus, whose "Show in folder" must reach the file manager's interface; --no-notify shows none.
// Runs on the Xvfb fixture and, for the pictures, under xfwm4 and on the sway fixture.

#include "ProgramHome.h"
#include "WaylandTools.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <grp.h>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

bool onWayland()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The whole screen as a tool apart from the program sees it.
QImage screenNow()
{
    if (onWayland())
        return waylandtools::grimScreen().convertToFormat(QImage::Format_RGB32);
    QProcess import;
    import.start(QStringLiteral("import"), {"-window", "root", "ppm:-"});
    if (!import.waitForFinished(20000))
        return {};
    return QImage::fromData(import.readAllStandardOutput()).convertToFormat(QImage::Format_RGB32);
}

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

Run finish(QProcess &program)
{
    Run run;
    if (program.waitForFinished(60000) && program.exitStatus() == QProcess::NormalExit)
        run.status = program.exitCode();
    else
        program.kill();
    run.out = QString::fromUtf8(program.readAllStandardOutput());
    run.err = QString::fromUtf8(program.readAllStandardError());
    return run;
}

// A user's session for the program: its HOME (BMP pictures named shot-1, shot-2, ...), a
// runtime folder of its own, and optionally a private session bus with the recording
// notification service.
class Session
{
public:
    explicit Session(const QString &recorderMode = QString())
        : m_home("Text2=shot-\nOption1=False\nOption2=True\nOption4=False\nOption5=True\n")
    {
        m_environment = m_home.environment();
        m_environment.insert("XDG_RUNTIME_DIR", m_runtime.path());
        m_environment.remove("DBUS_SESSION_BUS_ADDRESS");
        ::chmod(QFile::encodeName(m_runtime.path()).constData(), 0700);
        m_ready = m_home.isReady() && m_runtime.isValid();
        if (recorderMode.isNull())
            return;
        const QString address = "unix:path=" + m_runtime.path() + "/bus";
        m_bus.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--address=" + address,
                                    "--print-address=1"});
        m_ready = m_ready && m_bus.waitForReadyRead(10000);
        m_environment.insert("DBUS_SESSION_BUS_ADDRESS", address);
        m_recorder.setProcessEnvironment(m_environment);
        m_recorder.start(QStringLiteral(VO_NOTIFICATION_RECORDER), {recorderMode});
        m_ready = m_ready && m_recorder.waitForReadyRead(10000) &&
                  m_recorder.readLine().startsWith("ready");
    }
    ~Session()
    {
        for (QProcess *process : {&m_window, &m_recorder, &m_bus}) {
            ::kill(static_cast<pid_t>(process->processId()), SIGCONT);
            process->kill();
            process->waitForFinished(5000);
        }
        // A compositor may still draw the window a moment after it has gone; the next test's
        // picture of the screen without it must not catch that drawing.
        if (!m_without.isNull())
            (void)QTest::qWaitFor([&] { return screenNow() == m_without; }, 20000);
    }

    bool isReady() const { return m_ready; }
    QString output() const { return m_home.output(); }
    QString socketFolder() const { return m_runtime.path() + "/vistarel-ombrix"; }
    QProcess &window() { return m_window; }

    std::unique_ptr<QProcess> startCapture(const QStringList &extra = {"--no-notify"})
    {
        auto program = std::make_unique<QProcess>();
        program->setProcessEnvironment(m_environment);
        program->start(QStringLiteral(VO_PROGRAM), QStringList{"--capture"} + extra);
        return program;
    }
    Run capture(const QStringList &extra = {"--no-notify"}) { return finish(*startCapture(extra)); }

    // Opens the window and waits until it is on the screen (screen differs from without) and
    // reachable (its socket is there).
    bool openWindow(const QImage &screenWithout)
    {
        m_without = screenWithout;
        m_window.setProcessEnvironment(m_environment);
        m_window.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_window.start(QStringLiteral(VO_PROGRAM), {});
        if (!m_window.waitForStarted())
            return false;
        return QTest::qWaitFor(
            [&] {
                return !QDir(socketFolder()).entryList({"*.sock"}, QDir::System).isEmpty() &&
                       (screenWithout.isNull() || screenNow() != screenWithout);
            },
            20000);
    }

    // The recorder's lines so far, waiting until there are at least count.
    QStringList recorded(int count)
    {
        (void)QTest::qWaitFor(
            [&] {
                m_recorded += QString::fromUtf8(m_recorder.readAllStandardOutput());
                return m_recorded.count('\n') >= count;
            },
            20000);
        return m_recorded.split('\n', Qt::SkipEmptyParts);
    }

private:
    testsupport::ProgramHome m_home;
    QTemporaryDir m_runtime;
    QProcessEnvironment m_environment;
    QProcess m_bus;
    QProcess m_recorder;
    QProcess m_window;
    QString m_recorded;
    QImage m_without;
    bool m_ready = false;
};

// Connects to the socket as the user nobody and asks for a capture: the window's first answer,
// "connect refused" when the socket could not be reached at all.
QByteArray askAsNobody(const QString &socketPath)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return "pipe failed";
    const QByteArray path = QFile::encodeName(socketPath);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        const auto answer = [&](const char *text) {
            (void)::write(pipeFds[1], text, std::strlen(text));
            ::_exit(0);
        };
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            answer("setuid failed");
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
            answer("connect refused");
        // The window may have refused and closed before this request reaches it: without
        // MSG_NOSIGNAL the write would end this child by SIGPIPE before it reads the refusal.
        (void)::send(fd, "capture quiet\n", 14, MSG_NOSIGNAL);
        char line[64] = {};
        const ssize_t n = ::read(fd, line, sizeof line - 1);
        answer(n > 0 ? QByteArray(line, n).trimmed().constData() : "no answer");
    }
    ::close(pipeFds[1]);
    QByteArray answer;
    char chunk[64];
    ssize_t n;
    while ((n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0)
        answer.append(chunk, n);
    ::close(pipeFds[0]);
    ::waitpid(child, nullptr, 0);
    return answer;
}

} // namespace

class tst_HandOff : public QObject
{
    Q_OBJECT

private slots:
    void capturesWithTheWindowOpenNeverShowIt_data();
    void capturesWithTheWindowOpenNeverShowIt();
    void anotherUserIsRefused_data();
    void anotherUserIsRefused();
    void windowThatDoesNotAnswerStopsTheCapture();
    void writtenFileIsNotified_data();
    void writtenFileIsNotified();
};

void tst_HandOff::capturesWithTheWindowOpenNeverShowIt_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("one capture") << 1;
    QTest::newRow("held key: ten at once") << 10;
}

void tst_HandOff::capturesWithTheWindowOpenNeverShowIt()
{
    QFETCH(int, count);
    Session session;
    QVERIFY(session.isReady());
    // The screen without the window, as the program captures it alone.
    const Run alone = session.capture();
    QCOMPARE(alone.status, 0);
    const QImage without = QImage(alone.out.trimmed()).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!without.isNull());
    QVERIFY(QFile::remove(alone.out.trimmed()));
    QVERIFY(session.openWindow(without));

    std::vector<std::unique_ptr<QProcess>> captures;
    for (int i = 0; i < count; ++i)
        captures.push_back(session.startCapture());
    QStringList written;
    for (auto &capture : captures) {
        const Run run = finish(*capture);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        written.append(run.out.trimmed());
    }
    written.sort();
    written.removeDuplicates();
    QCOMPARE(written.size(), count);
    QCOMPARE(QDir(session.output()).entryList(QDir::Files).size(), count);
    for (const QString &path : written) {
        const QImage picture = QImage(path).convertToFormat(QImage::Format_RGB32);
        QVERIFY2(picture == without,
                 qPrintable(path + ": " + waylandtools::differences(picture, without)));
    }
    QCOMPARE(session.window().state(), QProcess::Running);
}

void tst_HandOff::anotherUserIsRefused_data()
{
    QTest::addColumn<bool>("openToAll");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("socket as made") << false << QByteArray("connect refused");
    // Even where the folder and socket were opened to everybody, the window asks who calls.
    QTest::newRow("socket opened to all") << true << QByteArray("refused");
}

void tst_HandOff::anotherUserIsRefused()
{
    QFETCH(bool, openToAll);
    QFETCH(QByteArray, answer);
    if (onWayland())
        QSKIP("the same on every screen: tested on X11");
    Session session;
    QVERIFY(session.isReady());
    QVERIFY(session.openWindow(QImage()));
    const QStringList sockets = QDir(session.socketFolder()).entryList({"*.sock"}, QDir::System);
    QCOMPARE(sockets.size(), 1);
    const QString socket = session.socketFolder() + '/' + sockets.first();
    if (openToAll) {
        const QString runtime = session.socketFolder().section('/', 0, -2);
        for (const QString &folder : {runtime, session.socketFolder()})
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(socket).constData(), 0666) == 0);
    }

    QCOMPARE(askAsNobody(socket), answer);
    if (openToAll) // a folder open to others is not used for a hand-off: closed again
        QVERIFY(::chmod(QFile::encodeName(session.socketFolder()).constData(), 0700) == 0);
    // Nothing was captured for it, and the window still serves its own user.
    const Run run = session.capture();
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(QDir(session.output()).entryList(QDir::Files), QStringList{"shot-1.bmp"});
}

void tst_HandOff::windowThatDoesNotAnswerStopsTheCapture()
{
    if (onWayland())
        QSKIP("answers its box with xdotool: X11 only");
    Session session;
    QVERIFY(session.isReady());
    const QImage without = screenNow();
    QVERIFY(session.openWindow(without));
    // Stopped only once it has answered a capture and the screen shows it still: a program
    // stopped while it sets its window up may hold the X server for everybody.
    QCOMPARE(session.capture().status, 0);
    QImage last;
    QVERIFY(QTest::qWaitFor(
        [&] {
            const QImage now = screenNow();
            const bool settled = now == last && now != without;
            last = now;
            return settled;
        },
        20000));
    ::kill(static_cast<pid_t>(session.window().processId()), SIGSTOP);

    std::unique_ptr<QProcess> capture = session.startCapture();
    QProcess answer; // bounded: a box that never comes fails the test instead of hanging it
    answer.start("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Vistarel$", "key",
                             "--window", "%1", "Return"});
    if (!answer.waitForFinished(30000))
        answer.kill();
    answer.waitForFinished(3000);
    // The box closes on the key's press: its release, sent to a window that is gone, never
    // comes, and Return stays down in the server for every later box on this display.
    QProcess::execute("xdotool", {"keyup", "Return"});
    const Run run = finish(*capture);
    ::kill(static_cast<pid_t>(session.window().processId()), SIGCONT);
    (void)session.window().waitForFinished(0); // notices an end not yet seen
    const QString window =
        session.window().state() == QProcess::Running
            ? QStringLiteral("running")
            : QStringLiteral("ended, status %1 (%2)")
                  .arg(session.window().exitCode())
                  .arg(session.window().exitStatus() == QProcess::CrashExit ? "crashed or killed"
                                                                            : "exited");
    QVERIFY2(run.status == 1, qPrintable(QString::number(run.status) + ", window " + window + ": " +
                                         run.out + run.err));
    QVERIFY2(run.err.contains("cannot step aside"), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    QCOMPARE(QDir(session.output()).entryList(QDir::Files), QStringList{"shot-1.bmp"});
}

void tst_HandOff::writtenFileIsNotified_data()
{
    QTest::addColumn<bool>("throughWindow");
    QTest::newRow("captured alone") << false;
    QTest::newRow("through the open window") << true;
}

void tst_HandOff::writtenFileIsNotified()
{
    QFETCH(bool, throughWindow);
    if (onWayland())
        QSKIP("the same on every screen: tested on X11");
    Session session(QStringLiteral("show"));
    QVERIFY(session.isReady());
    if (throughWindow)
        QVERIFY(session.openWindow(QImage()));

    // The first capture asks for no notification: the first one recorded is the second's.
    QCOMPARE(session.capture({"--no-notify"}).status, 0);
    const Run run = session.capture({});
    QCOMPARE(run.status, 0);
    const QString file = session.output() + "/shot-2.bmp";
    QCOMPARE(run.out, file + '\n');

    const QStringList recorded = session.recorded(2);
    QCOMPARE(recorded.value(0), "notify|Screenshot saved|shot-2.bmp in " + session.output() +
                                    "|default,Open,open,Open,show,Show in folder|image 256x144");
    QCOMPARE(recorded.value(1), "showitems|file://" + file);
}

QTEST_GUILESS_MAIN(tst_HandOff)
#include "tst_handoff.moc"
