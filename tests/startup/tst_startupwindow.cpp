// Captions on a real X server after the load step: the main window's is exactly the product
// name and a box's exactly its own (Qt would append an application display name to both),
// also after the window was hidden and shown again as a capture does.
#include "StartUpFixture.h"

#include <QMessageBox>
#include <QProcess>
#include <QTest>

namespace {

QString netWmName(const QWidget &window)
{
    QProcess xprop;
    xprop.start("xprop",
                {"-id", QString::number(window.winId()), "-notype", "_NET_WM_NAME", "WM_NAME"});
    xprop.waitForFinished(10000);
    return QString::fromUtf8(xprop.readAllStandardOutput()).section('\n', 0, 0);
}

} // namespace

class TestStartUpWindow : public QObject
{
    Q_OBJECT

private slots:
    void captionsAreExactlyTheirOwn()
    {
        testsupport::StartUpFixture start;
        start.startUp.Form_Load();
        for (int round = 0; round < 2; ++round) {
            start.window.hide();
            start.window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&start.window));
            QCOMPARE(netWmName(start.window), QStringLiteral("_NET_WM_NAME = \"Vistarel Ombrix\""));
        }

        QMessageBox box(QMessageBox::Warning, "Application Error", "text", QMessageBox::Ok,
                        &start.window);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QCOMPARE(netWmName(box), QStringLiteral("_NET_WM_NAME = \"Application Error\""));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("Vistarel"));
    }
};

QTEST_MAIN(TestStartUpWindow)
#include "tst_startupwindow.moc"
