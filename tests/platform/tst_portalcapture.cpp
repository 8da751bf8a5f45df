// The desktop-portal route on the sway fixture with the wlr portal (the portal fixture): the
// real program captures with --capture through org.freedesktop.portal.Screenshot; the file
// shows the full-screen window on the screen, and the portal's own file is gone.

#include "ColourWindowProcess.h"
#include "ProgramHome.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class tst_PortalCapture : public QObject
{
    Q_OBJECT

private slots:
    void captureGoesThroughThePortalAndLeavesNoFile();
};

void tst_PortalCapture::captureGoesThroughThePortalAndLeavesNoFile()
{
    const testsupport::ProgramHome home(
        "Text2=portal-\nOption1=False\nOption2=True\nOption4=False\nOption5=True\n");
    QVERIFY(home.isReady());
    const QString shots = home.output();
    QFile::remove(QStringLiteral("/tmp/out.png")); // the wlr portal's file, from earlier runs

    const QColor colour(0x5a, 0x2e, 0x8c);
    ColourWindowProcess window({0, 0, 0, 0}, colour.name()); // full screen
    QVERIFY(window.isReady());
    QTest::qWait(300);

    QProcess program;
    QProcessEnvironment environment = home.environment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" VO_PORTAL_FOLDER "/bus");
    environment.insert("VO_CAPTURE_BACKEND", "portal");
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(VO_PROGRAM), {"--capture"});
    QVERIFY(program.waitForFinished(60000));
    const QString err = QString::fromUtf8(program.readAllStandardError());
    QVERIFY2(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0,
             qPrintable(err));
    const QString file = shots + "/portal-1.bmp";
    QCOMPARE(QString::fromUtf8(program.readAllStandardOutput()), file + "\n");

    const QImage picture = QImage(file).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), QSize(1920, 1080));
    for (const QPoint point : {QPoint(5, 5), QPoint(960, 540), QPoint(1914, 1074)})
        QCOMPARE(picture.pixelColor(point).name(), colour.name());
    QVERIFY2(!QFile::exists(QStringLiteral("/tmp/out.png")), "the portal's file was left behind");
}

QTEST_GUILESS_MAIN(tst_PortalCapture)
#include "tst_portalcapture.moc"
