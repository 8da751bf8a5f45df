// The imaging layer's pure logic: pixel formats, error statuses, and the
// sharing rules of Picture.
#include "PictureData.h"
#include "PixelLayout.h"
#include "SaveError.h"

#include <QtTest>
#include <cerrno>
#include <cstring>

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
