// A capture from the command line as a whole process: `vistarel-ombrix --capture` from start to
// exit (its file written) at 1920x1080 and at 3840x2160, next to scrot writing a JPEG of the same
// screen at the same quality, on a private Xvfb of each size with photo-like content; then the
// same command handed to a running window of the program, and how long that window takes to
// answer a request ("queued"). Medians over interleaved rounds; the last lines are
// `commandline ours/scrot=<ratio>` (1920x1080), `commandline-4k ours/scrot=<ratio>` and
// `commandline-window window/alone=<ratio>` (1920x1080).
#include "BenchFigures.h"
#include "PhotoContent.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::median;

// Runs a program to its end; its wall time in ms, or a negative value when it failed.
double timed(const QString &program, const QStringList &arguments,
             const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return -1;
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

// Asks the window behind socketPath for a capture; the ms until it answered "queued" (negative
// when it did not), after which its capture is waited for.
double answerTime(const QString &socketPath)
{
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QElapsedTimer clock;
    clock.start();
    double answered = -1;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 &&
        ::write(fd, "capture quiet\n", 14) == 14) {
        char line[4096];
        const ssize_t n = ::read(fd, line, sizeof line);
        if (n >= 7 && std::memcmp(line, "queued\n", 7) == 0)
            answered = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        while (::read(fd, line, sizeof line) > 0) {
        }
    }
    ::close(fd);
    return answered;
}

struct Figures
{
    double ours = 0;
    double scrot = 0;
    double window = 0;
    double answerMedian = 0;
    double answerMax = 0;
};

// The rounds on one screen size; false when a run failed.
bool measure(int argc, char *argv[], int width, int height, bool withWindow, Figures &figures)
{
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"),
               {"-displayfd", "1", "-screen", "0",
                QStringLiteral("%1x%2x24").arg(width).arg(height), "-nolisten", "tcp", "-noreset"});
    if (!xvfb.waitForReadyRead(20000)) {
        std::fprintf(stderr, "bench_commandline: Xvfb did not start\n");
        return false;
    }
    const QByteArray display = ":" + xvfb.readLine().trimmed();
    qputenv("DISPLAY", display);
    const auto stopServer = qScopeGuard([&xvfb] {
        xvfb.terminate();
        xvfb.waitForFinished(5000);
    });

    QGuiApplication application(argc, argv);
    const QString scrot = QStandardPaths::findExecutable(QStringLiteral("scrot"));
    QTemporaryDir home;
    const QString shots = home.path() + "/shots";
    const QString runtime = home.path() + "/runtime";
    QDir().mkpath(shots);
    QDir().mkpath(runtime);
    ::chmod(QFile::encodeName(runtime).constData(), 0700);
    QDir().mkpath(home.path() + "/config/Kestrelby");
    QFile settings(home.path() + "/config/Kestrelby/Vistarel Ombrix.conf");
    if (scrot.isEmpty() || !settings.open(QIODevice::WriteOnly) ||
        !bench::putOnRootWindow(bench::photoContent(width, height))) {
        std::fprintf(stderr, "bench_commandline: no scrot, settings file or screen\n");
        return false;
    }
    settings.write("[General]\nText1=" + shots.toUtf8() +
                   "\nText2=key-\nOption1=False\nOption2=True\n");
    settings.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.path() + "/config");
    environment.insert("XDG_RUNTIME_DIR", runtime);
    environment.remove("DBUS_SESSION_BUS_ADDRESS"); // no notification: a bare X server
    environment.insert("DISPLAY", QString::fromLatin1(display));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    const auto clearShots = [&shots] {
        for (const QString &name : QDir(shots).entryList(QDir::Files))
            QFile::remove(shots + '/' + name);
    };

    const int rounds = 9;
    // Rounds of two timings taken in turn, the first round a warm-up; false when one failed.
    const auto interleaved = [&](const std::function<double()> &first,
                                 const std::function<double()> &second, const char *what,
                                 std::vector<double> &firsts, std::vector<double> &seconds) {
        for (int round = -1; round < rounds; ++round) {
            const double a = first();
            const double b = second();
            clearShots();
            if (a < 0 || b < 0) {
                std::fprintf(stderr, "bench_commandline: a run %s failed (%.0f, %.0f)\n", what, a,
                             b);
                return false;
            }
            if (round >= 0) {
                firsts.push_back(a);
                seconds.push_back(b);
            }
        }
        return true;
    };
    const auto ourCapture = [&] {
        return timed(QStringLiteral(VO_PROGRAM), {"--capture"}, environment);
    };

    std::vector<double> ours, theirs;
    if (!interleaved(
            ourCapture,
            [&] {
                return timed(scrot, {"-o", "-q", "85", home.path() + "/scrot.jpg"}, environment);
            },
            "alone or of scrot", ours, theirs))
        return false;
    figures.ours = median(ours);
    figures.scrot = median(theirs);
    if (!withWindow)
        return true;

    // The window, open and reachable, takes the same command.
    QProcess window;
    window.setProcessEnvironment(environment);
    window.setStandardOutputFile(QProcess::nullDevice());
    window.start(QStringLiteral(VO_PROGRAM), {});
    const QString sockets = runtime + "/vistarel-ombrix";
    QElapsedTimer waited;
    waited.start();
    while (QDir(sockets).entryList({"*.sock"}, QDir::System).isEmpty() && waited.elapsed() < 20000)
        QThread::msleep(20);
    const QStringList names = QDir(sockets).entryList({"*.sock"}, QDir::System);
    const auto stopWindow = qScopeGuard([&window] {
        window.kill();
        window.waitForFinished(5000);
    });
    if (names.isEmpty()) {
        std::fprintf(stderr, "bench_commandline: the window did not open\n");
        return false;
    }
    std::vector<double> handed, answers;
    if (!interleaved(
            ourCapture, [&] { return answerTime(sockets + '/' + names.first()); },
            "through the window", handed, answers))
        return false;
    figures.window = median(handed);
    figures.answerMedian = median(answers);
    figures.answerMax = *std::max_element(answers.begin(), answers.end());
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    Figures full, large;
    if (!measure(argc, argv, 1920, 1080, true, full) ||
        !measure(argc, argv, 3840, 2160, false, large))
        return 1;
    std::printf(
        "command line, whole process from start to exit with the file written (medians of "
        "9 rounds):\n"
        "  1920x1080  vistarel-ombrix --capture (JPEG q85)  %6.1f ms, scrot -q 85 %6.1f ms\n"
        "  3840x2160  vistarel-ombrix --capture (JPEG q85)  %6.1f ms, scrot -q 85 %6.1f ms\n"
        "  1920x1080  through the open window               %6.1f ms; the window answers "
        "a request in %.1f ms (median), %.1f ms at most\n"
        "commandline ours/scrot=%.2f\n"
        "commandline-4k ours/scrot=%.2f\n"
        "commandline-window window/alone=%.2f\n",
        full.ours, full.scrot, large.ours, large.scrot, full.window, full.answerMedian,
        full.answerMax, full.ours / full.scrot, large.ours / large.scrot, full.window / full.ours);
    std::fflush(stdout);
    return 0;
}
