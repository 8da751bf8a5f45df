// The window-free pieces of the capture command's file names.

#include "FileNaming.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

class tst_FileNaming : public QObject
{
    Q_OBJECT

private slots:
    void dateTimeTextFollowsTheLocale_data();
    void dateTimeTextFollowsTheLocale();
    void dateTimeTextNamesTheSummerZoneOfItsOwnDate();
    void normalFileExistsTakesTheNameLiterally();
    void unusedBaseNameCountsCopies();
};

void tst_FileNaming::dateTimeTextFollowsTheLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("expected");

    // Separators "/" and ":" become "-", everything else stays: blanks, AM/PM, full stops.
    QTest::newRow("US afternoon") << "en_US" << QTime(15, 45, 12) << "8-31-21 3-45-12 PM UTC";
    QTest::newRow("US midnight keeps its time") << "en_US" << QTime(0, 0, 0) << "8-31-21 12-00-00 AM UTC";
    QTest::newRow("German full stops stay") << "de_DE" << QTime(15, 45, 12) << "31.08.21 15-45-12 UTC";
    QTest::newRow("British") << "en_GB" << QTime(9, 5, 7) << "31-08-2021 09-05-07 UTC";
    QTest::newRow("Japanese") << "ja_JP" << QTime(15, 45, 12)
                              << QString::fromUtf8("2021-08-31 15時45分12秒 UTC");
}

void tst_FileNaming::dateTimeTextFollowsTheLocale()
{
    QFETCH(QString, locale);
    QFETCH(QTime, time);
    QFETCH(QString, expected);
    const QDateTime when(QDate(2021, 8, 31), time, QTimeZone::utc());
    QCOMPARE(ui::DateTimeText(when, QLocale(locale)), expected);
}

void tst_FileNaming::dateTimeTextNamesTheSummerZoneOfItsOwnDate()
{
    const QTimeZone berlin("Europe/Berlin");
    if (!berlin.isValid())
        QSKIP("no time zone data");
    const QLocale us("en_US");
    QCOMPARE(ui::DateTimeText(QDateTime(QDate(2021, 8, 31), QTime(15, 45, 12), berlin), us),
             QStringLiteral("8-31-21 3-45-12 PM CEST"));
    QCOMPARE(ui::DateTimeText(QDateTime(QDate(2021, 12, 31), QTime(15, 45, 12), berlin), us),
             QStringLiteral("12-31-21 3-45-12 PM CET"));
}

void tst_FileNaming::normalFileExistsTakesTheNameLiterally()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.path();
    QFile file(folder + "/shot1.jpg");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(QDir(folder).mkdir("sub1.jpg"));
    QVERIFY(QFile::link(folder + "/shot1.jpg", folder + "/link1.jpg"));

    QVERIFY(ui::NormalFileExists(folder + "/shot1.jpg"));
    QVERIFY(ui::NormalFileExists(folder + "/link1.jpg"));
    QVERIFY(!ui::NormalFileExists(folder + "/sub1.jpg")); // a folder is no normal file
    QVERIFY(!ui::NormalFileExists(folder + "/shot?.jpg")); // no wildcards
    QVERIFY(!ui::NormalFileExists(folder + "/*.jpg"));
    QVERIFY(!ui::NormalFileExists(QString()));
    QVERIFY(!ui::NormalFileExists(folder + '/' + QString(5000, 'x')));
}

void tst_FileNaming::unusedBaseNameCountsCopies()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString base = dir.path() + "/8-31-21 3-45-12 PM";
    QCOMPARE(ui::UnusedBaseName(base, ".jpg"), base);

    for (const QString &name : {base + ".jpg", base + " (2).jpg"}) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QCOMPARE(ui::UnusedBaseName(base, ".jpg"), base + " (3)");
    QCOMPARE(ui::UnusedBaseName(base, ".bmp"), base); // the other format does not collide

    QVERIFY(QDir().mkpath(base + " (3).jpg")); // a folder of that name blocks it too
    QCOMPARE(ui::UnusedBaseName(base, ".jpg"), base + " (4)");
}

QTEST_GUILESS_MAIN(tst_FileNaming)
#include "tst_filenaming.moc"
