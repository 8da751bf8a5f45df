// The Wayland benchmark: wlroots screencopy (and ext-image-copy-capture where sway offers it: with
// VO_SWAY_ROOT naming the testing root, the sways are today's from that root) at 3840x2160 on a
// headless sway of its own, next to the X11 capture on run-bench's 4K Xvfb in the same rounds, both
// screens covered with the same photo-like content; grim's whole process for comparison; a fresh
// process's first capture; and click-to-file at 1920x1080 on a second sway (bench_clicktofile run
// there, over another program's window and then tiled between two slow ones). Medians over
// interleaved rounds.
#include "BenchFigures.h"
#include "PhotoContent.h"
#include "PhotoWindow.h"

#include <ExtImageCopyCapture.h>
#include <ImageFormat.h>
#include <JpegWriter.h>
#include <WaylandCaptureBackend.h>
#include <WaylandConnection.h>
#include <WlrScreencopy.h>
#include <X11CaptureBackend.h>
#include <X11Connection.h>

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

namespace {

using bench::Clock;
using bench::median;
using bench::ms;

double timed(const std::function<void()> &run)
{
    const auto start = Clock::now();
    run();
    return ms(Clock::now() - start);
}

// A headless sway of the test fixture's kind, in a temporary folder, for the run.
class Sway
{
public:
    explicit Sway(const QString &size)
        : m_folder(m_dir.path() + "/sway")
    {
        m_running =
            QProcess::execute(QStringLiteral(VO_SWAY_FIXTURE), {"start", m_folder, size}) == 0;
    }
    ~Sway()
    {
        if (m_running)
            QProcess::execute(QStringLiteral(VO_SWAY_FIXTURE), {"stop", m_folder});
    }
    bool isRunning() const { return m_running; }
    QString socket() const { return m_folder + "/wayland-socket"; }

    // The environment of a Qt program native on this sway.
    QProcessEnvironment clientEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("WAYLAND_DISPLAY", socket());
        environment.insert("XDG_RUNTIME_DIR", m_folder + "/client-runtime");
        environment.insert("QT_QPA_PLATFORM", "wayland");
        environment.insert("SWAYSOCK", m_folder + "/swaysock");
        environment.remove("DISPLAY");
        return environment;
    }

private:
    QTemporaryDir m_dir;
    QString m_folder;
    bool m_running = false;
};

// Another program's window of photo-like content on a sway (this program, --photo), which
// tiles it over the whole output.
class PhotoClient
{
public:
    explicit PhotoClient(const Sway &sway)
    {
        m_process.setProcessEnvironment(sway.clientEnvironment());
        m_process.start(QCoreApplication::applicationFilePath(), {"--photo"});
        m_ready = m_process.waitForReadyRead(20000) && m_process.readLine().startsWith("ready");
    }
    ~PhotoClient()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }
    bool isReady() const { return m_ready; }

private:
    QProcess m_process;
    bool m_ready = false;
};

// A fresh process's first capture+JPEG on $WAYLAND_DISPLAY: connecting, binding, the capture
// and the write; with prepared, the buffer is prepared first, as the program does on a cue
// (the pointer over its window), and only the capture+JPEG counts.
int firstCaptureMain(bool prepared)
{
    QTemporaryDir dir;
    const auto start = Clock::now();
    auto screencopy = platform::WlrScreencopy::create(platform::WaylandConnection::open());
    if (!screencopy || !dir.isValid())
        return 1;
    auto from = start;
    if (prepared) {
        screencopy->prepareInBackground();
        screencopy->waitUntilPrepared();
        from = Clock::now();
    }
    platform::WaylandCaptureBackend backend(screencopy, false);
    imaging::SaveJPG(backend.captureScreen(), dir.filePath("first.jpg"), 85);
    std::printf("%.1f\n", ms(Clock::now() - from));
    return 0;
}

double freshProcessMs(const Sway &sway, bool prepared)
{
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        QProcess child;
        child.setProcessEnvironment(sway.clientEnvironment());
        child.start(QCoreApplication::applicationFilePath(),
                    {prepared ? "--first-capture-prepared" : "--first-capture"});
        child.waitForFinished(60000);
        times.push_back(child.readAllStandardOutput().trimmed().toDouble());
    }
    return median(times);
}

// grim's whole process, writing a file of the given type.
double grimMs(const Sway &sway, const QString &type, const QString &file)
{
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        times.push_back(timed([&] {
            QProcess grim;
            grim.setProcessEnvironment(sway.clientEnvironment());
            grim.start("grim", {"-t", type, file});
            grim.waitForFinished(60000);
        }));
    }
    return median(times);
}

} // namespace

int main(int argc, char *argv[])
{
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode == "--photo")
        return bench::photoWindowMain(argc, argv, false);
    if (mode == "--first-capture" || mode == "--first-capture-prepared")
        return firstCaptureMain(mode == "--first-capture-prepared");

    QGuiApplication application(argc, argv); // on run-bench's Xvfb
    Sway sway(QStringLiteral("3840x2160"));
    if (!sway.isRunning()) {
        std::fprintf(stderr, "bench_wayland: cannot start sway\n");
        return 1;
    }
    PhotoClient photo(sway);
    if (!photo.isReady() || !bench::putOnRootWindow(bench::photoContent(3840, 2160))) {
        std::fprintf(stderr, "bench_wayland: cannot put the content on the screens\n");
        return 1;
    }
    platform::X11CaptureBackend::Options options;
    options.prepareSegment = true;
    platform::X11CaptureBackend x11(platform::X11Connection::open(), options);
    x11.prepareForCapture();
    x11.waitUntilPrepared();
    auto screencopy = platform::WlrScreencopy::create(
        platform::WaylandConnection::open(QFile::encodeName(sway.socket()).constData()));
    QTemporaryDir dir;
    if (!screencopy || !dir.isValid()) {
        std::fprintf(stderr, "bench_wayland: no screencopy or no temporary folder\n");
        return 1;
    }
    platform::WaylandCaptureBackend wayland(screencopy, true);
    wayland.prepareForCapture();
    std::optional<platform::WaylandCaptureBackend> ext;
    if (auto capture = platform::ExtImageCopyCapture::create(
            platform::WaylandConnection::open(QFile::encodeName(sway.socket()).constData()))) {
        ext.emplace(capture, true);
        ext->prepareForCapture();
    }
    // sway may still be setting the output's mode from its configuration.
    QSize size;
    for (int attempt = 0; attempt < 50 && size != QSize(3840, 2160); ++attempt) {
        const imaging::Picture probe = wayland.captureScreen();
        size = QSize(probe.width(), probe.height());
        if (size != QSize(3840, 2160))
            QThread::msleep(100);
    }
    if (size != QSize(3840, 2160)) {
        std::fprintf(stderr, "bench_wayland: sway's output is %dx%d, not 3840x2160\n", size.width(),
                     size.height());
        return 1;
    }

    const int repetitions = qEnvironmentVariableIntValue("VO_BENCH_REPETITIONS") > 0
                                ? qEnvironmentVariableIntValue("VO_BENCH_REPETITIONS")
                                : 15;
    struct Measurement
    {
        const char *name;
        std::function<void(const QString &)> run;
        std::vector<double> times;
    };
    std::vector<Measurement> measurements = {
        {"X11 capture alone", [&](const QString &) { x11.captureScreen().waitForPixels(); }, {}},
        {"screencopy capture alone",
         [&](const QString &) { wayland.captureScreen().waitForPixels(); },
         {}},
        {"X11 capture+JPEG q85",
         [&](const QString &file) { imaging::SaveJPG(x11.captureScreen(), file, 85); },
         {}},
        {"screencopy capture+JPEG q85",
         [&](const QString &file) { imaging::SaveJPG(wayland.captureScreen(), file, 85); },
         {}},
        {"screencopy capture+PNG",
         [&](const QString &file) {
             imaging::savePicture(wayland.captureScreen(), file, imaging::ImageFormat::Png, 0);
         },
         {}},
    };
    if (ext) {
        measurements.push_back({"ext capture alone",
                                [&](const QString &) { ext->captureScreen().waitForPixels(); },
                                {}});
        measurements.push_back(
            {"ext capture+JPEG q85",
             [&](const QString &file) { imaging::SaveJPG(ext->captureScreen(), file, 85); },
             {}});
    }
    for (int round = -1; round < repetitions; ++round) {
        for (Measurement &m : measurements) {
            const QString file = dir.filePath(QString("round%1.jpg").arg(round + 1));
            const double elapsed = timed([&] { m.run(file); });
            if (round >= 0)
                m.times.push_back(elapsed);
            QFile::remove(file);
        }
    }
    const double grimPpm = grimMs(sway, "ppm", dir.filePath("grim.ppm"));
    const double grimPng = grimMs(sway, "png", dir.filePath("grim.png"));
    const double cold = freshProcessMs(sway, false);
    const double prepared = freshProcessMs(sway, true);

    std::printf("wayland bench: 3840x2160 headless sway (pixman renderer) next to run-bench's "
                "Xvfb, median of %d rounds\n",
                repetitions);
    for (const Measurement &m : measurements)
        std::printf("  %-32s %8.1f ms\n", m.name, median(m.times));
    const double ours = median(measurements[3].times);
    std::printf("  %-32s %8.1f ms  (%.1f x screencopy capture+JPEG)\n",
                "grim -t ppm, whole process", grimPpm, grimPpm / ours);
    std::printf("  %-32s %8.1f ms  (%.1f x; %.1f x screencopy capture+PNG)\n",
                "grim PNG, whole process", grimPng, grimPng / ours,
                grimPng / median(measurements[4].times));
    std::printf("  a fresh process's first screencopy capture+JPEG (median of 5): %.1f ms with "
                "connecting; %.1f ms once its buffer is prepared\n",
                cold, prepared);
    std::fflush(stdout);

    // Click-to-file at 1920x1080 on a sway of that size: bench_clicktofile, run natively there.
    Sway small(QStringLiteral("1920x1080"));
    if (!small.isRunning())
        return 1;
    // Then tiled between two windows slow to redraw (the same program, another run).
    int status = 0;
    for (const char *run : {"1", "slow-neighbours"}) {
        QProcess click;
        QProcessEnvironment environment = small.clientEnvironment();
        environment.insert("VO_BENCH_WAYLAND", run);
        click.setProcessEnvironment(environment);
        click.setProcessChannelMode(QProcess::ForwardedChannels);
        click.start(QStringLiteral(VO_BENCH_CLICKTOFILE), {});
        click.waitForFinished(300000);
        status |= click.exitCode();
    }
    return status;
}
