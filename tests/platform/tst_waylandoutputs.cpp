// The Wayland capture shows the primary output, the first in the compositor's order, in the
// output's native pixels: with a second output of another size beside it (on either side), and
// at scale 1.5 and 2, the picture equals grim's picture of that output, through each capture
// protocol the compositor offers. The outputs show a fine pattern, so that a picture of the
// wrong output, a scaled one or a shifted one differs from grim's.

#include "NullCaptureBackend.h"
#include "PlatformLoader.h"
#include "WaylandConnection.h"
#include "WaylandTools.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QTest>

class tst_WaylandOutputs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void capturesThePrimaryOutputInNativePixels_data();
    void capturesThePrimaryOutputInNativePixels();

private:
    void addSecondOutput();

    QString m_runtime; // sway's runtime folder
    QString m_second;  // the output this test adds
};

namespace {

const QString Primary = QStringLiteral("HEADLESS-1");
const QSize Native(1920, 1080);

QStringList outputNames()
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SWAYSOCK", qEnvironmentVariable("VO_SWAY_FOLDER") + "/swaysock");
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("swaymsg"), {"-r", "-t", "get_outputs"});
    process.waitForFinished(10000);
    QStringList names;
    for (const QJsonValue &output :
         QJsonDocument::fromJson(process.readAllStandardOutput()).array())
        names << output.toObject().value("name").toString();
    return names;
}

// A tile of one-pixel lines and a diagonal, in the given hue: every shift or scaling shows.
QString writePattern(const QString &folder, const QString &name, const QColor &hue)
{
    QImage tile(48, 32, QImage::Format_RGB32);
    tile.fill(hue);
    QPainter painter(&tile);
    for (int x = 0; x < tile.width(); x += 2)
        painter.fillRect(x, 0, 1, tile.height() / 2, Qt::white);
    painter.setPen(Qt::black);
    painter.drawLine(0, 0, tile.width() - 1, tile.height() - 1);
    painter.end();
    const QString path = folder + '/' + name;
    tile.save(path, "PNG");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    return path;
}

} // namespace

void tst_WaylandOutputs::initTestCase()
{
    // The patterns go where sway (as nobody, perhaps inside a testing root) can read them.
    QFile runtimePath(qEnvironmentVariable("VO_SWAY_FOLDER") + "/runtime");
    QVERIFY(runtimePath.open(QIODevice::ReadOnly));
    m_runtime = QString::fromLocal8Bit(runtimePath.readAll().trimmed());
    QVERIFY(waylandtools::swaymsg(
        {"output", Primary, "bg", writePattern(m_runtime, "primary.png", "#3a5f8a"), "tile"}));
}

void tst_WaylandOutputs::addSecondOutput()
{
    // Added once, for the rows that need it, which come last: sway 1.7 fails to disable a
    // headless output.
    const QStringList before = outputNames();
    QVERIFY(waylandtools::swaymsg({"create_output"}));
    QTRY_COMPARE(outputNames().size(), before.size() + 1);
    for (const QString &name : outputNames())
        if (!before.contains(name))
            m_second = name;
    QVERIFY(waylandtools::swaymsg({"output", m_second, "resolution", "1280x720", "bg",
                                   writePattern(m_runtime, "second.png", "#8a3a5f"), "tile"}));
}

void tst_WaylandOutputs::capturesThePrimaryOutputInNativePixels_data()
{
    QTest::addColumn<QByteArray>("protocol");
    QTest::addColumn<QString>("scale");
    QTest::addColumn<QString>("secondAt"); // the second output's place: none, left, right
    const struct
    {
        const char *name;
        const char *scale;
        const char *secondAt;
    } layouts[] = {
        {"one output", "1", "none"},
        {"scale 1.5", "1.5", "none"},
        {"scale 2", "2", "none"},
        {"a smaller output to the right", "1", "right"},
        {"a smaller output to the left, at the layout's origin", "1", "left"},
        {"scale 2 beside an output of scale 1", "2", "right"},
    };
    for (const auto &layout : layouts)
        for (const QByteArray protocol : {"ext-image-copy-capture", "wlr-screencopy"})
            QTest::addRow("%s, %s", protocol.constData(), layout.name)
                << protocol << QString(layout.scale) << QString(layout.secondAt);
}

void tst_WaylandOutputs::capturesThePrimaryOutputInNativePixels()
{
    QFETCH(QByteArray, protocol);
    QFETCH(QString, scale);
    QFETCH(QString, secondAt);
    {
        const auto connection = platform::WaylandConnection::open();
        QVERIFY(connection);
        if (protocol == "ext-image-copy-capture" && !connection->imageCopyCaptureManager())
            QSKIP("the compositor does not offer ext-image-copy-capture");
    }
    const int primaryWidth = int(Native.width() / scale.toDouble()); // in the layout
    const bool second = secondAt != "none";
    const QString primaryX = secondAt == "left" ? "1280" : "0";
    const QString secondX = secondAt == "left" ? "0" : QString::number(primaryWidth);
    QVERIFY(waylandtools::swaymsg(
        {"output", Primary, "scale", scale, "position", primaryX, "0", "enable"}));
    if (second && m_second.isEmpty())
        addSecondOutput();
    if (second)
        QVERIFY(waylandtools::swaymsg({"output", m_second, "position", secondX, "0"}));
    QTRY_COMPARE(outputNames().size(), second ? 2 : 1);

    // grim's picture of the primary output, once two in a row agree (swaybg has redrawn).
    QImage expected;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const QImage previous = std::exchange(expected, waylandtools::grimScreen(Primary));
            return expected.size() == Native && expected == previous;
        }(),
        10000);

    qputenv("VO_CAPTURE_BACKEND", protocol);
    const platform::Desktop desktop = platform::loadDesktop();
    qunsetenv("VO_CAPTURE_BACKEND");
    QVERIFY2(!dynamic_cast<platform::NullCaptureBackend *>(desktop.capture.get()),
             qPrintable(desktop.capture->failureReason()));
    const QImage picture =
        desktop.capture->captureScreen().toImage().convertToFormat(expected.format());
    QCOMPARE(picture.size(), Native);
    QVERIFY2(picture == expected, qPrintable(waylandtools::differences(picture, expected)));
}

QTEST_MAIN(tst_WaylandOutputs)
#include "tst_waylandoutputs.moc"
