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
        // ImageMagick writes the kinds Qt does not.
        QTest::addColumn<QStringList>("convert"); // empty: Qt writes 8-bit RGB
        QTest::addRow("RGB") << QStringList();
        QTest::addRow("RGBA") << QStringList{"PNG32:"};
        QTest::addRow("16 bits") << QStringList{"PNG48:"};
        QTest::addRow("grey") << QStringList{"-colorspace", "Gray", "PNG:"};
        QTest::addRow("palette") << QStringList{"-colors", "16", "PNG8:"};
        QTest::addRow("interlaced") << QStringList{"-interlace", "PNG", "PNG24:"};
    }
    void readsEveryKindAsWritten()
    {
        QFETCH(QStringList, convert);
        const QString source = saved("source.png", validPng());
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
