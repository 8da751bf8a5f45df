// The portal's PNG reader: every kind of PNG read pixel for pixel as Qt's general reader reads it,
// into prepared memory or its own; and damaged, truncated and oversized files refused with a
// reason, never a crash.

#include "PngReader.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cstring>
#include <functional>

using platform::PixelMemory;
using platform::PngReader;

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

void putBigEndian(char *at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = char(value >> (24 - 8 * i));
}

// png with the content of its first chunk of this type changed by edit (same length), and that
// chunk's checksum made right again unless keepChecksum.
QByteArray edited(QByteArray png, const char *type, const std::function<void(char *)> &edit,
                  bool keepChecksum = false)
{
    const qsizetype at = png.indexOf(type) - 4;
    const auto length = qsizetype(qFromBigEndian<std::uint32_t>(png.constData() + at));
    edit(png.data() + at + 8);
    if (!keepChecksum)
        putBigEndian(png.data() + at + 8 + length, crc32(png.mid(at + 4, 4 + length)));
    return png;
}

QByteArray chunk(const char *type, const QByteArray &data)
{
    QByteArray bytes(4, '\0');
    putBigEndian(bytes.data(), std::uint32_t(data.size()));
    bytes += type + data + QByteArray(4, '\0');
    putBigEndian(bytes.data() + bytes.size() - 4, crc32(bytes.mid(4, 4 + data.size())));
    return bytes;
}

// image as an 8-bit RGB or RGBA PNG, every row through filter (0 to 4), its pixels in parts
// IDAT chunks.
QByteArray filteredPng(const QImage &image, int filter, bool alpha, int parts = 1)
{
    const int bpp = alpha ? 4 : 3;
    QByteArray lines, prior(image.width() * bpp, '\0');
    for (int y = 0; y < image.height(); ++y) {
        QByteArray line;
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            line += char(qRed(pixel));
            line += char(qGreen(pixel));
            line += char(qBlue(pixel));
            if (alpha)
                line += char(0xff);
        }
        lines += char(filter);
        for (int i = 0; i < line.size(); ++i) {
            const int a = i >= bpp ? std::uint8_t(line[i - bpp]) : 0, b = std::uint8_t(prior[i]);
            const int c = i >= bpp ? std::uint8_t(prior[i - bpp]) : 0;
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int predicted[] = {0, a, b, (a + b) / 2,
                                     pa <= pb && pa <= pc ? a
                                     : pb <= pc           ? b
                                                          : c};
            lines += char(std::uint8_t(line[i]) - predicted[filter]);
        }
        prior = line;
    }
    QByteArray header(13, '\0');
    putBigEndian(header.data(), std::uint32_t(image.width()));
    putBigEndian(header.data() + 4, std::uint32_t(image.height()));
    header[8] = 8;
    header[9] = alpha ? 6 : 2;
    const QByteArray pixels = qCompress(lines).mid(4); // a zlib stream after Qt's length
    QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header);
    for (int part = 0; part < parts; ++part)
        png += chunk("IDAT",
                     pixels.mid(pixels.size() * part / parts,
                                pixels.size() * (part + 1) / parts - pixels.size() * part / parts));
    return png + chunk("IEND", {});
}

QImage testImage()
{
    QImage image(67, 23, QImage::Format_RGB32); // an odd width, gradients and noise
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 3, (x * 7919 + y * 104729) % 256, (x + y) % 2 * 255));
    return image;
}

} // namespace

class tst_PngReader : public QObject
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

    QByteArray validPng()
    {
        const QString path = m_dir.filePath("valid.png");
        testImage().save(path);
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void readsEveryKindAsWritten_data()
    {
        // ImageMagick writes the kinds Qt does not. The portals' kind (8-bit RGB or RGBA) is read
        // apart from libpng: each row filter, and pixels over several chunks.
        QTest::addColumn<QStringList>("convert"); // empty: Qt writes 8-bit RGB
        QTest::addColumn<QByteArray>("file");     // written as it is, when not null
        QTest::addRow("RGB") << QStringList() << QByteArray();
        QTest::addRow("RGBA") << QStringList{"PNG32:"} << QByteArray();
        QTest::addRow("16 bits") << QStringList{"PNG48:"} << QByteArray();
        QTest::addRow("grey") << QStringList{"-colorspace", "Gray", "PNG:"} << QByteArray();
        QTest::addRow("palette") << QStringList{"-colors", "16", "PNG8:"} << QByteArray();
        QTest::addRow("interlaced") << QStringList{"-interlace", "PNG", "PNG24:"} << QByteArray();
        const char *filters[] = {"none", "sub", "up", "average", "Paeth"};
        for (int filter = 0; filter < 5; ++filter)
            for (const bool alpha : {false, true})
                QTest::addRow("%s, filter %s", alpha ? "RGBA" : "RGB", filters[filter])
                    << QStringList() << filteredPng(testImage(), filter, alpha);
        QTest::addRow("RGB, pixels in three chunks")
            << QStringList() << filteredPng(testImage(), 4, false, 3);
    }
    void readsEveryKindAsWritten()
    {
        QFETCH(QStringList, convert);
        QFETCH(QByteArray, file);
        const QString source = saved("source.png", file.isNull() ? validPng() : file);
        QString path = source;
        if (!convert.isEmpty()) {
            path = m_dir.filePath("converted.png");
            const QString target = convert.takeLast() + path;
            QCOMPARE(
                QProcess::execute("convert", QStringList{source} + convert + QStringList{target}),
                0);
        }
        const QImage expected = QImage(path).convertToFormat(QImage::Format_RGB32);
        QVERIFY(!expected.isNull());
        for (const bool prepared : {true, false}) {
            const imaging::Picture picture =
                PngReader::read(path, prepared ? PixelMemory(PngReader::memoryFor(expected.size()))
                                               : PixelMemory());
            const QImage read = picture.toImage().convertToFormat(QImage::Format_RGB32);
            QCOMPARE(read.size(), expected.size());
            for (int y = 0; y < read.height(); ++y)
                for (int x = 0; x < read.width(); ++x)
                    QVERIFY2(read.pixel(x, y) == expected.pixel(x, y),
                             qPrintable(QStringLiteral("(%1, %2): %3, not %4")
                                            .arg(x)
                                            .arg(y)
                                            .arg(read.pixel(x, y), 8, 16)
                                            .arg(expected.pixel(x, y), 8, 16)));
        }
    }

    void refusesFilesThatLie_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null: no file at all
        const QByteArray png = validPng();
        QVERIFY(!png.isEmpty());
        const qsizetype idat = png.indexOf("IDAT") + 4;
        QTest::addRow("missing") << QByteArray();
        QTest::addRow("empty") << QByteArray("");
        QTest::addRow("not a PNG") << QByteArray("GIF89a, not a PNG at all");
        QTest::addRow("truncated in the header") << png.left(20);
        QTest::addRow("truncated before the pixels") << png.left(idat - 8);
        QTest::addRow("truncated in the pixels") << png.left(idat + (png.size() - idat) / 2);
        QTest::addRow("header checksum wrong") << edited(
            png, "IHDR", [](char *ihdr) { ihdr[3] ^= 1; }, /*keepChecksum*/ true);
        QTest::addRow("pixel checksum wrong") << edited(
            png, "IDAT", [](char *data) { data[40] ^= 0x55; }, true);
        QTest::addRow("compressed pixels damaged")
            << edited(png, "IDAT", [](char *data) { std::memset(data + 2, 0xff, 24); });
        QTest::addRow("zero width")
            << edited(png, "IHDR", [](char *ihdr) { putBigEndian(ihdr, 0); });
        QTest::addRow("oversized, 20000x20000") << edited(png, "IHDR", [](char *ihdr) {
            putBigEndian(ihdr, 20000);
            putBigEndian(ihdr + 4, 20000);
        });
        QTest::addRow("oversized, the largest width a PNG can claim")
            << edited(png, "IHDR", [](char *ihdr) { putBigEndian(ihdr, 0x7fffffff); });
    }
    void refusesFilesThatLie()
    {
        QFETCH(QByteArray, bytes);
        const QString path =
            bytes.isNull() ? m_dir.filePath("missing.png") : saved("lying.png", bytes);
        QVERIFY(!path.isEmpty());
        for (const bool prepared : {true, false}) {
            QString failure;
            const imaging::Picture picture = PngReader::read(
                path, prepared ? PixelMemory(PngReader::memoryFor({67, 23})) : PixelMemory(),
                &failure);
            QVERIFY(picture.isNull());
            QVERIFY(!failure.isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(tst_PngReader)
#include "tst_pngreader.moc"
