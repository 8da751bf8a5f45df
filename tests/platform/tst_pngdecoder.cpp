// The portal's PNG reader: rows under each of the five filters, RGB and RGBA, the stream split
// over several chunks, decoded pixel for pixel as written (and as Qt's general reader reads
// them); and the files it must leave to the general reader or refuse.

#include "PngDecoder.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <cstring>

using platform::PixelMemory;
using platform::PngDecoder;

namespace {

std::uint32_t crc32(const QByteArray &bytes)
{
    std::uint32_t crc = ~0u;
    for (const char byte : bytes) {
        crc ^= std::uint8_t(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray bigEndian(std::uint32_t value)
{
    const char bytes[] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, 4);
}

QByteArray chunk(const char *type, const QByteArray &content)
{
    const QByteArray typed = type + content;
    return bigEndian(std::uint32_t(content.size())) + typed + bigEndian(crc32(typed));
}

std::uint8_t predictor(int filter, int a, int b, int c)
{
    switch (filter) {
    case 1:
        return std::uint8_t(a);
    case 2:
        return std::uint8_t(b);
    case 3:
        return std::uint8_t((a + b) / 2);
    case 4: {
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        return std::uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
    }
    default:
        return 0;
    }
}

// The image as an 8-bit RGB or RGBA PNG whose row y has filter y % 5, its stream in chunks of
// 200 bytes.
QByteArray pngOf(const QImage &image, int channels)
{
    const int bytes = image.width() * channels;
    QByteArray raw, previous(bytes, 0), row(bytes, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            const int values[] = {qRed(pixel), qGreen(pixel), qBlue(pixel), 255};
            for (int c = 0; c < channels; ++c)
                row[x * channels + c] = char(values[c]);
        }
        const int filter = y % 5;
        raw += char(filter);
        for (int i = 0; i < bytes; ++i) {
            const int a = i >= channels ? std::uint8_t(row[i - channels]) : 0;
            const int c = i >= channels ? std::uint8_t(previous[i - channels]) : 0;
            raw += char(std::uint8_t(row[i]) - predictor(filter, a, std::uint8_t(previous[i]), c));
        }
        previous = row;
    }
    const QByteArray stream = qCompress(raw).mid(4); // a zlib stream after Qt's length
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png += chunk("IHDR", bigEndian(std::uint32_t(image.width())) +
                             bigEndian(std::uint32_t(image.height())) + QByteArray(1, 8) +
                             char(channels == 4 ? 6 : 2) + QByteArray(3, 0));
    for (qsizetype at = 0; at < stream.size(); at += 200)
        png += chunk("IDAT", stream.mid(at, 200));
    return png + chunk("IEND", {});
}

} // namespace

class tst_PngDecoder : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString saved(const QString &name, const QByteArray &bytes)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return file.fileName();
    }

private slots:
    void decodesEveryFilter_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addRow("RGB") << 3;
        QTest::addRow("RGBA") << 4;
    }
    void decodesEveryFilter()
    {
        QFETCH(int, channels);
        QImage image(67, 23, QImage::Format_RGB32); // an odd width, noise and gradients
        QRandomGenerator random(7);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb(x * 3, int(random.bounded(256)), (x + y) % 2 * 255));
        const QString path = saved(QStringLiteral("shot.png"), pngOf(image, channels));
        QCOMPARE(QImage(path).convertToFormat(QImage::Format_RGB32), image);
        // Prepared memory of the right size, and none.
        for (const bool prepared : {true, false}) {
            const auto pixels = PngDecoder::decode(
                path, prepared ? PixelMemory(PngDecoder::memoryFor(image.size())) : PixelMemory());
            QVERIFY(pixels);
            QCOMPARE(pixels->layout.width, image.width());
            QCOMPARE(pixels->layout.height, image.height());
            QVERIFY(pixels->layout.isXrgb32());
            for (int y = 0; y < image.height(); ++y)
                QVERIFY2(std::memcmp(pixels->scanLine(y), image.constScanLine(y),
                                     std::size_t(image.width()) * 4) == 0,
                         qPrintable(QStringLiteral("row %1 differs").arg(y)));
        }
    }

    void leavesOtherFilesToTheGeneralReader()
    {
        const auto written = [this](const QString &name, const QStringList &options,
                                    const QString &kind) {
            const QString path = m_dir.filePath(name);
            const QStringList arguments = QStringList{"-size", "31x17", "gradient:red-blue"} +
                                          options + QStringList{kind + path};
            return QProcess::execute(QStringLiteral("convert"), arguments) == 0 ? path : QString();
        };
        QImage image(31, 17, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        const QByteArray whole = pngOf(image, 4);
        const QStringList refused{written("deep.png", {}, "PNG48:"),
                                  written("grey.png", {"-colorspace", "Gray"}, "PNG:"),
                                  written("palette.png", {"-colors", "16"}, "PNG8:"),
                                  written("interlaced.png", {"-interlace", "PNG"}, "PNG32:"),
                                  saved("truncated.png", whole.left(whole.size() - 30)),
                                  saved("not-png.png", "GIF89a"),
                                  m_dir.filePath("missing.png")};
        for (const QString &path : refused)
            QVERIFY2(!PngDecoder::decode(path, PixelMemory()), qPrintable(path));
        QVERIFY(PngDecoder::decode(saved("whole.png", whole), PixelMemory()));
    }
};

QTEST_GUILESS_MAIN(tst_PngDecoder)
#include "tst_pngdecoder.moc"
