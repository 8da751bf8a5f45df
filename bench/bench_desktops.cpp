// bench_desktops [gnome] [kwin]: the program's capture through the desktops' own interfaces, at
// 1920x1080 on the headless GNOME Shell and KWin of the heavy-desktop tests (their fixtures),
// each showing another program's full-screen window, of photo-like content and then of plain
// content (a flat desktop with a few windows of solid colour, whose PNG the desktop encodes and
// the program reads fastest). Each round runs `vistarel-ombrix --capture` (JPEG at quality 85)
// once per route: the desktop portal on both, and on KWin also KWin's own interface (a desktop
// entry in the session authorises the program). From each run: the desktop's answer (from the
// call to the answer, and for KWin to the last of the pixels it writes into a pipe after it;
// from the vo.platform log) and the program's own time on top of it (from the answer to the
// file's path on standard output: reading the portal's PNG, the wait after the capture, the
// JPEG). Medians of VO_BENCH_REPETITIONS rounds (9). With VO_DESKTOP_ROOT naming a testing root
// (scripts/make-testing-root ROOT desktops) the fixtures run that root's desktops (GNOME Shell
// 50, KWin 6.7), as the testing-desktops tests do; VO_DESKTOP_BINDS must then name the build
// folder. Needs the packages of scripts/install-desktops otherwise. On KWin, VO_BENCH_ROUTES
// ("kwin", "portal") names the routes to time, both by default.

#include "BenchFigures.h"
#include "PhotoContent.h"
#include "PhotoWindow.h"
#include "ScreenKinds.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using bench::median;

// A desktop started by its fixture, with the session's environment.
class Desktop
{
public:
    explicit Desktop(const QString &name)
        : m_fixture(QStringLiteral(VO_FIXTURES "/%1-fixture").arg(name))
        , m_folder(m_dir.filePath(name))
    {
        m_running = QProcess::execute(m_fixture, {"start", m_folder}) == 0;
        QFile session(m_folder + "/session.env");
        if (!m_running || !session.open(QIODevice::ReadOnly))
            return;
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.remove("DISPLAY");
        while (!session.atEnd()) {
            const QString line = QString::fromUtf8(session.readLine().trimmed());
            const qsizetype equals = line.indexOf('=');
            if (equals > 0)
                m_environment.insert(line.left(equals), line.mid(equals + 1));
        }
        m_environment.insert("QT_QPA_PLATFORM", "wayland");
    }
    ~Desktop()
    {
        if (m_running)
            QProcess::execute(m_fixture, {"stop", m_folder});
    }
    bool isRunning() const { return m_running; }
    // Brings the session's service cache up to date, with the desktop's own kbuildsycoca.
    void rebuildServiceCache() const { QProcess::execute(m_fixture, {"sycoca", m_folder}); }
    QString home() const { return m_folder + "/home"; }
    QProcessEnvironment environment() const { return m_environment; }

private:
    QTemporaryDir m_dir;
    QString m_fixture;
    QString m_folder;
    bool m_running = false;
    QProcessEnvironment m_environment;
};

struct Timing
{
    double answer = 0; // the desktop's answer, ms
    double own = 0;    // from the answer to the file's path, ms
    double whole = 0;  // the process from start to exit, ms
};

// One `--capture` through route ("portal" or "kwin"), timed by the lines it writes as they come.
bool captureOnce(const Desktop &desktop, const QString &route, const QString &home, Timing &timing)
{
    QProcess program;
    QProcessEnvironment environment = desktop.environment();
    environment.insert("HOME", home);
    environment.insert("XDG_CONFIG_HOME", home + "/config");
    environment.insert("VO_CAPTURE_BACKEND", route);
    environment.insert("QT_LOGGING_RULES", "vo.platform.debug=true");
    program.setProcessEnvironment(environment);
    // Logged once the pixels are in: the portal's answer with the PNG read by the program (its
    // own time), or the end of KWin's pixels in the pipe, after the call (KWin's answer; the
    // program may have encoded the rows that came before).
    static const QRegularExpression portalRead(
        QStringLiteral("answered in ([0-9.]+) ms; its picture read in ([0-9.]+) ms"));
    static const QRegularExpression kwinPixels(
        QStringLiteral("its pixels all in ([0-9.]+) ms after the call"));
    QElapsedTimer clock;
    double answeredAt = -1, pathAt = -1, reading = 0;
    QString errors;
    QObject::connect(&program, &QProcess::readyReadStandardError, [&] {
        while (program.canReadLine()) {
            const QString line = QString::fromUtf8(program.readLine());
            errors += line;
            if (const QRegularExpressionMatch match = portalRead.match(line); match.hasMatch()) {
                answeredAt = double(clock.nsecsElapsed()) / 1e6;
                timing.answer = match.captured(1).toDouble();
                reading = match.captured(2).toDouble();
            } else if (const QRegularExpressionMatch pixels = kwinPixels.match(line);
                       pixels.hasMatch()) {
                answeredAt = double(clock.nsecsElapsed()) / 1e6;
                timing.answer = pixels.captured(1).toDouble();
                reading = 0;
            }
        }
    });
    QObject::connect(&program, &QProcess::readyReadStandardOutput, [&] {
        if (pathAt < 0)
            pathAt = double(clock.nsecsElapsed()) / 1e6;
        program.readAllStandardOutput();
    });
    clock.start();
    program.setReadChannel(QProcess::StandardError);
    program.start(QStringLiteral(VO_PROGRAM), {"--capture"});
    if (!program.waitForFinished(60000) || program.exitCode() != 0 || answeredAt < 0 ||
        pathAt < 0) {
        std::fprintf(stderr, "bench_desktops: a capture failed (status %d): %s%s\n",
                     program.exitCode(), qPrintable(errors),
                     program.readAllStandardError().constData());
        program.kill();
        program.waitForFinished();
        return false;
    }
    timing.whole = double(clock.nsecsElapsed()) / 1e6;
    timing.own = pathAt - answeredAt + reading;
    return true;
}

struct Route
{
    QString label;
    QString backend;
    QString content; // "photo" or "plain": the switch of the window's process
    std::vector<Timing> timings;
    int failures = 0; // captures that failed (KDE's portal now and then answers "cancelled")
};

// Runs the rounds on one desktop, over each content in turn; returns its routes, or nothing
// when the desktop or its window failed.
std::vector<Route> benchDesktop(const QString &name, int rounds)
{
    Desktop desktop(name);
    if (!desktop.isRunning()) {
        std::fprintf(stderr, "bench_desktops: %s did not start\n", qPrintable(name));
        return {};
    }
    QStringList backends{"portal"};
    if (name == QLatin1String("kwin")) {
        backends << "kwin";
        if (const QString only = qEnvironmentVariable("VO_BENCH_ROUTES"); !only.isEmpty())
            backends = only.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QString applications = desktop.home() + "/.local/share/applications";
        QDir().mkpath(applications);
        QFile entry(applications + "/vo-bench.desktop");
        if (entry.open(QIODevice::WriteOnly))
            entry.write("[Desktop Entry]\nType=Application\nName=Bench\nExec=" VO_PROGRAM
                        "\nX-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n");
        entry.close();
        desktop.rebuildServiceCache();
        QThread::msleep(2000); // KWin looks at its cache again 1.5 s after its last look
    }
    QTemporaryDir home;
    QDir().mkpath(home.filePath("config/Kestrelby"));
    QDir().mkpath(home.filePath("shots"));
    QFile settings(home.filePath("config/Kestrelby/Vistarel Ombrix.conf"));
    if (settings.open(QIODevice::WriteOnly))
        settings.write("[General]\nText1=" + home.filePath("shots").toUtf8() +
                       "\nText2=shot-\nOption1=False\nOption2=True\nOption4=True\n"
                       "Option5=False\n");
    settings.close();
    std::vector<Route> all;
    for (const QString content : {"photo", "plain"}) {
        std::vector<Route> routes;
        for (const QString &backend : backends)
            routes.push_back({backend == "kwin" ? "KWin's interface" : "desktop portal",
                              backend,
                              content,
                              {},
                              0});
        QProcess window;
        const std::unique_ptr<QProcess, void (*)(QProcess *)> closeWindow(
            &window, [](QProcess *process) {
                process->closeWriteChannel();
                if (!process->waitForFinished(3000))
                    process->kill();
                process->waitForFinished(3000);
            });
        window.setProcessEnvironment(desktop.environment());
        window.start(QCoreApplication::applicationFilePath(), {"--" + content});
        if (!window.waitForReadyRead(30000) || !window.readLine().startsWith("ready")) {
            std::fprintf(stderr, "bench_desktops: no %s window on %s\n", qPrintable(content),
                         qPrintable(name));
            return {};
        }
        Timing warmUp;
        for (Route &route : routes)
            captureOnce(desktop, route.backend, home.path(), warmUp);
        for (int round = 0; round < rounds; ++round) {
            for (Route &route : routes) {
                Timing timing;
                if (captureOnce(desktop, route.backend, home.path(), timing))
                    route.timings.push_back(timing);
                else
                    ++route.failures;
            }
            for (const QString &file : QDir(home.filePath("shots")).entryList(QDir::Files))
                QFile::remove(home.filePath("shots/" + file));
        }
        all.insert(all.end(), routes.begin(), routes.end());
    }
    return all;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--photo") == 0)
        return bench::photoWindowMain(argc, argv, true);
    if (argc > 1 && qstrcmp(argv[1], "--plain") == 0)
        return bench::photoWindowMain(argc, argv, true, bench::flatContent);
    QCoreApplication application(argc, argv);
    QStringList desktops = application.arguments().mid(1);
    if (desktops.isEmpty())
        desktops = {"gnome", "kwin"};
    const int rounds = qEnvironmentVariableIsSet("VO_BENCH_REPETITIONS")
                           ? qEnvironmentVariableIntValue("VO_BENCH_REPETITIONS")
                           : 9;
    const QByteArray root = qgetenv("VO_DESKTOP_ROOT");
    std::printf("desktops at 1920x1080%s%s, vistarel-ombrix --capture (JPEG q85) over another "
                "program's full-screen window, photo-like then plain (medians of %d rounds):\n",
                root.isEmpty() ? "" : " inside the testing root ", root.constData(), rounds);
    QString last = QStringLiteral("desktops");
    int status = 0;
    for (const QString &name : desktops) {
        const std::vector<Route> routes = benchDesktop(name, rounds);
        if (routes.empty()) {
            status = 1;
            continue;
        }
        for (const Route &route : routes) {
            std::vector<double> answers, own, whole;
            for (const Timing &timing : route.timings) {
                answers.push_back(timing.answer);
                own.push_back(timing.own);
                whole.push_back(timing.whole);
            }
            std::printf("  %-6s %-5s %-17s answer %6.1f ms, own time after it %5.1f ms (%4.1f %%), "
                        "whole process %6.1f ms; %d failed\n",
                        qPrintable(name), qPrintable(route.content), qPrintable(route.label),
                        median(answers), median(own), 100 * median(own) / median(answers),
                        median(whole), route.failures);
            last += QStringLiteral(" %1-%2%3=%4")
                        .arg(name, route.backend,
                             route.content == QLatin1String("photo") ? QString() : "-plain")
                        .arg(median(own) / median(answers), 0, 'f', 3);
        }
        // KWin's interface against its portal, whole processes, over the photo-like window.
        if (routes.size() > 1 && routes[1].backend == QLatin1String("kwin")) {
            std::vector<double> portal, kwin;
            for (const Timing &timing : routes[0].timings)
                portal.push_back(timing.whole);
            for (const Timing &timing : routes[1].timings)
                kwin.push_back(timing.whole);
            last += QStringLiteral(" %1-kwin/portal=%2")
                        .arg(name)
                        .arg(median(kwin) / median(portal), 0, 'f', 2);
        }
    }
    std::printf("%s\n", qPrintable(last));
    return status;
}
