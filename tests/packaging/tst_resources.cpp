// The program icon as the window sees it: four images under :/icons, the 32-pixel one without
// an alpha channel (24 bits), the larger ones with one (32 bits).
#include <QFile>
#include <QImage>
#include <QTest>

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void iconImagesAreReachable_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("alpha");
        QTest::newRow("32 at 24 bits") << 32 << false;
        QTest::newRow("48 at 32 bits") << 48 << true;
        QTest::newRow("128 at 32 bits") << 128 << true;
        QTest::newRow("256 at 32 bits") << 256 << true;
    }

    void iconImagesAreReachable()
    {
        QFETCH(int, size);
        QFETCH(bool, alpha);
        const QString path = QStringLiteral(":/icons/vistarel-ombrix-%1.png").arg(size);
        QVERIFY2(QFile::exists(path), qPrintable(path));
        const QImage image(path);
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), QSize(size, size));
        QCOMPARE(image.hasAlphaChannel(), alpha);
        // The tile is drawn: the centre pixel is opaque even where the image has an alpha channel.
        QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
    }
};

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
