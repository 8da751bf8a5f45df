// "Capture Now" on a headless sway, with Qt on the wayland platform and the desktop the loader
// picks for the session: every capture equals the screen as grim sees it without the program's
// window, whether sway floats the window or tiles it between other programs' windows; the
// capture's memory is held only between a cue and its release; and a Wayland session without
// a capture route says so.

#include "CaptureWorld.h"
#include "ColourWindowProcess.h"
#include "NullCaptureBackend.h"
#include "PlatformLoader.h"
#include "WaylandTools.h"

#include <QFile>
#include <QImage>
#include <QTest>

#include <algorithm>

class tst_WaylandCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void capturesShowTheScreenWithoutTheWindow_data();
    void capturesShowTheScreenWithoutTheWindow();
    void buffersLiveOnlyAroundCaptures();
    void noCaptureRouteIsTold();
};

namespace {

// The screencopy buffers this process has mapped.
int mappedBuffers()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return -1;
    return int(maps.readAll().count("/memfd:vistarel-ombrix-screencopy"));
}

constexpr QRgb LeftColour = 0xffc03028;
constexpr QRgb RightColour = 0xff2850c0;

// The screen without the program's window: the two other programs side by side, as sway tiles
// them once both have painted at half the screen's width.
QImage besideEachOther()
{
    QImage screen(1920, 1080, QImage::Format_RGB32);
    screen.fill(RightColour);
    for (int y = 0; y < screen.height(); ++y)
        std::fill_n(reinterpret_cast<QRgb *>(screen.scanLine(y)), screen.width() / 2, LeftColour);
    return screen;
}

// Whether both other programs show width pixels of their colour on the screen's bottom row
// (below a floating window): they have painted at the size sway gives them beside ours.
bool neighboursShownAt(const QImage &screen, int width)
{
    const auto *row = reinterpret_cast<const QRgb *>(screen.constScanLine(screen.height() - 1));
    return std::count(row, row + screen.width(), LeftColour) == width &&
           std::count(row, row + screen.width(), RightColour) == width;
}

} // namespace

void tst_WaylandCapture::initTestCase()
{
    // The program's window is shown in this process and must draw as the program's does, not
    // as a test's (ChildEnvironment.h): with the mark, Qt 6.11 showed it black on sway 1.12
    // until a later paint, and the settler took that paint for the window's leaving. Qt's
    // Wayland client reads the mark at the first expose.
    qunsetenv("QT_QTESTLIB_RUNNING");
}

void tst_WaylandCapture::capturesShowTheScreenWithoutTheWindow_data()
{
    QTest::addColumn<bool>("tiled");
    QTest::addColumn<int>("paintMilliseconds"); // how long the other programs take to redraw
    QTest::newRow("floating over tiled windows") << false << 0;
    QTest::newRow("tiled between other windows") << true << 0;
    // sway shows the old layout, the window included, until its neighbours have redrawn.
    QTest::newRow("tiled between slow windows") << true << 100;
}

void tst_WaylandCapture::capturesShowTheScreenWithoutTheWindow()
{
    QFETCH(bool, tiled);
    QFETCH(int, paintMilliseconds);
    // sway floats a window of fixed size, and every show makes a new window: a rule of sway's
    // tiles the program's windows in the tiled rows, which have an app id of their own.
    const QString appId = tiled ? QStringLiteral("vo-tiled") : QStringLiteral("vo-floating");
    QGuiApplication::setDesktopFileName(appId);
    if (tiled)
        QVERIFY(
            waylandtools::swaymsg({"for_window", "[app_id=^vo-tiled$]", "floating", "disable"}));
    // Two other programs, tiled side by side: the screen without ours, once grim sees both
    // painted (the left one redraws at half the width after the right one has come).
    ColourWindowProcess left({0, 0, 100, 100}, "#c03028", paintMilliseconds);
    ColourWindowProcess right({0, 0, 100, 100}, "#2850c0", paintMilliseconds);
    QVERIFY(left.isReady() && right.isReady());
    const QImage screen = besideEachOther();
    QTRY_VERIFY_WITH_TIMEOUT(waylandtools::grimScreen() == screen, 20000);

    const platform::Desktop desktop = platform::loadDesktop();
    QVERIFY2(!dynamic_cast<platform::NullCaptureBackend *>(desktop.capture.get()),
             qPrintable(desktop.capture->failureReason()));
    World world(*desktop.capture, Counter, /*bmp*/ true, desktop.settler.get());
    // (QTRY_ processes events meanwhile: sway maps and tiles a window once its client has
    // answered the configure requests.)
    QTRY_COMPARE(waylandtools::isTiled(appId), tiled);
    // Beside a tiled window the other two get a third of the width each.
    const int neighbourWidth = screen.width() / (tiled ? 3 : 2);
    const auto shownBeside = [&] {
        const QImage now =
            desktop.capture->captureScreen().toImage().convertToFormat(screen.format());
        return now != screen && neighboursShownAt(now, neighbourWidth);
    };

    constexpr int captures = 5;
    for (int i = 1; i <= captures; ++i) {
        // The window is on the screen, and the others have redrawn beside it, before each
        // capture (seen through the backend: grim would take a third of a second a look).
        QTRY_VERIFY(shownBeside());
        world.click();
        const QString file = QStringLiteral("Shot%1.bmp").arg(i);
        QTRY_VERIFY(world.files().contains(file));
        world.verifyCameBack();
        const QImage picture = QImage(world.folder + '/' + file).convertToFormat(screen.format());
        QVERIFY2(picture == screen,
                 qPrintable(QStringLiteral("capture %1 differs from the screen at %2")
                                .arg(i)
                                .arg(waylandtools::differences(picture, screen))));
        QTRY_COMPARE(waylandtools::isTiled(appId), tiled);
    }
    QVERIFY(world.dialogs.messages.isEmpty());
}

void tst_WaylandCapture::buffersLiveOnlyAroundCaptures()
{
    const platform::Desktop desktop = platform::loadDesktop();
    QVERIFY(!dynamic_cast<platform::NullCaptureBackend *>(desktop.capture.get()));
    QCOMPARE(mappedBuffers(), 0); // nothing at start
    desktop.capture->prepareForCapture();
    QTRY_COMPARE(mappedBuffers(), 1);
    imaging::Picture picture = desktop.capture->captureScreen(); // into the prepared buffer
    QVERIFY(!picture.isNull());
    QCOMPARE(mappedBuffers(), 1);
    desktop.capture->releasePreparation(); // the picture keeps its pixels
    QCOMPARE(mappedBuffers(), 1);
    QVERIFY(!picture.toImage().isNull());
    picture = {}; // its buffer is kept for the next capture, until released
    QCOMPARE(mappedBuffers(), 1);
    desktop.capture->releasePreparation();
    QCOMPARE(mappedBuffers(), 0);
}

void tst_WaylandCapture::noCaptureRouteIsTold()
{
    // A session whose compositor cannot be reached offers no route at all.
    const QByteArray display = qgetenv("WAYLAND_DISPLAY");
    qputenv("WAYLAND_DISPLAY", "/nonexistent/wayland-socket");
    platform::Desktop desktop = platform::loadDesktop();
    qputenv("WAYLAND_DISPLAY", display);
    QVERIFY(dynamic_cast<platform::NullCaptureBackend *>(desktop.capture.get()));
    QVERIFY(desktop.settler);

    World world(*desktop.capture, Counter, false, desktop.settler.get());
    world.click();
    QTRY_COMPARE(world.dialogs.messages.size(), 1);
    QCOMPARE(world.dialogs.messages[0].text,
             QStringLiteral("Cannot capture the screen: this desktop does not let applications "
                            "capture it."));
    QVERIFY(world.files().isEmpty());
    world.verifyCameBack();
}

QTEST_MAIN(tst_WaylandCapture)
#include "tst_waylandcapture.moc"
