// Where GNOME's primary monitor lies in the portal's picture of the whole desktop, from the
// layout the compositor publishes: pure logic, no desktop.
#include "CroppedPixels.h"
#include "MutterLayout.h"

#include <QtTest>

using namespace platform;

Q_DECLARE_METATYPE(platform::MutterLayout)
Q_DECLARE_METATYPE(std::optional<QRect>)

namespace {

MutterLogicalMonitor monitor(int x, int y, QSize mode, double scale = 1, bool primary = false,
                             unsigned transform = 0)
{
    return {x, y, scale, transform, primary, mode};
}

} // namespace

class TestMutterLayout : public QObject
{
    Q_OBJECT

private slots:
    void findsThePrimaryMonitor_data()
    {
        QTest::addColumn<MutterLayout>("layout");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<std::optional<QRect>>("expected");
        const QSize fullHd(1920, 1080), hd(1280, 720), fourK(3840, 2160);
        const std::optional<QRect> whole;

        QTest::newRow("one monitor")
            << MutterLayout{{monitor(0, 0, fullHd, 1, true)}, false} << fullHd << whole;
        QTest::newRow("two, primary on the left")
            << MutterLayout{{monitor(0, 0, fullHd, 1, true), monitor(1920, 0, hd)}, false}
            << QSize(3200, 1080) << std::optional(QRect(0, 0, 1920, 1080));
        QTest::newRow("two, primary on the right")
            << MutterLayout{{monitor(0, 0, hd), monitor(1280, 0, fullHd, 1, true)}, false}
            << QSize(3200, 1080) << std::optional(QRect(1280, 0, 1920, 1080));
        QTest::newRow("primary below, layout not at the origin")
            << MutterLayout{{monitor(-1280, -720, hd), monitor(-1280, 0, fullHd, 1, true)}, true}
            << QSize(1920, 1800) << std::optional(QRect(0, 720, 1920, 1080));
        QTest::newRow("logical layout, primary at scale 2, stage at scale 2")
            << MutterLayout{{monitor(0, 0, fourK, 2, true), monitor(1920, 0, fullHd)}, false}
            << QSize(7680, 2160) << std::optional(QRect(0, 0, 3840, 2160));
        QTest::newRow("logical layout, stage at scale 1")
            << MutterLayout{{monitor(0, 0, fullHd), monitor(1920, 0, fourK, 2, true)}, false}
            << QSize(3840, 1080) << std::optional(QRect(1920, 0, 1920, 1080));
        QTest::newRow("physical layout, scale 2 keeps pixels")
            << MutterLayout{{monitor(0, 0, fullHd), monitor(1920, 0, fourK, 2, true)}, true}
            << QSize(5760, 2160) << std::optional(QRect(1920, 0, 3840, 2160));
        QTest::newRow("logical layout, scale 1.5")
            << MutterLayout{{monitor(0, 0, fullHd, 1.5, true), monitor(1280, 0, hd)}, false}
            << QSize(3840, 1080) << std::optional(QRect(0, 0, 1920, 1080));
        QTest::newRow("primary turned a quarter")
            << MutterLayout{{monitor(0, 0, fullHd, 1, true, 1), monitor(1080, 0, fullHd)}, true}
            << QSize(3000, 1920) << std::optional(QRect(0, 0, 1080, 1920));
        QTest::newRow("no primary")
            << MutterLayout{{monitor(0, 0, fullHd), monitor(1920, 0, hd)}, false}
            << QSize(3200, 1080) << whole;
        QTest::newRow("picture does not match the layout")
            << MutterLayout{{monitor(0, 0, fullHd, 1, true), monitor(1920, 0, hd)}, false}
            << QSize(1920, 1080) << whole;
    }
    void findsThePrimaryMonitor()
    {
        QFETCH(MutterLayout, layout);
        QFETCH(QSize, picture);
        QFETCH(std::optional<QRect>, expected);
        QCOMPARE(primaryMonitorInPicture(layout, picture), expected);
    }

    // The cut-out shares the picture's pixels and shows exactly its rectangle.
    void cutOutShowsItsRectangle()
    {
        QImage image(64, 32, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb(x * 4, y * 8, (x + y) % 256));
        const imaging::Picture picture = imaging::Picture::fromImage(image);
        const QRect rect(40, 8, 24, 20);
        const imaging::Picture cut = CroppedPixels::of(picture, rect);
        QCOMPARE(cut.toImage(), image.copy(rect));
        QCOMPARE(CroppedPixels::of(picture, image.rect()).handle(), picture.handle());
    }
};

QTEST_GUILESS_MAIN(TestMutterLayout)
#include "tst_mutterlayout.moc"
