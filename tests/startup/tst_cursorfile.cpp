// Reading the pointer picture HAND-M.CUR: the image through Qt's ico reader, the hot spot from
// the cursor file's own directory entry, and a clean failure for anything that is not a cursor.
#include "CursorFile.h"
#include "CursorFileBytes.h"
#include "core/Error.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

class TestCursorFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("HAND-M.CUR"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        file.write(bytes);
        return path;
    }

private slots:
    void readsImageAndHotSpot_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("recorded");
        QTest::addColumn<QPoint>("hotSpot");
        QTest::newRow("32 pixels") << QSize(32, 32) << QPoint(3, 5) << QPoint(3, 5);
        QTest::newRow("16 pixels, far corner") << QSize(16, 16) << QPoint(15, 15) << QPoint(15, 15);
        QTest::newRow("hot spot outside is clamped") << QSize(32, 32) << QPoint(40, 2) << QPoint(31, 2);
    }

    void readsImageAndHotSpot()
    {
        QFETCH(QSize, size);
        QFETCH(QPoint, recorded);
        QFETCH(QPoint, hotSpot);

        const QRgb colour = qRgba(200, 30, 30, 255);
        const auto cursorFile = app::CursorFile::read(write(testsupport::cursorFileBytes(size, recorded, colour)));
        QCOMPARE(cursorFile.image().size(), size);
        QCOMPARE(cursorFile.image().pixel(size.width() / 2, size.height() / 2), colour);
        QCOMPARE(cursorFile.hotSpot(), hotSpot);

        const QCursor cursor = cursorFile.cursor();
        QCOMPARE(cursor.shape(), Qt::BitmapCursor);
        QCOMPARE(cursor.hotSpot(), hotSpot);
    }

    void rejectsWhatIsNoCursor_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray cursor = testsupport::cursorFileBytes({32, 32}, {1, 1});
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("HAND-M.CUR is not a picture");
        QTest::newRow("icon, not cursor") << testsupport::cursorFileBytes({32, 32}, {1, 32}, qRgb(0, 0, 0), 1);
        QTest::newRow("header only") << cursor.left(6 + 16);
        QTest::newRow("no entries") << QByteArray("\0\0\2\0\0\0", 6) + cursor.mid(6);
        QTest::newRow("image cut short") << cursor.left(6 + 16 + 20);
    }

    void rejectsWhatIsNoCursor()
    {
        QFETCH(QByteArray, bytes);
        const QString path = write(bytes);
        try {
            app::CursorFile::read(path);
            QFAIL("no error raised");
        } catch (const core::Error &error) {
            QCOMPARE(error.number(), 481);
            QVERIFY2(error.description().contains(path), qPrintable(error.description()));
        }
    }

    void missingFileIsAnError()
    {
        QVERIFY_THROWS_EXCEPTION(core::Error, app::CursorFile::read(m_dir.filePath("missing.cur")));
    }
};

QTEST_MAIN(TestCursorFile)
#include "tst_cursorfile.moc"
