// The real vistarel-ombrix on a heavy Wayland desktop, started headless by its fixture
// (VO_DESKTOP: gnome, kwin, labwc or hyprland; VO_DESKTOP_FOLDER: the fixture's folder),
// capturing with --capture through the desktop portal or the compositor's own capture protocol:
// the picture shows the full-screen window on the screen (on labwc and Hyprland it equals grim's
// of the primary output), the portal's own file is gone, and on GNOME a refusal ends the command
// with the message.

#include "ChildEnvironment.h"
#include "ColourWindowProcess.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

namespace {

QString desktopFolder()
{
    return qEnvironmentVariable("VO_DESKTOP_FOLDER");
}

bool onGnome()
{
    return qEnvironmentVariable("VO_DESKTOP") == QLatin1String("gnome");
}

bool onKWin()
{
    return qEnvironmentVariable("VO_DESKTOP") == QLatin1String("kwin");
}

// labwc and Hyprland, wlroots-like desktops: no portal; grim 1.5 of the testing root takes
// their own pictures.
bool onGrimsDesktop()
{
    const QString desktop = qEnvironmentVariable("VO_DESKTOP");
    return desktop == QLatin1String("labwc") || desktop == QLatin1String("hyprland");
}

// KWin 6 takes screenshots only while it composites with OpenGL, which needs a DRM render
// node; without one (a virtual machine without /dev/dri) it composites with QPainter and
// cancels every screenshot, its portal's too.
bool kwinCannotCapture()
{
    if (!onKWin())
        return false;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        "org.kde.KWin", "/KWin", "org.kde.KWin", "supportInformation"));
    return reply.arguments().value(0).toString().contains("Compositing Type: QPainter");
}

#define SKIP_WHERE_KWIN_CANNOT_CAPTURE()                                                           \
    if (kwinCannotCapture())                                                                       \
        QSKIP("KWin composites with QPainter here (no DRM render node) and cancels screenshots");

// The keyboard of a GNOME remote-desktop session (org.gnome.Mutter.RemoteDesktop): answers
// the program's message box where no input device exists. The session ends with the object.
class GnomeKeyboard
{
public:
    GnomeKeyboard()
    {
        const QDBusMessage reply =
            QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
                QStringLiteral("org.gnome.Mutter.RemoteDesktop"),
                QStringLiteral("/org/gnome/Mutter/RemoteDesktop"),
                QStringLiteral("org.gnome.Mutter.RemoteDesktop"), QStringLiteral("CreateSession")));
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            m_session = qvariant_cast<QDBusObjectPath>(reply.arguments().first()).path();
        m_started = !m_session.isEmpty() && call(QStringLiteral("Start"), {});
    }
    ~GnomeKeyboard()
    {
        if (m_started)
            call(QStringLiteral("Stop"), {});
    }
    GnomeKeyboard(const GnomeKeyboard &) = delete;
    GnomeKeyboard &operator=(const GnomeKeyboard &) = delete;

    bool isReady() const { return m_started; }
    void pressReturn()
    {
        constexpr uint Return = 0xff0d; // XK_Return
        call(QStringLiteral("NotifyKeyboardKeysym"), {Return, true});
        call(QStringLiteral("NotifyKeyboardKeysym"), {Return, false});
    }

private:
    bool call(const QString &method, const QVariantList &arguments)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.gnome.Mutter.RemoteDesktop"), m_session,
            QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session"), method);
        message.setArguments(arguments);
        return QDBusConnection::sessionBus().call(message).type() == QDBusMessage::ReplyMessage;
    }

    QString m_session;
    bool m_started = false;
};

// The desktop's own screenshot through its portal (non-interactive), read and removed; a null
// image when the portal gives none within the bound.
class PortalScreenshot : public QObject
{
    Q_OBJECT
public:
    QImage take()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        const QString token = QStringLiteral("vo_test_%1").arg(++m_count);
        QString sender = bus.baseService().mid(1).replace('.', '_');
        const QString path = "/org/freedesktop/portal/desktop/request/" + sender + '/' + token;
        bus.connect("org.freedesktop.portal.Desktop", path, "org.freedesktop.portal.Request",
                    "Response", this, SLOT(answer(uint, QVariantMap)));
        QDBusMessage call = QDBusMessage::createMethodCall(
            "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
            "org.freedesktop.portal.Screenshot", "Screenshot");
        call << QString() << QVariantMap{{"handle_token", token}, {"interactive", false}};
        m_uri.clear();
        m_answered = false;
        bus.call(call);
        const bool answered = QTest::qWaitFor([this] { return m_answered; }, 30000);
        bus.disconnect("org.freedesktop.portal.Desktop", path, "org.freedesktop.portal.Request",
                       "Response", this, SLOT(answer(uint, QVariantMap)));
        if (!answered)
            return {};
        const QString file = QUrl(m_uri).toLocalFile();
        const QImage image(file);
        QFile::remove(file);
        return image;
    }

private slots:
    void answer(uint code, const QVariantMap &results)
    {
        m_answered = true;
        if (code == 0)
            m_uri = results.value("uri").toString();
    }

private:
    int m_count = 0;
    bool m_answered = false;
    QString m_uri;
};

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

// The program's own HOME with a settings file: BMP (lossless, to compare every pixel), counted
// names, into HOME/shots.
class Home
{
public:
    Home()
    {
        QDir().mkpath(m_dir.path() + "/config/Kestrelby");
        QDir().mkpath(output());
        QFile settings(m_dir.path() + "/config/Kestrelby/Vistarel Ombrix.conf");
        if (settings.open(QIODevice::WriteOnly))
            settings.write("[General]\nText1=" + output().toUtf8() +
                           "\nText2=shot-\nOption1=False\nOption2=True\nOption4=False\n"
                           "Option5=True\n");
    }
    QString path() const { return m_dir.path(); }
    QString output() const { return m_dir.path() + "/shots"; }

    // Runs the program in the desktop session with the backend VO_CAPTURE_BACKEND names (the
    // loader chooses when it is empty); presses Return now and then on keyboard, if given,
    // until the program ends (its message box waits for an answer).
    Run run(const QStringList &arguments, const QString &backend,
            GnomeKeyboard *keyboard = nullptr) const
    {
        QProcess program;
        start(program, arguments, backend);
        QElapsedTimer running;
        running.start();
        while (!program.waitForFinished(300) && running.elapsed() < 60000) {
            if (keyboard)
                keyboard->pressReturn();
        }
        Run run;
        if (program.state() == QProcess::NotRunning && program.exitStatus() == QProcess::NormalExit)
            run.status = program.exitCode();
        else
            program.kill();
        program.waitForFinished(3000);
        run.out = QString::fromUtf8(program.readAllStandardOutput());
        run.err = QString::fromUtf8(program.readAllStandardError());
        return run;
    }

    // Runs --capture until its message box is shown (the message echoed on standard error);
    // status -1 when none came within 60 s.
    Run runUntilMessage(const QString &backend) const
    {
        QProcess program;
        start(program, {"--capture"}, backend);
        Run run;
        const bool shown = QTest::qWaitFor(
            [&] {
                run.err += QString::fromUtf8(program.readAllStandardError());
                return run.err.contains("Cannot capture the screen") ||
                       program.state() == QProcess::NotRunning;
            },
            60000);
        run.status = shown && program.state() == QProcess::Running ? 0 : -1;
        program.kill();
        program.waitForFinished(3000);
        return run;
    }

    void start(QProcess &program, const QStringList &arguments, const QString &backend) const
    {
        QProcessEnvironment environment = testsupport::childEnvironment();
        environment.insert("HOME", m_dir.path());
        environment.insert("XDG_CONFIG_HOME", m_dir.path() + "/config");
        if (backend.isEmpty())
            environment.remove("VO_CAPTURE_BACKEND");
        else
            environment.insert("VO_CAPTURE_BACKEND", backend);
        environment.insert("QT_QPA_PLATFORM", "wayland");
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(VO_PROGRAM), arguments);
    }

private:
    QTemporaryDir m_dir;
};

// The PNG files a portal may have left: in the desktop's and the program's home and Pictures
// folders (GNOME, KDE), and /tmp/out.png when written since the call (xdg-desktop-portal-wlr).
QStringList portalFiles(const QString &ownHome, const QDateTime &since)
{
    QStringList found;
    const QString desktopHome = desktopFolder() + "/home";
    for (const QString &folder :
         {desktopHome, desktopHome + "/Pictures", ownHome, ownHome + "/Pictures"}) {
        for (const QString &name : QDir(folder).entryList({"*.png"}, QDir::Files))
            found << folder + '/' + name;
    }
    const QFileInfo wlr(QStringLiteral("/tmp/out.png"));
    if (wlr.exists() && wlr.lastModified() >= since.addSecs(-1))
        found << wlr.filePath();
    return found;
}

// The colours of vo-colour-window's quadrants.
QRgb quadrantColour(int x, int y, QSize size)
{
    const bool right = x >= size.width() / 2;
    if (y < size.height() / 2)
        return right ? qRgb(30, 200, 40) : qRgb(220, 30, 30);
    return right ? qRgb(230, 220, 40) : qRgb(30, 40, 220);
}

// How picture differs from the full-screen quadrants window: empty when it shows them
// everywhere but for a pointer-sized patch (KWin draws the pointer into its screenshots).
QString quadrantsMismatch(const QImage &picture)
{
    const QSize screen(1920, 1080);
    if (picture.size() != screen)
        return QStringLiteral("the picture is %1x%2").arg(picture.width()).arg(picture.height());
    const QImage pixels = picture.convertToFormat(QImage::Format_RGB32);
    QRect differing;
    int count = 0;
    for (int y = 0; y < screen.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(pixels.constScanLine(y));
        for (int x = 0; x < screen.width(); ++x) {
            const QRgb expected = quadrantColour(x, y, screen);
            if (std::abs(qRed(row[x]) - qRed(expected)) > 2 ||
                std::abs(qGreen(row[x]) - qGreen(expected)) > 2 ||
                std::abs(qBlue(row[x]) - qBlue(expected)) > 2) {
                ++count;
                differing |= QRect(x, y, 1, 1);
            }
        }
    }
    if (differing.width() <= 64 && differing.height() <= 64)
        return {};
    return QStringLiteral("%1 pixels differ, within (%2,%3) %4x%5; (%2,%3) is %6")
        .arg(count)
        .arg(differing.x())
        .arg(differing.y())
        .arg(differing.width())
        .arg(differing.height())
        .arg(QColor(pixels.pixel(differing.topLeft())).name());
}

// The primary monitor's part of a picture of the whole desktop: the test's layouts put it at the
// origin with the highest scale, so its native pixels are the picture's top left 1920x1080.
QImage primaryPart(const QImage &desktop)
{
    return desktop.copy(0, 0, 1920, 1080);
}

// Waits until the desktop's own screenshot shows the full-screen quadrants window (shown is
// true) or something over it (false): with animations on, a window that has painted is not yet
// on the screen. Returns why not, empty once it is so.
QImage grimScreenshot()
{
    const QString file = desktopFolder() + "/grim.png";
    QProcess grim;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VO_ROOT_BINDS",
                       desktopFolder() + ':' + qEnvironmentVariable("XDG_RUNTIME_DIR"));
    grim.setProcessEnvironment(environment);
    grim.start(QStringLiteral(VO_IN_TESTING_ROOT),
               {qEnvironmentVariable("VO_DESKTOP_ROOT"), QStringLiteral("grim"), file});
    // In the virtual machine, under emulation, Hyprland takes seconds for a frame.
    grim.waitForFinished(60000);
    const QImage image(file);
    QFile::remove(file);
    return image;
}

QString waitForScreen(bool shown)
{
    PortalScreenshot portal;
    QString mismatch = QStringLiteral("no picture from the desktop");
    for (int attempt = 0; attempt < 20; ++attempt) {
        const QImage desktop = onGrimsDesktop() ? grimScreenshot() : portal.take();
        if (desktop.isNull())
            return mismatch;
        mismatch = quadrantsMismatch(primaryPart(desktop));
        if (mismatch.isEmpty() == shown)
            return {};
    }
    return shown ? mismatch : QStringLiteral("the program's window never came over the quadrants");
}

bool setGnomePermission(const QString &answer)
{
    return QProcess::execute(QStringLiteral(VO_GNOME_FIXTURE),
                             {QStringLiteral("permit"), desktopFolder(), answer}) == 0;
}

} // namespace

class tst_DesktopCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void capturesTheWindowOnTheScreen_data();
    void capturesTheWindowOnTheScreen();
    void leavesItsWindowOutOfEveryPicture();
    void refusalEndsWithTheMessage();
    void capturesThroughKWinsOwnInterface();
    void endsWithTheMessageWhereKWinCannotCapture_data();
    void endsWithTheMessageWhereKWinCannotCapture();
};

// The session's variables become this process's: the window and the program run in it, and
// the session bus is the desktop's. A fixture that cannot start its desktop on this machine
// says why in FOLDER/unavailable.
void tst_DesktopCapture::initTestCase()
{
    QFile unavailable(desktopFolder() + "/unavailable");
    if (unavailable.open(QIODevice::ReadOnly))
        QSKIP(unavailable.readAll().trimmed().constData());
    QFile session(desktopFolder() + "/session.env");
    QVERIFY2(session.open(QIODevice::ReadOnly),
             qPrintable("no desktop session in " + desktopFolder()));
    while (!session.atEnd()) {
        const QByteArray line = session.readLine().trimmed();
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            qputenv(line.left(equals).constData(), line.mid(equals + 1));
    }
    qputenv("QT_QPA_PLATFORM", "wayland");
}

void tst_DesktopCapture::capturesTheWindowOnTheScreen_data()
{
    QTest::addColumn<QString>("backend");
    if (!onGrimsDesktop())
        QTest::newRow("portal forced") << QStringLiteral("portal");
    // Neither desktop offers wlroots screencopy. GNOME: the portal. KWin: its own interface,
    // which refuses the program (no desktop entry names it), then the portal.
    QTest::newRow("loader's choice") << QString();
}

void tst_DesktopCapture::capturesTheWindowOnTheScreen()
{
    QFETCH(QString, backend);
    SKIP_WHERE_KWIN_CANNOT_CAPTURE()
    ColourWindowProcess window(QRect(), QStringLiteral("quadrants"));
    QVERIFY(window.isReady());
    const QString notShown = waitForScreen(true);
    QVERIFY2(notShown.isEmpty(), qPrintable(notShown));
    Home home;
    const QDateTime start = QDateTime::currentDateTime();

    const Run run = home.run({"--capture"}, backend);

    QVERIFY2(run.status == 0, qPrintable(QString::number(run.status) + ' ' + run.err));
    const QString file = home.output() + "/shot-1.bmp";
    QCOMPARE(run.out, file + '\n');
    const QImage picture(file);
    const QString mismatch = quadrantsMismatch(picture);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    if (onGrimsDesktop()) {
        const QImage reference =
            primaryPart(grimScreenshot()).convertToFormat(QImage::Format_RGB32);
        QVERIFY2(picture.convertToFormat(QImage::Format_RGB32) == reference,
                 "the picture differs from grim's of the primary output");
    }
    const QStringList left = portalFiles(home.path(), start);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(' ')));
}

// The program's window shown over the quadrants: three captures, each handed to the window
// (which hides while it captures, as a click on its button does), and none shows the window,
// with the desktop's animations on.
void tst_DesktopCapture::leavesItsWindowOutOfEveryPicture()
{
    SKIP_WHERE_KWIN_CANNOT_CAPTURE()
    ColourWindowProcess quadrants(QRect(), QStringLiteral("quadrants"));
    QVERIFY(quadrants.isReady());
    QString notShown = waitForScreen(true);
    QVERIFY2(notShown.isEmpty(), qPrintable(notShown));
    Home home;
    QProcess window;
    home.start(window, {}, QString());
    const std::unique_ptr<QProcess, void (*)(QProcess *)> endIt(&window, [](QProcess *process) {
        process->terminate();
        if (!process->waitForFinished(5000))
            process->kill();
    });
    // --capture hands over to the window once it listens on its socket.
    const QDir sockets(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/vistarel-ombrix");
    QVERIFY2(
        QTest::qWaitFor([&] { return !sockets.entryList({"*.sock"}, QDir::System).isEmpty(); },
                        30000),
        qPrintable(
            QStringLiteral("state %1, exit %2: ").arg(window.state()).arg(window.exitCode()) +
            QString::fromUtf8(window.readAllStandardError() + window.readAllStandardOutput())));
    notShown = waitForScreen(false);
    QVERIFY2(notShown.isEmpty(), qPrintable(notShown));

    for (int shot = 1; shot <= 3; ++shot) {
        const Run run = home.run({"--capture"}, QString());
        QVERIFY2(run.status == 0, qPrintable(QString::number(run.status) + ' ' + run.err));
        const QString file = home.output() + QStringLiteral("/shot-%1.bmp").arg(shot);
        const QString mismatch = quadrantsMismatch(QImage(file));
        QVERIFY2(mismatch.isEmpty(), qPrintable(file + ": " + mismatch));
    }
}

void tst_DesktopCapture::refusalEndsWithTheMessage()
{
    if (!onGnome())
        QSKIP("the refusal is set in GNOME's permission store; KDE's portal asks in a dialog");
    GnomeKeyboard keyboard;
    QVERIFY(keyboard.isReady());
    QVERIFY(setGnomePermission(QStringLiteral("no")));
    const std::unique_ptr<void, void (*)(void *)> allowAgain(
        this, [](void *) { setGnomePermission(QStringLiteral("yes")); });
    Home home;
    const QDateTime start = QDateTime::currentDateTime();

    // The box of the message is answered with Return.
    const Run run = home.run({"--capture"}, QStringLiteral("portal"), &keyboard);

    QVERIFY2(run.status == 1, qPrintable(QString::number(run.status) + ' ' + run.err));
    QVERIFY(run.out.isEmpty());
    QVERIFY(QDir(home.output()).isEmpty());
    const QStringList left = portalFiles(home.path(), start);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(' ')));
    // The message (echoed on standard error) names the refusal and where to allow screenshots.
    QVERIFY2(run.err.contains("refused to let the program take screenshots; allow screenshots"),
             qPrintable(run.err));
}

// With a desktop entry in the desktop's own data folder that names the program by its full path
// and asks for the interface, KWin hands the program its screenshots (no portal behind it).
void tst_DesktopCapture::capturesThroughKWinsOwnInterface()
{
    if (!onKWin())
        QSKIP("KWin's own interface is KDE Plasma's");
    SKIP_WHERE_KWIN_CANNOT_CAPTURE()
    const QString applications = desktopFolder() + "/home/.local/share/applications";
    QVERIFY(QDir().mkpath(applications));
    QFile entry(applications + "/vo-test.desktop");
    QVERIFY(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Test\nExec=" VO_PROGRAM
                "\nX-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n");
    entry.close();
    // KWin finds entries through the KService cache: the fixture's kbuildsycoca, in the
    // desktop's own system, brings it up to date at once (its
    // own check may not cover a folder made after the cache was built), and KWin looks at the
    // cache again only 1.5 s after its last look.
    QCOMPARE(QProcess::execute(QStringLiteral(VO_KWIN_FIXTURE),
                               {QStringLiteral("sycoca"), desktopFolder()}),
             0);
    QTest::qWait(2000);
    const std::unique_ptr<QFile, bool (*)(QFile *)> removeIt(
        &entry, [](QFile *file) { return file->remove(); });
    ColourWindowProcess window(QRect(), QStringLiteral("quadrants"));
    QVERIFY(window.isReady());
    const QString notShown = waitForScreen(true);
    QVERIFY2(notShown.isEmpty(), qPrintable(notShown));
    Home home;

    const Run run = home.run({"--capture"}, QStringLiteral("kwin"));

    QVERIFY2(run.status == 0, qPrintable(QString::number(run.status) + ' ' + run.err));
    const QString mismatch = quadrantsMismatch(QImage(home.output() + "/shot-1.bmp"));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

void tst_DesktopCapture::endsWithTheMessageWhereKWinCannotCapture_data()
{
    capturesTheWindowOnTheScreen_data();
}

// Where KWin cancels every screenshot, each route ends in the program's message, before the
// portal's time-out for a first answer (30 s), and never in a wait without end.
void tst_DesktopCapture::endsWithTheMessageWhereKWinCannotCapture()
{
    if (!kwinCannotCapture())
        QSKIP("the desktop takes screenshots here");
    QFETCH(QString, backend);
    Home home;
    QElapsedTimer clock;
    clock.start();

    const Run run = home.runUntilMessage(backend);

    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(clock.elapsed() < 30000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(QDir(home.output()).isEmpty());
}

QTEST_GUILESS_MAIN(tst_DesktopCapture)
#include "tst_desktopcapture.moc"
