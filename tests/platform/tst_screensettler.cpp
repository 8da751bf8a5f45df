// The X11 screen settler: after a window is hidden it waits until what the window covered has
// been repainted by its owners, not for what windows above keep covered, and no longer than
// its limit when an owner hangs.

#include "CaptureBackend.h"
#include "ColourWindowProcess.h"
#include "NullCaptureBackend.h"
#include "PlatformLoader.h"
#include "X11ScreenSettler.h"

#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

using namespace std::chrono_literals;

class tst_ScreenSettler : public QObject
{
    Q_OBJECT

private slots:
    void settlesOnceTheCoveredAreaIsRepainted_data();
    void settlesOnceTheCoveredAreaIsRepainted();
};

void tst_ScreenSettler::settlesOnceTheCoveredAreaIsRepainted_data()
{
    QTest::addColumn<QRect>("below"); // another program's window under ours (empty: the root)
    QTest::addColumn<QRect>("above"); // another program's window over a corner of ours
    QTest::addColumn<bool>("hung");   // the program below repaints nothing

    const QRect ours(600, 300, 500, 300);
    QTest::newRow("the root window below") << QRect() << QRect() << false;
    QTest::newRow("another program below") << ours.adjusted(-20, -20, 20, 20) << QRect() << false;
    QTest::newRow("partly over another program") << QRect(850, 200, 600, 600) << QRect() << false;
    QTest::newRow("a window above a corner")
        << ours.adjusted(-20, -20, 20, 20) << QRect(1000, 500, 300, 300) << false;
    QTest::newRow("a hung program below") << ours.adjusted(-20, -20, 20, 20) << QRect() << true;
}

void tst_ScreenSettler::settlesOnceTheCoveredAreaIsRepainted()
{
    QFETCH(QRect, below);
    QFETCH(QRect, above);
    QFETCH(bool, hung);
    const QRect ours(600, 300, 500, 300);
    const auto backend = platform::loadDesktop().capture;
    const auto settler = platform::X11ScreenSettler::create();
    QVERIFY(!dynamic_cast<platform::NullCaptureBackend *>(backend.get()) && settler);

    std::unique_ptr<ColourWindowProcess> under, over;
    if (!below.isEmpty())
        under = std::make_unique<ColourWindowProcess>(below, "#123456");
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    window.setGeometry(ours);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (!above.isEmpty()) // mapped later, so it lies above ours
        over = std::make_unique<ColourWindowProcess>(above, "#654321");
    QVERIFY((!under || under->isReady()) && (!over || over->isReady()));
    QTest::qWait(50);
    if (hung)
        under->stop();

    const auto limit = hung ? 300ms : 5000ms;
    settler->setLimit(limit);
    settler->prepare(*window.windowHandle());
    window.hide();
    backend->sync();
    QElapsedTimer clock;
    clock.start();
    settler->waitUntilRepainted();
    const qint64 elapsed = clock.elapsed();

    if (hung) {
        QCOMPARE(settler->pending(), QRegion(ours));
        QVERIFY(elapsed >= limit.count() - 10);
    } else {
        QVERIFY2(settler->pending().isEmpty(), "the wait ended at its limit");
    }
}

QTEST_MAIN(tst_ScreenSettler)
#include "tst_screensettler.moc"
