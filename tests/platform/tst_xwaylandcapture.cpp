// "Capture Now" from a program on Xwayland (Qt on xcb) beside a native Wayland window, on a
// headless sway with Xwayland. Xwayland's root window shows only X11 windows, so an X11
// capture there would be black where the Wayland window is: in the Wayland session the capture
// goes through the compositor and equals the screen as grim sees it; with nothing but DISPLAY
// to go by, the server is recognised as Xwayland and the program says it cannot capture.

#include "CaptureWorld.h"
#include "ColourWindowProcess.h"
#include "NullCaptureBackend.h"
#include "PlatformLoader.h"
#include "WaylandTools.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QTest>

class tst_XwaylandCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void capturesTheTrueScreenOrSaysItCannot_data();
    void capturesTheTrueScreenOrSaysItCannot();

private:
    QByteArray m_waylandDisplay;
};

void tst_XwaylandCapture::initTestCase()
{
    m_waylandDisplay = qgetenv("WAYLAND_DISPLAY");
    QVERIFY(!m_waylandDisplay.isEmpty());
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
}

void tst_XwaylandCapture::capturesTheTrueScreenOrSaysItCannot_data()
{
    QTest::addColumn<bool>("inWaylandSession"); // WAYLAND_DISPLAY set, as sway sets it
    QTest::newRow("in the Wayland session") << true;
    QTest::newRow("with only DISPLAY") << false;
}

void tst_XwaylandCapture::capturesTheTrueScreenOrSaysItCannot()
{
    QFETCH(bool, inWaylandSession);
    // A native Wayland window, which Xwayland cannot see.
    qputenv("QT_QPA_PLATFORM", "wayland");
    ColourWindowProcess native({0, 0, 100, 100}, "#c03028");
    qputenv("QT_QPA_PLATFORM", "xcb");
    QVERIFY(native.isReady());
    const QImage screen = waylandtools::settledScreen();
    QCOMPARE(screen.size(), QSize(1920, 1080));

    if (!inWaylandSession)
        qunsetenv("WAYLAND_DISPLAY");
    const platform::Desktop desktop = platform::loadDesktop();
    qputenv("WAYLAND_DISPLAY", m_waylandDisplay);
    QCOMPARE(!dynamic_cast<platform::NullCaptureBackend *>(desktop.capture.get()),
             inWaylandSession);

    World world(*desktop.capture, Counter, /*bmp*/ true, desktop.settler.get());
    QTRY_VERIFY(waylandtools::settledScreen() != screen); // the window is on the screen
    world.click();
    world.verifyCameBack();
    if (inWaylandSession) {
        QCOMPARE(world.files(), QStringList{"Shot1.bmp"});
        const QImage picture = QImage(world.folder + "/Shot1.bmp").convertToFormat(screen.format());
        QVERIFY2(picture == screen, qPrintable(waylandtools::differences(picture, screen)));
        QVERIFY(world.dialogs.messages.isEmpty());
    } else {
        QVERIFY(world.files().isEmpty());
        QCOMPARE(world.dialogs.messages.size(), 1);
        QCOMPARE(world.dialogs.messages[0].text,
                 QStringLiteral("Cannot capture the screen: this desktop does not let "
                                "applications capture it."));
    }
}

// Qt runs on the fixture's Xwayland, whose display the fixture wrote down.
int main(int argc, char *argv[])
{
    QFile display(qEnvironmentVariable("VO_SWAY_FOLDER") + "/display");
    if (!display.open(QIODevice::ReadOnly)) {
        qCritical("no Xwayland display in %s", qPrintable(display.fileName()));
        return 1;
    }
    qputenv("DISPLAY", display.readAll().trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication application(argc, argv);
    tst_XwaylandCapture test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_xwaylandcapture.moc"
