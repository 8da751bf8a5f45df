// The X11 screen settler: after a window is hidden it waits for what the window covered to be
// repainted by its owners, skips what windows above it keep covered, and gives up at its limit
// when an owner never repaints.

#include "CaptureBackend.h"
#include "CaptureBackendLoader.h"
#include "ColourWindowProcess.h"
#include "X11ScreenSettler.h"

#include <QElapsedTimer>
#include <functional>
#include <QTest>
#include <QWidget>

using namespace std::chrono_literals;

class tst_ScreenSettler : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void waitsForTheWindowsBelowToRepaint_data();
    void waitsForTheWindowsBelowToRepaint();
    void aHungWindowBelowEndsTheWaitAtTheLimit();
    void aHiddenWindowNeedsNoWait();

private:
    // Shows a plain window at area, hides it again through the settler; the area still pending.
    QRegion hideAndSettle(const QRect &area, std::chrono::milliseconds limit, qint64 *elapsed = nullptr,
                          const std::function<void()> &whileShown = {});

    std::unique_ptr<imaging::CaptureBackend> m_backend;
    std::unique_ptr<ui::X11ScreenSettler> m_settler;
};

void tst_ScreenSettler::initTestCase()
{
    m_backend = imaging::loadCaptureBackend();
    QVERIFY(m_backend);
    m_settler = ui::X11ScreenSettler::create();
    QVERIFY2(m_settler, "no DAMAGE extension on the test display");
}

QRegion tst_ScreenSettler::hideAndSettle(const QRect &area, std::chrono::milliseconds limit, qint64 *elapsed,
                                         const std::function<void()> &whileShown)
{
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    window.setGeometry(area);
    window.setStyleSheet("background: white");
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return QRegion(area);
    if (whileShown)
        whileShown();
    QTest::qWait(50);

    m_settler->setLimit(limit);
    m_settler->prepare(window);
    window.hide();
    m_backend->sync();
    QElapsedTimer clock;
    clock.start();
    m_settler->waitUntilRepainted();
    if (elapsed)
        *elapsed = clock.elapsed();
    return m_settler->pending();
}

void tst_ScreenSettler::waitsForTheWindowsBelowToRepaint_data()
{
    QTest::addColumn<QRect>("below");  // another program's window under ours (empty: none)
    QTest::addColumn<QRect>("above");  // another program's window over part of ours (empty: none)

    const QRect ours(600, 300, 500, 300);
    QTest::newRow("the root window below") << QRect() << QRect();
    QTest::newRow("another program's window below") << ours.adjusted(-20, -20, 20, 20) << QRect();
    QTest::newRow("partly over another program's window") << QRect(850, 200, 600, 600) << QRect();
    QTest::newRow("a window above covers a corner") << ours.adjusted(-20, -20, 20, 20)
                                                    << QRect(1000, 500, 300, 300);
}

void tst_ScreenSettler::waitsForTheWindowsBelowToRepaint()
{
    QFETCH(QRect, below);
    QFETCH(QRect, above);
    std::unique_ptr<ColourWindowProcess> under;
    if (!below.isEmpty()) {
        under = std::make_unique<ColourWindowProcess>(below, "#123456");
        QVERIFY(under->isReady());
    }
    // A window mapped after ours lies above it.
    std::unique_ptr<ColourWindowProcess> over;
    const auto mapAbove = [&] {
        if (!above.isEmpty())
            over = std::make_unique<ColourWindowProcess>(above, "#654321");
    };

    const QRegion pending = hideAndSettle(QRect(600, 300, 500, 300), 5000ms, nullptr, mapAbove);
    QVERIFY2(pending.isEmpty(), "the wait ended at its limit");
    if (!above.isEmpty())
        QVERIFY(over && over->isReady());
}

void tst_ScreenSettler::aHungWindowBelowEndsTheWaitAtTheLimit()
{
    const QRect ours(600, 300, 500, 300);
    ColourWindowProcess hung(ours.adjusted(-20, -20, 20, 20), "#abcdef");
    QVERIFY(hung.isReady());
    hung.stop();
    qint64 elapsed = 0;
    const QRegion pending = hideAndSettle(ours, 300ms, &elapsed);
    hung.resume();
    QCOMPARE(pending, QRegion(ours));
    QVERIFY(elapsed >= 290);
}

void tst_ScreenSettler::aHiddenWindowNeedsNoWait()
{
    QWidget window;
    window.setGeometry(100, 100, 200, 200);
    m_settler->setLimit(5000ms);
    m_settler->prepare(window);
    QElapsedTimer clock;
    clock.start();
    m_settler->waitUntilRepainted();
    QVERIFY(m_settler->pending().isEmpty());
    QVERIFY(clock.elapsed() < 4000);
}

QTEST_MAIN(tst_ScreenSettler)
#include "tst_screensettler.moc"
