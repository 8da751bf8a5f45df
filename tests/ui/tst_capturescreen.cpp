// "Capture Now" on the test display with the loaded platform: the picture shows what the
// window covered, and a second click during a capture returns at once while the window comes
// back with its focus.

#include "CaptureWorld.h"
#include "ColourWindowProcess.h"
#include "PlatformLoader.h"

#include <QApplication>
#include <QImage>
#include <QTimer>

namespace {

struct LoadedDesktop
{
    platform::Desktop desktop = platform::loadDesktop();
};

// A World with the backend and the settler the program would load on this display.
struct X11World : LoadedDesktop, World
{
    explicit X11World(Mode mode, bool bmp = false)
        : World(*desktop.capture, mode, bmp, desktop.settler.get())
    {
    }
};

} // namespace

class tst_CaptureScreen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pictureShowsWhatTheWindowCovered_data();
    void pictureShowsWhatTheWindowCovered();
    void secondClickDuringACaptureReturnsAtOnce();
};

void tst_CaptureScreen::initTestCase()
{
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Vistarel"));
    QVERIFY2(platform::loadDesktop().capture, "no capture backend on the test display");
}

void tst_CaptureScreen::secondClickDuringACaptureReturnsAtOnce()
{
    X11World world(Counter);
    world.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&world.window));
    world.window.captureButton()->setFocus();
    bool capturingInside = false;
    // The command processes events while the window is hidden: a second click runs then.
    QTimer::singleShot(0, &world.window, [&] {
        world.command.PushButton1_Click();
        capturingInside = world.command.capturing();
    });
    world.click();

    QVERIFY(capturingInside); // the second command left the flag to the first
    QCOMPARE(world.files(), QStringList{"Shot1.jpg"});
    QCOMPARE(world.statements.count(100), 2);
    QCOMPARE(world.statements.count(102), 1);
    world.verifyCameBack();
    QTRY_COMPARE(QApplication::focusWidget(), world.window.captureButton()); // focus comes back too
}

void tst_CaptureScreen::pictureShowsWhatTheWindowCovered_data()
{
    QTest::addColumn<bool>("bmp");
    QTest::newRow("BMP") << true;
    QTest::newRow("JPEG") << false;
}

void tst_CaptureScreen::pictureShowsWhatTheWindowCovered()
{
    QFETCH(bool, bmp);
    X11World world(Counter, bmp);
    const QRect covered = world.window.frameGeometry();
    const QColor colour(0x12, 0xab, 0x34);
    // Another program's window under ours: it has to repaint what our window covered.
    ColourWindowProcess other(covered.adjusted(-40, -40, 40, 40), colour.name());
    QVERIFY(other.isReady());
    world.window.raise();
    QTest::qWait(100);

    world.click();

    const QImage picture = QImage(world.folder + (bmp ? "/Shot1.bmp" : "/Shot1.jpg"))
                               .convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), QSize(1920, 1080));
    const int tolerance = bmp ? 0 : 12;
    int wrong = 0;
    for (int y = covered.top(); y <= covered.bottom(); ++y)
        for (int x = covered.left(); x <= covered.right(); ++x) {
            const QColor seen = picture.pixelColor(x, y);
            wrong += std::abs(seen.red() - colour.red()) > tolerance ||
                     std::abs(seen.green() - colour.green()) > tolerance ||
                     std::abs(seen.blue() - colour.blue()) > tolerance;
        }
    QCOMPARE(wrong, 0);
    world.verifyCameBack();
}

QTEST_MAIN(tst_CaptureScreen)
#include "tst_capturescreen.moc"
