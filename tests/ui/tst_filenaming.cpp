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
    const QDate day(2021, 8, 31);
    const QDateTime afternoon(day, QTime(15, 45, 12), utc);
    // Separators "/" and ":" become "-", everything else stays: blanks, AM/PM, full stops, the
    // order and quoted text. The long time has no time zone; midnight exactly has no time.
    QTest::newRow("US") << "en_US" << afternoon << "8-31-21 3-45-12 PM";
    QTest::newRow("US midnight: the date alone")
        << "en_US" << QDateTime(day, QTime(0, 0), utc) << "8-31-21";
    QTest::newRow("US a second later")
        << "en_US" << QDateTime(day, QTime(0, 0, 1), utc) << "8-31-21 12-00-01 AM";
    QTest::newRow("German full stops stay") << "de_DE" << afternoon << "31.08.21 15-45-12";
    QTest::newRow("Japanese") << "ja_JP" << afternoon
                              << QString::fromUtf8("2021-08-31 15時45分12秒");
    QTest::newRow("zone in brackets (Basque)") << "eu_ES" << afternoon << "21-8-31 15-45-12";
    QTest::newRow("zone after a comma (Albanian)")
        << "sq_AL" << afternoon << "31.8.21 3-45-12 E PASDITES";
    QTest::newRow("zone first (Nuer)")
        << "nus_SS" << afternoon << QString::fromUtf8("31-08-2021 3-45-12 TŊ");
    QTest::newRow("quoted text (Low German)") << "nds_DE" << afternoon << "31.08.21 Klock 15.45-12";
}

void tst_FileNaming::dateTimeTextFollowsTheLocale()
{
    QFETCH(QString, locale);
    QFETCH(QDateTime, when);
    QFETCH(QString, expected);
    // AM/PM in capitals up to Qt 6.4, in the locale's own case after it: either stays.
    const QString text = ui::DateTimeText(when, QLocale(locale));
    QVERIFY2(text.compare(expected, Qt::CaseInsensitive) == 0, qPrintable(text));
}

QTEST_GUILESS_MAIN(tst_FileNaming)
#include "tst_filenaming.moc"
