// Which part of the root window is the primary screen: pure logic, no X server.
#include "MonitorGeometry.h"

#include <QtTest>

using namespace platform;

Q_DECLARE_METATYPE(std::vector<platform::Monitor>)
Q_DECLARE_METATYPE(platform::ScreenRect)

class TestMonitorGeometry : public QObject
{
    Q_OBJECT

private slots:
    void choosesThePrimaryMonitor_data()
    {
        QTest::addColumn<std::vector<Monitor>>("monitors");
        QTest::addColumn<ScreenRect>("expected");
        const ScreenRect root{0, 0, 3000, 1200};
        const Monitor left{{0, 0, 1920, 1080}, false};
        const Monitor right{{1920, 0, 1080, 1200}, false};
        auto primary = [](Monitor m) {
            m.primary = true;
            return m;
        };
        QTest::newRow("no monitors") << std::vector<Monitor>{} << root;
        QTest::newRow("one monitor")
            << std::vector<Monitor>{primary({{10, 10, 100, 100}, false})} << root;
        QTest::newRow("none primary") << std::vector<Monitor>{left, right} << root;
        QTest::newRow("first primary") << std::vector<Monitor>{primary(left), right} << left.rect;
        QTest::newRow("second primary") << std::vector<Monitor>{left, primary(right)} << right.rect;
        QTest::newRow("primary partly outside")
            << std::vector<Monitor>{left, primary({{2500, -100, 1000, 1000}, false})}
            << ScreenRect{2500, 0, 500, 900};
        QTest::newRow("primary outside")
            << std::vector<Monitor>{left, primary({{4000, 0, 800, 600}, false})} << root;
    }
    void choosesThePrimaryMonitor()
    {
        QFETCH(std::vector<Monitor>, monitors);
        QFETCH(ScreenRect, expected);
        const ScreenRect chosen = primaryScreenRect(3000, 1200, monitors);
        QCOMPARE(chosen, expected);
    }
};

QTEST_GUILESS_MAIN(TestMonitorGeometry)
#include "tst_monitorgeometry.moc"
