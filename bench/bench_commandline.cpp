// A capture from the command line as a whole process: `vistarel-ombrix --capture` from start to
// exit (its file written) at 1920x1080, next to scrot writing a JPEG of the same screen at the
// same quality, on a private Xvfb of that size with photo-like content. Medians over
// interleaved rounds; the last line is `commandline ours/scrot=<ratio>`.
#include "BenchFigures.h"
#include "PhotoContent.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
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

} // namespace

int main(int argc, char *argv[])
{
    // A server of its own at 1920x1080: Xvfb writes its display number to standard output.
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"),
               {"-displayfd", "1", "-screen", "0", "1920x1080x24", "-nolisten", "tcp", "-noreset"});
    if (!xvfb.waitForReadyRead(20000)) {
        std::fprintf(stderr, "bench_commandline: Xvfb did not start\n");
        return 1;
    }
    const QByteArray display = ":" + xvfb.readLine().trimmed();
    qputenv("DISPLAY", display);
    const auto stopServer = [&xvfb] {
        xvfb.terminate();
        xvfb.waitForFinished(5000);
    };

    int status = 0;
    {
        QGuiApplication application(argc, argv);
        const QString scrot = QStandardPaths::findExecutable(QStringLiteral("scrot"));
        QTemporaryDir home;
        const QString shots = home.path() + "/shots";
        QDir().mkpath(shots);
        QDir().mkpath(home.path() + "/config/Kestrelby");
        QFile settings(home.path() + "/config/Kestrelby/Vistarel Ombrix.conf");
        if (scrot.isEmpty() || !settings.open(QIODevice::WriteOnly) ||
            !bench::putOnRootWindow(bench::photoContent(1920, 1080))) {
            std::fprintf(stderr, "bench_commandline: no scrot, settings file or screen\n");
            stopServer();
            return 1;
        }
        settings.write("[General]\nText1=" + shots.toUtf8() +
                       "\nText2=key-\nOption1=False\nOption2=True\n");
        settings.close();

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("XDG_CONFIG_HOME", home.path() + "/config");
        environment.insert("DISPLAY", QString::fromLatin1(display));
        environment.insert("QT_QPA_PLATFORM", "xcb");

        std::vector<double> ours, theirs;
        const int rounds = 15;
        for (int round = -1; round < rounds && status == 0; ++round) {
            const double a = timed(QStringLiteral(VO_PROGRAM), {"--capture"}, environment);
            const double b =
                timed(scrot, {"-o", "-q", "85", home.path() + "/scrot.jpg"}, environment);
            if (a < 0 || b < 0) {
                std::fprintf(stderr, "bench_commandline: a run failed (ours %.0f, scrot %.0f)\n", a,
                             b);
                status = 1;
            } else if (round >= 0) {
                ours.push_back(a);
                theirs.push_back(b);
            }
            // Each capture writes a new file, as the counted names do.
            for (const QString &name : QDir(shots).entryList(QDir::Files))
                QFile::remove(shots + '/' + name);
        }
        if (status == 0) {
            std::printf("command line at 1920x1080, whole process from start to exit with the file "
                        "written (medians of %d rounds):\n"
                        "  vistarel-ombrix --capture (JPEG q85)  %6.1f ms\n"
                        "  scrot -q 85 (JPEG)                    %6.1f ms\n"
                        "commandline ours/scrot=%.2f\n",
                        rounds, median(ours), median(theirs), median(ours) / median(theirs));
            std::fflush(stdout);
        }
    }
    stopServer();
    return status;
}
