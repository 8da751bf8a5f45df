// The imaging layer's pure logic: pixel formats, error statuses, the sharing rules of Picture,
// and the deflate blocks written by hand.
#include "DeflateBlocks.h"
#include "PictureData.h"
#include "PixelLayout.h"
#include "SaveError.h"

#include <QtTest>
#include <cerrno>
#include <cstring>
#include <zlib.h>

using namespace imaging;

namespace {

PixelLayout trueColour(int bitsPerPixel, std::uint32_t r, std::uint32_t g, std::uint32_t b,
                       int width = 4)
{
    PixelLayout layout;
    layout.width = width;
    layout.height = 1;
    layout.bitsPerPixel = bitsPerPixel;
    layout.stride = static_cast<std::size_t>(width * bitsPerPixel / 8);
    layout.redMask = r;
    layout.greenMask = g;
    layout.blueMask = b;
    return layout;
}

// Pixels that count how often they are destroyed.
struct CountedPixels final : Picture::Data
{
    explicit CountedPixels(int *destroyed)
        : Picture::Data(trueColour(32, 0xff0000, 0xff00, 0xff), {})
        , m_destroyed(destroyed)
    {
    }
    ~CountedPixels() override { ++*m_destroyed; }
    bool waitForRows(int) const override { return true; }
    const std::uint8_t *scanLine(int) const override { return m_row; }
    int *m_destroyed;
    std::uint8_t m_row[16] = {};
};

// Raw deflate data inflated on its own; ended: whether it held the final block.
QByteArray inflated(const QByteArray &deflated, bool *ended)
{
    z_stream stream{};
    inflateInit2(&stream, -15);
    QByteArray out;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(deflated.constData()));
    stream.avail_in = static_cast<uInt>(deflated.size());
    int result = Z_OK;
    while (result == Z_OK) {
        char buffer[65536];
        stream.next_out = reinterpret_cast<Bytef *>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, static_cast<qsizetype>(sizeof buffer - stream.avail_out));
        if (result == Z_OK && stream.avail_in == 0 && stream.avail_out != 0)
            break;
    }
    *ended = result == Z_STREAM_END;
    inflateEnd(&stream);
    return result == Z_OK || result == Z_STREAM_END ? out : QByteArray("inflate failed");
}

QByteArray noise(QRandomGenerator &random, qsizetype size)
{
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(random.bounded(256));
    return bytes;
}

// Screen-like bytes: rows of runs of a few pixel values, most rows repeating the one above.
QByteArray screenRows(int rowBytes, int rows)
{
    QRandomGenerator random(7);
    QByteArray bytes, row(rowBytes, '\0');
    for (int r = 0; r < rows; ++r) {
        if (r % 5 == 0) {
            for (int x = 0; x < rowBytes; x += 3)
                row[x] = row[x + 1] = static_cast<char>(x / 600 * 40 + r % 3);
            row[random.bounded(rowBytes)] = static_cast<char>(random.bounded(256));
        }
        bytes += row;
    }
    return bytes;
}

// Pieces of noise, runs and copies from any distance, even beyond the window.
QByteArray mixture(quint32 seed, qsizetype size)
{
    QRandomGenerator random(seed);
    QByteArray bytes;
    while (bytes.size() < size) {
        const int length = 1 + random.bounded(600);
        switch (random.bounded(3)) {
        case 0:
            bytes += noise(random, length);
            break;
        case 1:
            bytes += QByteArray(length, static_cast<char>(random.bounded(4)));
            break;
        default:
            if (!bytes.isEmpty())
                bytes += bytes.mid(random.bounded(bytes.size()), length);
        }
    }
    return bytes.left(size);
}

} // namespace

class TestImagingUnits : public QObject
{
    Q_OBJECT

private slots:
    void expandsPixelsToRgb_data()
    {
        QTest::addColumn<int>("bitsPerPixel");
        QTest::addColumn<quint32>("redMask");
        QTest::addColumn<quint32>("greenMask");
        QTest::addColumn<quint32>("blueMask");
        QTest::addColumn<quint32>("pixel");
        QTest::addColumn<QRgb>("expected");
        QTest::newRow("xrgb32 white")
            << 32 << 0xff0000u << 0xff00u << 0xffu << 0xffffffffu << qRgb(255, 255, 255);
        QTest::newRow("xrgb32 colour")
            << 32 << 0xff0000u << 0xff00u << 0xffu << 0x00123456u << qRgb(0x12, 0x34, 0x56);
        QTest::newRow("xbgr32") << 32 << 0xffu << 0xff00u << 0xff0000u << 0x00123456u
                                << qRgb(0x56, 0x34, 0x12);
        QTest::newRow("30-bit") << 32 << 0x3ff00000u << 0xffc00u << 0x3ffu << 0x3ff00000u
                                << qRgb(255, 0, 0);
        QTest::newRow("565 full red")
            << 16 << 0xf800u << 0x7e0u << 0x1fu << 0xf800u << qRgb(255, 0, 0);
        QTest::newRow("565 middles") << 16 << 0xf800u << 0x7e0u << 0x1fu
                                     << ((16u << 11) | (32u << 5) | 1u) << qRgb(132, 130, 8);
        QTest::newRow("555") << 16 << 0x7c00u << 0x3e0u << 0x1fu << 0x7fffu << qRgb(255, 255, 255);
    }
    void expandsPixelsToRgb()
    {
        QFETCH(int, bitsPerPixel);
        QFETCH(quint32, redMask);
        QFETCH(quint32, greenMask);
        QFETCH(quint32, blueMask);
        QFETCH(quint32, pixel);
        QFETCH(QRgb, expected);
        const PixelLayout layout = trueColour(bitsPerPixel, redMask, greenMask, blueMask, 1);
        QVERIFY(layout.isValid());
        std::uint8_t row[4] = {};
        std::memcpy(row, &pixel, static_cast<std::size_t>(bitsPerPixel / 8));
        std::uint8_t rgb[3] = {};
        layout.rowToRgb888(row, {}, rgb);
        QCOMPARE(qRgb(rgb[0], rgb[1], rgb[2]), expected);
    }

    void rejectsUnusableLayouts_data()
    {
        QTest::addColumn<int>("bitsPerPixel");
        QTest::addColumn<quint32>("redMask");
        QTest::addColumn<quint32>("greenMask");
        QTest::addColumn<quint32>("blueMask");
        QTest::addColumn<int>("strideDelta");
        QTest::newRow("overlapping masks") << 32 << 0xff0000u << 0xff8000u << 0xffu << 0;
        QTest::newRow("mask with a gap") << 32 << 0xf0f000u << 0xff00u << 0xffu << 0;
        QTest::newRow("mask beyond 16 bits") << 16 << 0x1f800u << 0x7e0u << 0x1fu << 0;
        QTest::newRow("empty mask") << 32 << 0u << 0xff00u << 0xffu << 0;
        QTest::newRow("24 bits per pixel") << 24 << 0xff0000u << 0xff00u << 0xffu << 0;
        QTest::newRow("stride too short") << 32 << 0xff0000u << 0xff00u << 0xffu << -1;
    }
    void rejectsUnusableLayouts()
    {
        QFETCH(int, bitsPerPixel);
        QFETCH(quint32, redMask);
        QFETCH(quint32, greenMask);
        QFETCH(quint32, blueMask);
        QFETCH(int, strideDelta);
        PixelLayout layout = trueColour(bitsPerPixel, redMask, greenMask, blueMask);
        layout.stride = static_cast<std::size_t>(static_cast<int>(layout.stride) + strideDelta);
        QVERIFY(!layout.isValid());
    }

    void mapsFileErrorsToStatuses_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("status");
        QTest::newRow("folder missing") << ENOENT << 10;
        QTest::newRow("folder is a file") << ENOTDIR << 10;
        QTest::newRow("permission") << EACCES << 12;
        QTest::newRow("not permitted") << EPERM << 12;
        QTest::newRow("read-only file system") << EROFS << 12;
        QTest::newRow("no memory") << ENOMEM << 3;
        QTest::newRow("disk full") << ENOSPC << 7;
        QTest::newRow("file too large") << EFBIG << 7;
        QTest::newRow("name too long") << ENAMETOOLONG << 7;
        QTest::newRow("quota") << EDQUOT << 7;
        QTest::newRow("i/o error") << EIO << 7;
    }
    void mapsFileErrorsToStatuses()
    {
        QFETCH(int, error);
        QFETCH(int, status);
        QCOMPARE(static_cast<int>(statusFromErrno(error)), status);
    }

    void describesSaveErrorsWithoutASpace()
    {
        const core::Error error = saveError(SaveStatus::Win32Error);
        QCOMPARE(error.number(), 5);
        QCOMPARE(error.description(), QString("Cannot save the image. GDI+ Error:7"));
    }

    void sharedPictureIsFreedOnceByItsLastHolder()
    {
        int destroyed = 0;
        Picture first(std::make_shared<CountedPixels>(&destroyed));
        Picture second = first;
        QVERIFY(!first.isNull());
        QCOMPARE(second.handle(), first.handle());
        first = Picture();
        QVERIFY(first.isNull());
        QCOMPARE(first.handle(), std::uintptr_t(0));
        QCOMPARE(destroyed, 0);
        QCOMPARE(second.width(), 4);
        second = Picture();
        QCOMPARE(destroyed, 1);
    }

    // Two blocks written one after the other by one writer: each inflates to its bytes on its own
    // (no match reaches before its block, though the writer saw the bytes before), and joined
    // they are one stream. Repeats cost next to nothing.
    void matchBlocksInflateToTheirBytes_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<int>("rowBytes");
        QTest::addColumn<int>("pixelBytes");
        QTest::addColumn<int>("atMost"); // bytes of both blocks; 0: no limit
        QRandomGenerator random(1);
        const QByteArray window = noise(random, 32768), some = noise(random, 5000);
        const QByteArray rows = screenRows(3 * 1000 + 1, 300);
        QTest::newRow("runs and repeated rows") << rows << rows.left(100000) << 3001 << 3 << 20000;
        QTest::newRow("a run far longer than 258")
            << QByteArray(100000, 'a') << QByteArray(7, 'a') << 0 << 1 << 1200;
        QTest::newRow("distance 32768, not 32769")
            << window + window + noise(random, 1) + window.left(300) << QByteArray(1, 'x') << 0 << 3
            << 34500;
        QTest::newRow("second block repeats the first") << some << some << 0 << 3 << 0;
        QTest::newRow("rows wider than the window")
            << screenRows(40000, 6) << screenRows(40000, 2) << 40000 << 6 << 0;
        QTest::newRow("random mixture") << mixture(3, 400000) << mixture(4, 150000) << 0 << 3 << 0;
        QTest::newRow("a few bytes") << QByteArray("abc") << QByteArray(1, '\0') << 0 << 3 << 0;
    }
    void matchBlocksInflateToTheirBytes()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(int, rowBytes);
        QFETCH(int, pixelBytes);
        QFETCH(int, atMost);
        // One after the other in memory too, so that a match reaching back across the second
        // block's start would find the bytes it expects.
        const QByteArray joined = first + second;
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(joined.constData());
        MatchBlockWriter writer;
        const auto write = [&](qsizetype from, qsizetype size, bool last) {
            QByteArray out(static_cast<qsizetype>(deflateBlockBound(std::size_t(size))), '\0');
            out.resize(static_cast<qsizetype>(writer.write(
                bytes + from, std::size_t(size), std::size_t(rowBytes), std::size_t(pixelBytes),
                last, reinterpret_cast<std::uint8_t *>(out.data()))));
            return out;
        };
        const QByteArray firstBlock = write(0, first.size(), false),
                         secondBlock = write(first.size(), second.size(), true);
        bool ended = false;
        QCOMPARE(inflated(firstBlock, &ended), first);
        QVERIFY(!ended);
        QCOMPARE(inflated(secondBlock, &ended), second);
        QVERIFY(ended);
        QCOMPARE(inflated(firstBlock + secondBlock, &ended), joined);
        QVERIFY(ended);
        if (atMost > 0)
            QCOMPARE_LE(firstBlock.size() + secondBlock.size(), atMost);
    }

    void emptyPictureHasNoPixels()
    {
        const Picture empty;
        QVERIFY(empty.isNull());
        QCOMPARE(empty.width(), 0);
        QCOMPARE(empty.bitsPerPixel(), 0);
        QVERIFY(empty.palette().isEmpty());
        QVERIFY(empty.toImage().isNull());
        QVERIFY(!empty.waitForPixels());
        QVERIFY(Picture::fromImage(QImage()).isNull());
    }
};

QTEST_GUILESS_MAIN(TestImagingUnits)
#include "tst_imagingunits.moc"
