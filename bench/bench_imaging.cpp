// The imaging benchmark: on the 4K screen that run-bench provides, with busy photo-like content,
// compares the capture and the writers with what a plain Qt program would do, as medians over
// several repetitions. Run with --fresh or --fresh-cue it instead measures, in a fresh process,
// the first capture+JPEG against the ones after it, and the first one's peak memory.
#include "BenchFigures.h"
#include "PhotoContent.h"

#include <BmpWriter.h>
#include <JpegWriter.h>
#include <NullCaptureBackend.h>
#include <PlatformLoader.h>
#include <X11CaptureBackend.h>
#include <X11Connection.h>

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

// One measured operation: run(i) is timed, tidy(i) runs untimed after it.
struct Measurement
{
    std::function<void(int)> run;
    std::function<void(int)> tidy;
    std::vector<double> times;
};

// Runs every measurement once per round, interleaved, so that a change in the machine's load
// affects all of them alike; the first round is a warm-up. Returns nothing; see median().
void runRounds(int repetitions, std::vector<Measurement *> measurements)
{
    for (int round = -1; round < repetitions; ++round) {
        for (Measurement *m : measurements) {
            const auto start = std::chrono::steady_clock::now();
            m->run(round);
            const std::chrono::duration<double, std::milli> elapsed =
                std::chrono::steady_clock::now() - start;
            if (round >= 0)
                m->times.push_back(elapsed.count());
            if (m->tidy)
                m->tidy(round);
        }
    }
}

using bench::median;

long statusKb(const char *field)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// A fresh process's first capture+JPEG and the ones after it, with the peak resident memory of
// the first above the idle process. With cue, the backend first prepares its segment, as the
// program does when the pointer comes over its window (the idle size then includes it).
// Prints: idle KB, peak KB, first ms, then ms (median of 5), preparation ms.
int freshRun(bool cue)
{
    QTemporaryDir dir;
    platform::X11CaptureBackend::Options options;
    options.prepareSegment = true;
    platform::X11CaptureBackend backend(platform::X11Connection::open(), options);
    if (!dir.isValid())
        return 1;
    double preparation = 0;
    if (cue) {
        const auto start = std::chrono::steady_clock::now();
        backend.prepareForCapture();
        backend.waitUntilPrepared();
        preparation =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
    }
    const long idle = statusKb("VmRSS");
    QFile clear("/proc/self/clear_refs"); // "5" resets the peak to the current size
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
        return 1;
    clear.close();
    std::vector<double> times;
    long peak = 0;
    for (int i = 0; i < 6; ++i) {
        const auto start = std::chrono::steady_clock::now();
        imaging::SaveJPG(backend.captureScreen(), dir.filePath(QString("%1.jpg").arg(i)), 85);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        if (i == 0)
            peak = statusKb("VmHWM");
    }
    const double first = times.front();
    times.erase(times.begin());
    std::printf("%ld %ld %.2f %.2f %.2f\n", idle, peak, first, median(times), preparation);
    return 0;
}

struct FreshProcess
{
    double idleMb = 0;
    double peakMb = 0;
    double firstMs = 0;       // capture+JPEG, the process's first
    double warmMs = 0;        // the ones after it
    double preparationMs = 0; // from the cue to the prepared segment
};

// freshRun() in child processes, alternating without and with a cue; medians of each figure.
std::pair<FreshProcess, FreshProcess> measureFreshProcesses(int processes)
{
    std::vector<double> figures[2][5];
    for (int i = 0; i < processes; ++i) {
        for (int cue = 0; cue < 2; ++cue) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {cue ? "--fresh-cue" : "--fresh"});
            child.waitForFinished(60000);
            const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
            if (fields.size() != 5)
                continue;
            for (int f = 0; f < 5; ++f)
                figures[cue][f].push_back(fields[f].toDouble());
        }
    }
    const auto process = [&](int cue) {
        return FreshProcess{median(figures[cue][0]) * 1024 / 1e6,
                            median(figures[cue][1]) * 1024 / 1e6, median(figures[cue][2]),
                            median(figures[cue][3]), median(figures[cue][4])};
    };
    return {process(0), process(1)};
}

double syncMs(const QString &path)
{
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    ::fdatasync(fd);
    ::close(fd);
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    return elapsed.count();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && QByteArray(argv[1]) == "--fresh")
        return freshRun(false);
    if (argc > 1 && QByteArray(argv[1]) == "--fresh-cue")
        return freshRun(true);

    QGuiApplication application(argc, argv);
    QScreen *screen = QGuiApplication::primaryScreen();
    const QSize size = screen->size() * screen->devicePixelRatio();
    if (!bench::putOnRootWindow(bench::photoContent(size.width(), size.height()))) {
        std::fprintf(stderr, "bench_imaging: cannot draw on the screen\n");
        return 1;
    }
    auto backend = platform::loadDesktop().capture;
    QTemporaryDir dir;
    if (dynamic_cast<platform::NullCaptureBackend *>(backend.get()) || !dir.isValid()) {
        std::fprintf(stderr, "bench_imaging: no capture backend or no temporary folder\n");
        return 1;
    }
    const int repetitions = qEnvironmentVariableIntValue("VO_BENCH_REPETITIONS") > 0
                                ? qEnvironmentVariableIntValue("VO_BENCH_REPETITIONS")
                                : 15;
    // Every run writes a new file, as the program's naming modes mostly do; the file is removed
    // untimed afterwards.
    const auto name = [&dir](const char *what, int i, const char *suffix) {
        return dir.filePath(QString("%1-%2.%3").arg(what).arg(i + 1).arg(suffix));
    };
    const auto remove = [](const QString &path) { QFile::remove(path); };
    // Keeps the last file of each kind, for the sizes.
    const auto tidy = [&](const QString &path, QString &keep) {
        if (!keep.isEmpty())
            remove(keep);
        keep = path;
    };

    imaging::Picture complete = backend->captureScreen();
    complete.waitForPixels();
    const int bitsPerPixel = complete.bitsPerPixel();
    QString encoded, jpeg, bmp, qtJpegFile, qtBmpFile;
    Measurement capture{[&](int) { backend->captureScreen().waitForPixels(); }, {}, {}};
    Measurement encode{[&](int i) { imaging::SaveJPG(complete, name("encode", i, "jpg"), 85); },
                       [&](int i) { tidy(name("encode", i, "jpg"), encoded); },
                       {}};
    Measurement captureJpeg{
        [&](int i) { imaging::SaveJPG(backend->captureScreen(), name("ours", i, "jpg"), 85); },
        [&](int i) { tidy(name("ours", i, "jpg"), jpeg); },
        {}};
    Measurement captureBmp{
        [&](int i) { imaging::SaveBMP(backend->captureScreen(), name("ours", i, "bmp")); },
        [&](int i) { tidy(name("ours", i, "bmp"), bmp); },
        {}};
    Measurement qtJpeg{[&](int i) {
                           const QPixmap grab = screen->grabWindow(0);
                           QImageWriter writer(name("qt", i, "jpg"), "jpeg");
                           writer.setQuality(85);
                           writer.write(grab.toImage());
                       },
                       [&](int i) { tidy(name("qt", i, "jpg"), qtJpegFile); },
                       {}};
    Measurement qtBmp{
        [&](int i) { screen->grabWindow(0).toImage().save(name("qt", i, "bmp"), "BMP"); },
        [&](int i) { tidy(name("qt", i, "bmp"), qtBmpFile); },
        {}};
    // The complete picture holds a second segment only while "encode alone" needs it.
    // Our capture and JPEG rounds come first, on their own: interleaved with the BMP writes
    // (the kernel writes back their tens of megabytes meanwhile) and with Qt's grabs (which
    // map and free twice the framebuffer each time), they took up to half as long again, at
    // random, and the overlap figure measured the machine rather than the pipeline.
    runRounds(repetitions, {&capture, &encode, &captureJpeg});
    runRounds(repetitions, {&qtJpeg, &captureBmp, &qtBmp});
    complete = {};

    // What flushing each file to the disk before the rename would add.
    imaging::SaveJPG(backend->captureScreen(), name("sync", 0, "jpg"), 85);
    imaging::SaveBMP(backend->captureScreen(), name("sync", 0, "bmp"));
    const double syncJpeg = syncMs(name("sync", 0, "jpg"));
    const double syncBmp = syncMs(name("sync", 0, "bmp"));

    const auto [cold, cued] = measureFreshProcesses(5);
    const double frameMb = double(size.width()) * size.height() * 4 / 1e6;

    std::printf("imaging bench: %dx%d, %d bits per pixel, median of %d runs\n", size.width(),
                size.height(), bitsPerPixel, repetitions);
    const auto line = [](const char *what, double ms, const QString &file = {}) {
        if (file.isEmpty())
            std::printf("  %-32s %8.1f ms\n", what, ms);
        else
            std::printf("  %-32s %8.1f ms  (%.2f MB)\n", what, ms,
                        double(QFileInfo(file).size()) / 1e6);
    };
    line("capture alone", median(capture.times));
    line("JPEG q85 encode+write alone", median(encode.times), encoded);
    line("capture+JPEG q85", median(captureJpeg.times));
    line("capture+BMP", median(captureBmp.times), bmp);
    line("Qt grabWindow+QImageWriter JPEG", median(qtJpeg.times), qtJpegFile);
    line("Qt grabWindow+QImage::save BMP", median(qtBmp.times), qtBmpFile);
    std::printf("  fdatasync before rename would add: JPEG %.1f ms, BMP %.1f ms\n", syncJpeg,
                syncBmp);
    std::printf("  a fresh process's first capture+JPEG and the ones after it (medians of 5 "
                "processes); peak memory of the first above idle (framebuffer %.1f MB):\n",
                frameMb);
    std::printf("    no cue before it     first %6.1f ms, then %5.1f ms (%.2f x); peak %5.1f MB\n",
                cold.firstMs, cold.warmMs, cold.firstMs / cold.warmMs, cold.peakMb - cold.idleMb);
    std::printf("    prepared on a cue    first %6.1f ms, then %5.1f ms (%.2f x); peak %5.1f MB\n",
                cued.firstMs, cued.warmMs, cued.firstMs / cued.warmMs, cued.peakMb - cued.idleMb);
    std::printf("    preparing took %.1f ms and holds %.1f MB until the quiet time\n",
                cued.preparationMs, cued.idleMb - cold.idleMb);
    std::printf("speedup jpeg=%.2f bmp=%.2f overlap=%.2f first=%.2f\n",
                median(qtJpeg.times) / median(captureJpeg.times),
                median(qtBmp.times) / median(captureBmp.times),
                median(captureJpeg.times) / std::max(median(capture.times), median(encode.times)),
                cued.firstMs / cued.warmMs);
    return 0;
}
