// The PNG writer on the 4K screen that run-bench provides, for three kinds of content
// (photo-like, text and user interface, mostly flat): capture+PNG against our capture+JPEG q85
// and against Qt's grabWindow + QImage::save PNG, interleaved, medians; the file's size against
// what libpng writes at zlib level 6 with its default filters from the same pixels. Last line:
// `png <kind>=<PNG/JPEG time> ... qt=<slowest Qt/ours> size=<largest ours/libpng>`.
#include "BenchFigures.h"
#include "PhotoContent.h"
#include "ScreenKinds.h"

#include <ImageFormat.h>
#include <JpegWriter.h>
#include <NullCaptureBackend.h>
#include <PlatformLoader.h>

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <png.h>
#include <vector>

namespace {

using bench::Clock;
using bench::median;
using bench::ms;

// The size of the PNG libpng writes of image at zlib level 6 with its default filters.
std::size_t libpngSize(const QImage &image)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::size_t size = 0;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return 0;
    }
    png_set_write_fn(
        png, &size,
        [](png_structp p, png_bytep, png_size_t length) {
            *static_cast<std::size_t *>(png_get_io_ptr(p)) += length;
        },
        nullptr);
    png_set_compression_level(png, 6);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()),
                 static_cast<png_uint_32>(image.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < rgb.height(); ++y)
        png_write_row(png, const_cast<png_bytep>(rgb.constScanLine(y)));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return size;
}

struct Row
{
    const char *kind;
    double jpegMs = 0, pngMs = 0, qtMs = 0;
    double jpegMb = 0, pngMb = 0, qtMb = 0, libpngMb = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    QScreen *screen = QGuiApplication::primaryScreen();
    const QSize size = screen->size() * screen->devicePixelRatio();
    auto backend = platform::loadDesktop().capture;
    QTemporaryDir dir;
    if (dynamic_cast<platform::NullCaptureBackend *>(backend.get()) || !dir.isValid()) {
        std::fprintf(stderr, "bench_png: no capture backend or no temporary folder\n");
        return 1;
    }
    const int repetitions = qEnvironmentVariableIntValue("VO_BENCH_REPETITIONS") > 0
                                ? qEnvironmentVariableIntValue("VO_BENCH_REPETITIONS")
                                : 11;
    const int qtRepetitions = std::max(1, repetitions / 3);
    const std::pair<const char *, std::function<QImage(int, int)>> kinds[] = {
        {"photo", bench::photoContent},
        {"ui", bench::userInterfaceContent},
        {"flat", bench::flatContent}};

    std::vector<Row> rows;
    for (const auto &[kind, content] : kinds) {
        if (!bench::putOnRootWindow(content(size.width(), size.height()))) {
            std::fprintf(stderr, "bench_png: cannot draw on the screen\n");
            return 1;
        }
        const QString jpeg = dir.filePath("ours.jpg"), png = dir.filePath("ours.png"),
                      qt = dir.filePath("qt.png");
        std::vector<double> jpegTimes, pngTimes, qtTimes;
        const auto timed = [](std::vector<double> &times, bool keep, const auto &run) {
            const auto start = Clock::now();
            run();
            if (keep)
                times.push_back(ms(Clock::now() - start));
        };
        for (int round = -1; round < repetitions; ++round) {
            // A new file each time, as the naming modes mostly write; removed untimed.
            QFile::remove(jpeg);
            QFile::remove(png);
            timed(jpegTimes, round >= 0,
                  [&] { imaging::SaveJPG(backend->captureScreen(), jpeg, 85); });
            timed(pngTimes, round >= 0, [&] {
                imaging::savePicture(backend->captureScreen(), png, imaging::ImageFormat::Png, 0);
            });
            if (round < qtRepetitions) {
                QFile::remove(qt);
                timed(qtTimes, round >= 0,
                      [&] { screen->grabWindow(0).toImage().save(qt, "PNG"); });
            }
        }
        const QImage screenImage = backend->captureScreen().toImage();
        const auto mb = [](const QString &path) { return double(QFileInfo(path).size()) / 1e6; };
        rows.push_back({kind, median(jpegTimes), median(pngTimes), median(qtTimes), mb(jpeg),
                        mb(png), mb(qt), double(libpngSize(screenImage)) / 1e6});
    }

    std::printf("PNG bench: %dx%d, medians of %d runs (Qt: %d), interleaved\n", size.width(),
                size.height(), repetitions, qtRepetitions);
    std::printf("  %-6s %26s %24s %26s %16s\n", "", "capture+PNG", "capture+JPEG q85",
                "Qt grabWindow+save PNG", "libpng level 6");
    double worstQt = 1e9, worstSize = 0;
    QString ratios;
    for (const Row &r : rows) {
        std::printf("  %-6s %7.1f ms %8.3f MB %7.1f ms %6.3f MB (%4.2f x) %7.1f ms %6.3f MB "
                    "(%5.1f x) %6.3f MB (%4.2f x)\n",
                    r.kind, r.pngMs, r.pngMb, r.jpegMs, r.jpegMb, r.pngMs / r.jpegMs, r.qtMs,
                    r.qtMb, r.qtMs / r.pngMs, r.libpngMb, r.pngMb / r.libpngMb);
        worstQt = std::min(worstQt, r.qtMs / r.pngMs);
        worstSize = std::max(worstSize, r.pngMb / r.libpngMb);
        ratios += QString(" %1=%2").arg(r.kind).arg(r.pngMs / r.jpegMs, 0, 'f', 2);
    }
    std::printf("  (PNG/JPEG time in brackets after the JPEG; Qt/ours; ours/libpng)\n");
    std::printf("png%s qt=%.1f size=%.2f\n", qPrintable(ratios), worstQt, worstSize);
    return 0;
}
