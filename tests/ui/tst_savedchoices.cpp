// The choices a capture from the command line reads from the settings file: the same naming
// mode and format as the window shows after start-up restored the same file.

#include "SavedChoices.h"
#include "SettingsStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using imaging::ImageFormat;
using ui::NamingMode;

class tst_SavedChoices : public QObject
{
    Q_OBJECT

private slots:
    void readsTheChoicesAsStartUpRestoresThem_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<NamingMode>("mode");
        QTest::addColumn<ImageFormat>("format");
        QTest::newRow("no file: the defaults")
            << QByteArray() << NamingMode::DateTime << ImageFormat::Jpeg;
        QTest::newRow("counted BMP") << QByteArray("Option1=False\nOption2=True\nOption4=False\n"
                                                   "Option5=True\n")
                                     << NamingMode::CountedPrefix << ImageFormat::Bmp;
        QTest::newRow("two on: the later wins") << QByteArray("Option1=True\nOption3=True\n"
                                                              "Option4=True\nOption5=True\n")
                                                << NamingMode::AskedName << ImageFormat::Bmp;
        QTest::newRow("all off") << QByteArray("Option1=False\nOption4=False\n") << NamingMode::None
                                 << ImageFormat::Bmp;
        QTest::newRow("PNG") << QByteArray("Option4=False\nOption5=False\nOption6=True\n")
                             << NamingMode::DateTime << ImageFormat::Png;
        // Edited by hand: the handler of the first one switched on rewrites the later keys.
        QTest::newRow("off, then two on: the first of them wins")
            << QByteArray("Option1=False\nOption2=True\nOption3=True\nOption4=False\n"
                          "Option5=True\nOption6=True\n")
            << NamingMode::CountedPrefix << ImageFormat::Bmp;
        QTest::newRow("unreadable: as the window starts")
            << QByteArray("Option1=yes\nOption2=maybe\nOption4=no\n") << NamingMode::DateTime
            << ImageFormat::Jpeg;
    }
    void readsTheChoicesAsStartUpRestoresThem()
    {
        QFETCH(QByteArray, settings);
        QFETCH(NamingMode, mode);
        QFETCH(ImageFormat, format);
        QTemporaryDir dir;
        const QString path = dir.path() + "/Vistarel Ombrix.conf";
        if (!settings.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[General]\nText1=/shots/\n" + settings);
        }
        app::SettingsStore store(path);
        const ui::SavedChoices choices(store);
        QCOMPARE(choices.namingMode(), mode);
        QCOMPARE(choices.imageFormat(), format);
        QCOMPARE(choices.prefix(), QStringLiteral("Screenshots"));
        QCOMPARE(choices.jpegQuality(), 85);
        if (!settings.isEmpty())
            QCOMPARE(choices.folder(), QStringLiteral("/shots/"));
        QCOMPARE(QFile::exists(path), !settings.isEmpty()); // reading writes nothing
    }
};

QTEST_GUILESS_MAIN(tst_SavedChoices)
#include "tst_savedchoices.moc"
