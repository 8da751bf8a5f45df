// Reading the desktop portal's PNG, the program's own part of a capture through the portal: the
// portal's file reader (into memory prepared beforehand, as during the portal's wait) next to
// Qt's general reader, interleaved, on a 1920x1080 photo-like screen and a plain one. Prints
// medians of VO_BENCH_REPETITIONS rounds (15) and a last line
// "portalread photo=<ours/Qt> plain=<ours/Qt>".

#include "BenchFigures.h"
#include "PhotoContent.h"
#include "PixelMemory.h"
#include "PngReader.h"

#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

struct Figures
{
    double ours = 0;
    double qt = 0;
};

Figures timeReading(const QString &path, QSize size, int rounds)
{
    std::vector<double> ours, qt;
    for (int round = -1; round < rounds; ++round) { // one warm-up round
        platform::PixelMemory memory(platform::PngReader::memoryFor(size));
        auto start = bench::Clock::now();
        const imaging::Picture picture = platform::PngReader::read(path, std::move(memory));
        const double oursMs = bench::ms(bench::Clock::now() - start);
        if (picture.isNull() || picture.width() != size.width()) {
            std::fprintf(stderr, "bench_portalread: the reader failed on %s\n", qPrintable(path));
            std::exit(1);
        }
        start = bench::Clock::now();
        QImageReader reader(path);
        const QImage image = reader.read();
        const double qtMs = bench::ms(bench::Clock::now() - start);
        if (round >= 0 && !image.isNull()) {
            ours.push_back(oursMs);
            qt.push_back(qtMs);
        }
    }
    return {bench::median(ours), bench::median(qt)};
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int rounds = qEnvironmentVariableIntValue("VO_BENCH_REPETITIONS") > 0
                           ? qEnvironmentVariableIntValue("VO_BENCH_REPETITIONS")
                           : 15;
    const QSize size(1920, 1080);
    QTemporaryDir dir;
    QImage plain(size, QImage::Format_RGB32);
    plain.fill(QColor(0x30, 0x38, 0x48));
    {
        QPainter painter(&plain);
        painter.fillRect(QRect(0, 0, 1920, 32), QColor(0x20, 0x20, 0x20));
        painter.fillRect(QRect(400, 200, 900, 600), Qt::white);
    }
    const QString photoPath = dir.filePath("photo.png"), plainPath = dir.filePath("plain.png");
    if (!bench::photoContent(size.width(), size.height()).save(photoPath) ||
        !plain.save(plainPath)) {
        std::fprintf(stderr, "bench_portalread: cannot write the PNGs\n");
        return 1;
    }
    const Figures photo = timeReading(photoPath, size, rounds);
    const Figures flat = timeReading(plainPath, size, rounds);
    std::printf("portal's PNG at 1920x1080, read into memory prepared beforehand (medians of %d "
                "rounds):\n",
                rounds);
    std::printf("  photo-like   portal reader %6.1f ms, Qt's reader %6.1f ms\n", photo.ours,
                photo.qt);
    std::printf("  plain        portal reader %6.1f ms, Qt's reader %6.1f ms\n", flat.ours,
                flat.qt);
    std::printf("portalread photo=%.2f plain=%.2f\n", photo.ours / photo.qt, flat.ours / flat.qt);
    return 0;
}
