// The Wayland capture's pure parts: wl_shm formats as Picture pixel layouts, and the tile
// signature that tells where two frames differ.

#include "FrameSignature.h"
#include "ShmFormat.h"

#include <QTest>

#include <array>
#include <cstring>
#include <optional>
#include <vector>
#include <wayland-client-protocol.h>

using Rgb = std::array<std::uint8_t, 3>;
Q_DECLARE_METATYPE(Rgb)

class tst_WaylandUnits : public QObject
{
    Q_OBJECT

private slots:
    void shmFormatsBecomePixelLayouts_data();
    void shmFormatsBecomePixelLayouts();
    void signatureTellsWhereFramesDiffer_data();
    void signatureTellsWhereFramesDiffer();
};

void tst_WaylandUnits::shmFormatsBecomePixelLayouts_data()
{
    QTest::addColumn<quint32>("format");
    QTest::addColumn<int>("bitsPerPixel"); // 0: no layout
    QTest::addColumn<quint32>("pixel");    // one little-endian pixel word
    QTest::addColumn<Rgb>("rgb");

    const Rgb colour{0x12, 0x9a, 0xf0};
    QTest::newRow("XRGB8888") << quint32(WL_SHM_FORMAT_XRGB8888) << 32 << 0x00129af0u << colour;
    QTest::newRow("ARGB8888") << quint32(WL_SHM_FORMAT_ARGB8888) << 32 << 0xff129af0u << colour;
    QTest::newRow("XBGR8888") << quint32(WL_SHM_FORMAT_XBGR8888) << 32 << 0x00f09a12u << colour;
    QTest::newRow("ABGR8888") << quint32(WL_SHM_FORMAT_ABGR8888) << 32 << 0xfff09a12u << colour;
    QTest::newRow("RGBX8888") << quint32(WL_SHM_FORMAT_RGBX8888) << 32 << 0x129af000u << colour;
    QTest::newRow("BGRA8888") << quint32(WL_SHM_FORMAT_BGRA8888) << 32 << 0xf09a12ffu << colour;
    QTest::newRow("XRGB2101010") << quint32(WL_SHM_FORMAT_XRGB2101010) << 32
                                 << ((0x12u << 22) | (0x9au << 12) | (0xf0u << 2)) << colour;
    QTest::newRow("RGB565") << quint32(WL_SHM_FORMAT_RGB565) << 16 << 0xf81fu
                            << Rgb{0xff, 0x00, 0xff};
    QTest::newRow("24-bit RGB888 has none") << quint32(WL_SHM_FORMAT_RGB888) << 0 << 0u << Rgb{};
}

void tst_WaylandUnits::shmFormatsBecomePixelLayouts()
{
    QFETCH(quint32, format);
    QFETCH(int, bitsPerPixel);
    QFETCH(quint32, pixel);
    QFETCH(Rgb, rgb);
    const auto layout = platform::layoutForShmFormat(format, 1, 1, 4);
    QCOMPARE(layout.has_value(), bitsPerPixel != 0);
    if (!layout)
        return;
    QCOMPARE(layout->bitsPerPixel, bitsPerPixel);
    std::uint8_t row[4];
    std::memcpy(row, &pixel, 4);
    Rgb converted{};
    layout->rowToRgb888(row, {}, converted.data());
    QCOMPARE(converted, rgb);
}

void tst_WaylandUnits::signatureTellsWhereFramesDiffer_data()
{
    QTest::addColumn<QSize>("otherSize");
    QTest::addColumn<QList<QPoint>>("changedPixels");
    QTest::addColumn<QRect>("area");

    const QSize size(100, 50); // tiles of 16: the last column and row are partial
    QTest::newRow("same frame") << size << QList<QPoint>{} << QRect();
    QTest::newRow("one pixel") << size << QList<QPoint>{{20, 40}} << QRect(16, 32, 16, 16);
    QTest::newRow("two corners") << size << QList<QPoint>{{0, 0}, {99, 49}} << QRect(0, 0, 100, 50);
    QTest::newRow("in the partial tile") << size << QList<QPoint>{{97, 2}} << QRect(96, 0, 4, 16);
    QTest::newRow("another size") << QSize(100, 60) << QList<QPoint>{} << QRect(0, 0, 100, 60);
}

void tst_WaylandUnits::signatureTellsWhereFramesDiffer()
{
    QFETCH(QSize, otherSize);
    QFETCH(QList<QPoint>, changedPixels);
    QFETCH(QRect, area);
    const auto signature = [](const QSize &size, const QList<QPoint> &changed) {
        imaging::PixelLayout layout = *platform::layoutForShmFormat(
            WL_SHM_FORMAT_XRGB8888, size.width(), size.height(), size.width() * 4 + 8);
        std::vector<std::uint32_t> pixels(layout.byteCount() / 4, 0x00336699u);
        for (const QPoint &p : changed)
            pixels[static_cast<std::size_t>(p.y()) * layout.stride / 4 + p.x()] ^= 0x1u;
        return platform::FrameSignature(reinterpret_cast<const std::uint8_t *>(pixels.data()),
                                        layout);
    };
    const platform::FrameSignature before = signature(QSize(100, 50), {});
    QCOMPARE(before.changedArea(signature(otherSize, changedPixels)), area);
}

QTEST_APPLESS_MAIN(tst_WaylandUnits)
#include "tst_waylandunits.moc"
