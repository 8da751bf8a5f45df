// The main window on a real X server after the load step: its caption is exactly the product
// name (Qt appends the application's display name to captions it formats once that name is
// set), before and after the window was hidden and shown again as a capture does, and the
// window manager gets all four icon images.
#include "StartUpFixture.h"

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

QString xprop(const QWidget &window, const QStringList &properties)
{
    QProcess process;
    process.start(QStringLiteral("xprop"),
                  QStringList{"-len", "1000000", "-id", QString::number(window.winId()), "-notype"} + properties);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return QStringLiteral("xprop failed: ") + QString::fromLocal8Bit(process.readAllStandardError());
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

class TestStartUpWindow : public QObject
{
    Q_OBJECT

private slots:
    void captionIsTheProductNameOnTheServer()
    {
        testsupport::StartUpFixture start;
        start.startUp.Form_Load();
        start.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&start.window));

        const QString expected = QStringLiteral("_NET_WM_NAME = \"Vistarel Ombrix\"\nWM_NAME = \"Vistarel Ombrix\"\n");
        QCOMPARE(xprop(start.window, {"_NET_WM_NAME", "WM_NAME"}), expected);
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("Vistarel"));

        start.window.hide();
        QTRY_VERIFY(!start.window.isVisible());
        start.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&start.window));
        QCOMPARE(xprop(start.window, {"_NET_WM_NAME", "WM_NAME"}), expected);
        QVERIFY(start.dialogs.messages.isEmpty());
    }

    void windowManagerGetsTheFourIconImages()
    {
        testsupport::StartUpFixture start;
        start.startUp.Form_Load();
        start.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&start.window));

        QStringList sizes;
        static const QRegularExpression header(QStringLiteral("Icon \\((\\d+) x (\\d+)\\)"));
        for (auto match = header.globalMatch(xprop(start.window, {"_NET_WM_ICON"})); match.hasNext();)
            sizes.append(match.next().captured(1));
        sizes.sort();
        QCOMPARE(sizes, (QStringList{"128", "256", "32", "48"}));
    }
};

QTEST_MAIN(TestStartUpWindow)
#include "tst_startupwindow.moc"
