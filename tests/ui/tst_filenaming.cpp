// The date-time text of the capture command's date-time names.

#include "FileNaming.h"

#include <QTest>
#include <QTimeZone>

class tst_FileNaming : public QObject
{
    Q_OBJECT

private slots:
    void dateTimeTextFollowsTheLocale_data();
    void dateTimeTextFollowsTheLocale();
};

void tst_FileNaming::dateTimeTextFollowsTheLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("expected");

    const QTimeZone utc = QTimeZone::utc();
    const QTimeZone berlin("Europe/Berlin");
    const QDate day(2021, 8, 31);
    // Separators "/" and ":" become "-", everything else stays: blanks, AM/PM, full stops.
    QTest::newRow("US") << "en_US" << QDateTime(day, QTime(15, 45, 12), utc) << "8-31-21 3-45-12 PM UTC";
    QTest::newRow("US midnight keeps its time") << "en_US" << QDateTime(day, QTime(0, 0), utc)
                                                << "8-31-21 12-00-00 AM UTC";
    QTest::newRow("German full stops stay") << "de_DE" << QDateTime(day, QTime(15, 45, 12), utc)
                                            << "31.08.21 15-45-12 UTC";
    QTest::newRow("Japanese") << "ja_JP" << QDateTime(day, QTime(15, 45, 12), utc)
                              << QString::fromUtf8("2021-08-31 15時45分12秒 UTC");
    // The zone named is the one in force on the picture's own date.
    if (berlin.isValid()) {
        QTest::newRow("summer time") << "en_US" << QDateTime(day, QTime(15, 45, 12), berlin)
                                     << "8-31-21 3-45-12 PM CEST";
        QTest::newRow("winter time") << "en_US" << QDateTime(QDate(2021, 12, 31), QTime(15, 45, 12), berlin)
                                     << "12-31-21 3-45-12 PM CET";
    }
}

void tst_FileNaming::dateTimeTextFollowsTheLocale()
{
    QFETCH(QString, locale);
    QFETCH(QDateTime, when);
    QFETCH(QString, expected);
    QCOMPARE(ui::DateTimeText(when, QLocale(locale)), expected);
}

QTEST_GUILESS_MAIN(tst_FileNaming)
#include "tst_filenaming.moc"
