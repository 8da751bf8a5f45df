// The load step on the offscreen platform: what a start restores from the store and writes
// back, the skin and pointer files present, absent and broken, the home-page draw, and the
// application title.
#include "CursorFileBytes.h"
#include "StartUpFixture.h"
#include "core/Error.h"

#include <QApplication>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>

using testsupport::StartUpFixture;
using Settings = std::map<QString, QString>;

namespace {

// "10010": Option1 to Option5 on (1) or off (0).
QString optionStates(const ui::MainWindow &window)
{
    QString states;
    for (const QRadioButton *option :
         {window.Option1(), window.Option2(), window.Option3(), window.Option4(), window.Option5()})
        states += option->isChecked() ? QLatin1Char('1') : QLatin1Char('0');
    return states;
}

QStringList reportedNumbers(const testsupport::RecordingDialogs &dialogs)
{
    QStringList numbers;
    for (const auto &message : dialogs.messages) {
        const qsizetype at = message.text.indexOf(QLatin1String("at line "));
        numbers.append(at < 0 ? QStringLiteral("?") : message.text.mid(at + 8).section(QLatin1Char('\r'), 0, 0));
    }
    return numbers;
}

// The colours the shown window shows at a spot of its own background and at the right end of
// some controls (past their text).
QList<QColor> backgrounds(ui::MainWindow &window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return {};
    const QImage image = window.grab().toImage();
    QList<QColor> colours{image.pixelColor(2, 2)};
    for (const QWidget *control : std::initializer_list<const QWidget *>{
             window.Option3(), window.Option5(), window.Frame2(), window.Label1()}) {
        // A frame draws its own panel below its title; its background shows beside the title.
        const QRect area(control->mapTo(&window, QPoint(0, 0)), control->size());
        const bool frame = qobject_cast<const QGroupBox *>(control);
        colours.append(image.pixelColor(area.right() - 1, frame ? area.top() + 2 : area.center().y()));
    }
    return colours;
}

} // namespace

class TestStartUp : public QObject
{
    Q_OBJECT

private slots:
    void firstRunRestoresDefaultsAndStoresTheTexts()
    {
        StartUpFixture start;
        start.startUp.Form_Load();

        const QString desktop = start.home() + QStringLiteral("/Desktop/");
        QCOMPARE(start.window.Text1()->text(), desktop);
        QCOMPARE(start.window.Text2()->text(), QStringLiteral("Screenshots"));
        QCOMPARE(optionStates(start.window), QStringLiteral("10010"));
        // No option changed state, so no click handler ran and no option key was written.
        QCOMPARE(start.writes, (QStringList{"Text1=" + desktop, "Text2=Screenshots"}));
        QCOMPARE(start.stored("Text1"), desktop);
        QCOMPARE(start.stored("Text2"), QStringLiteral("Screenshots"));
        QVERIFY(start.stored("Option1").isNull());
        QVERIFY(start.dialogs.messages.isEmpty());
        QVERIFY(!start.window.isVisible());
    }

    void dressesTheWindow()
    {
        StartUpFixture start;
        start.startUp.Form_Load();

        QCOMPARE(start.window.windowTitle(), QStringLiteral("Vistarel Ombrix"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("Vistarel"));
        QList<QSize> sizes = start.window.windowIcon().availableSizes();
        std::sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) { return a.width() < b.width(); });
        QCOMPARE(sizes, (QList<QSize>{{32, 32}, {48, 48}, {128, 128}, {256, 256}}));
        QVERIFY(start.dialogs.messages.isEmpty());
    }

    void restoresOptionGroups_data()
    {
        QTest::addColumn<Settings>("prepared");
        QTest::addColumn<QString>("states");
        QTest::addColumn<QStringList>("optionWrites"); // by the click handlers, in order

        const QStringList naming2{"Option1=False", "Option2=True", "Option3=False"};
        QTest::newRow("prefix mode selected: its handler rewrites the group")
            << Settings{{"Option1", "false"}, {"Option2", "TRUE"}, {"Option3", "false"}} << "01010" << naming2;
        QTest::newRow("two modes on: the later one wins")
            << Settings{{"Option1", "True"}, {"Option2", "True"}, {"Option3", "False"}} << "01010" << naming2;
        QTest::newRow("all modes off: none selected, nothing written")
            << Settings{{"Option1", "false"}, {"Option2", "false"}, {"Option3", "false"}} << "00010"
            << QStringList{};
        QTest::newRow("numbers: zero is off, any other is on")
            << Settings{{"Option1", "0"}, {"Option2", "0"}, {"Option3", "-2"}} << "00110"
            << QStringList{"Option1=False", "Option2=False", "Option3=True"};
        QTest::newRow("BMP selected")
            << Settings{{"Option4", "False"}, {"Option5", "True"}} << "10001"
            << QStringList{"Option4=False", "Option5=True"};
        QTest::newRow("no format selected")
            << Settings{{"Option4", "False"}, {"Option5", "False"}} << "10000" << QStringList{};
    }

    void restoresOptionGroups()
    {
        QFETCH(Settings, prepared);
        QFETCH(QString, states);
        QFETCH(QStringList, optionWrites);

        StartUpFixture start;
        start.prepareSettings(prepared);
        start.startUp.Form_Load();

        QCOMPARE(optionStates(start.window), states);
        QCOMPARE(start.writes.filter(QStringLiteral("Option")), optionWrites);
        // The store ends as the handlers left it; keys no handler wrote keep their stored text.
        for (const QString &write : optionWrites)
            QCOMPARE(start.stored(write.section('=', 0, 0)), write.section('=', 1));
        if (optionWrites.isEmpty()) {
            for (const auto &[key, value] : prepared)
                QCOMPARE(start.stored(key), value);
        }
        QVERIFY(start.dialogs.messages.isEmpty());
    }

    void restoresTheTextsAsStored()
    {
        StartUpFixture start;
        start.prepareSettings({{"Text1", "/srv/shots"}, {"Text2", ""}});
        start.startUp.Form_Load();

        QCOMPARE(start.window.Text1()->text(), QStringLiteral("/srv/shots"));
        QCOMPARE(start.window.Text2()->text(), QString());
        QCOMPARE(start.stored("Text1"), QStringLiteral("/srv/shots"));
        QCOMPARE(start.stored("Text2"), QString(""));
    }

    void unreadableOptionIsReportedAndLaterStepsRun_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("states");

        // Option5 is stored on, so its restore (the last step) shows that later steps ran.
        QTest::newRow("Option1 yes") << "Option1" << "yes" << "132" << "10001";
        QTest::newRow("Option2 yes") << "Option2" << "yes" << "134" << "10001";
        QTest::newRow("Option3 empty") << "Option3" << "" << "136" << "10001";
        QTest::newRow("Option4 on") << "Option4" << "on" << "138" << "10001";
        QTest::newRow("Option5 yes") << "Option5" << "yes" << "140" << "10000";
    }

    void unreadableOptionIsReportedAndLaterStepsRun()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, number);
        QFETCH(QString, states);

        StartUpFixture start;
        Settings prepared{{"Option4", "False"}, {"Option5", "True"}};
        prepared[key] = value;
        start.prepareSettings(prepared);
        bool visibleDuringReport = true;
        start.dialogs.onMessage = [&] { visibleDuringReport = start.window.isVisible(); };
        start.startUp.Form_Load();

        QCOMPARE(reportedNumbers(start.dialogs), QStringList{number});
        const auto &message = start.dialogs.messages.first();
        QCOMPARE(message.title, QStringLiteral("Application Error"));
        QCOMPARE(message.text, app::BuildErrorReport(app::FormLoadLocation, "Type mismatch", number.toInt()));
        QVERIFY(!visibleDuringReport);
        QCOMPARE(optionStates(start.window), states);
    }

    void failedDesktopLookupKeepsTheDesignText()
    {
        StartUpFixture start;
        start.prepareSettings({{"Text1", "/never/read/"}});
        start.reporter.setStatementProbe([](const QString &location, int number) {
            if (location == app::FormLoadLocation && number == 128)
                throw core::Error(core::Error::InvalidArgument, "Invalid procedure call or argument");
        });
        start.startUp.Form_Load();

        QCOMPARE(reportedNumbers(start.dialogs), QStringList{"128"});
        QCOMPARE(start.window.Text1()->text(), QStringLiteral("Text1"));
        QCOMPARE(start.stored("Text1"), QStringLiteral("/never/read/"));
        QCOMPARE(start.window.Text2()->text(), QStringLiteral("Screenshots"));
    }

    void skin_data()
    {
        QTest::addColumn<QString>("where");   // folder under the fixture: program, data, none
        QTest::addColumn<QByteArray>("sheet"); // empty: x/o.cjs is a folder, not a file
        QTest::addColumn<bool>("coloured");
        QTest::addColumn<bool>("applied");
        QTest::addColumn<QStringList>("reported");

        const QByteArray valid = "QLabel#Label1 { background-color: rgb(10, 20, 30); }";
        QTest::newRow("absent") << "none" << valid << false << false << QStringList{};
        QTest::newRow("in the program folder") << "program" << valid << true << true << QStringList{};
        QTest::newRow("in the data folder") << "data" << valid << true << true << QStringList{};
        QTest::newRow("refused") << "program" << QByteArray("QPushButton { color: red") << true << false
                                 << QStringList{"100"};
        QTest::newRow("a folder of that name") << "program" << QByteArray() << false << false << QStringList{};
    }

    void skin()
    {
        QFETCH(QString, where);
        QFETCH(QByteArray, sheet);
        QFETCH(bool, coloured);
        QFETCH(bool, applied);
        QFETCH(QStringList, reported);

        StartUpFixture start;
        const QString folder = where == "program" ? start.programFolder() : start.dataFolder();
        if (where != "none") {
            if (sheet.isEmpty())
                QDir().mkpath(folder + "/x/o.cjs");
            else
                start.writeFile(folder + "/x/o.cjs", sheet);
        }
        // The design colour of the window, its frames, option buttons and label.
        const QList<QColor> design(5, QColor(Qt::white));
        const QString designSheet = start.window.styleSheet();
        if (!reported.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Could not parse stylesheet"));
        start.startUp.Form_Load();

        QCOMPARE(reportedNumbers(start.dialogs), reported);
        const QColor face = QApplication::palette().color(QPalette::Button);
        QVERIFY(!design.contains(face));
        QList<QColor> expected = coloured ? QList<QColor>(design.size(), face) : design;
        if (applied)
            expected.last() = QColor(10, 20, 30); // Label1, by the skin's own rule
        QCOMPARE(backgrounds(start.window), expected);
        if (!applied && !sheet.isEmpty())
            QVERIFY(!start.window.styleSheet().contains(QString::fromUtf8(sheet)));
        if (!coloured)
            QCOMPARE(start.window.styleSheet(), designSheet);
        // Restoring still ran after the skin step.
        QCOMPARE(start.window.Text2()->text(), QStringLiteral("Screenshots"));
    }

    void pointer_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("custom");
        QTest::addColumn<QStringList>("reported");

        const QByteArray cursor = testsupport::cursorFileBytes({32, 32}, {3, 5});
        QTest::newRow("absent") << "none" << cursor << false << QStringList{};
        QTest::newRow("in the program folder") << "program" << cursor << true << QStringList{};
        QTest::newRow("in the data folder") << "data" << cursor << true << QStringList{};
        QTest::newRow("broken") << "program" << QByteArray("not a cursor") << false << QStringList{"106"};
    }

    void pointer()
    {
        QFETCH(QString, where);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, custom);
        QFETCH(QStringList, reported);

        StartUpFixture start;
        if (where != "none")
            start.writeFile((where == "program" ? start.programFolder() : start.dataFolder()) + "/HAND-M.CUR", bytes);
        start.startUp.Form_Load();

        QCOMPARE(reportedNumbers(start.dialogs), reported);
        start.window.setMousePointer(ui::MainWindow::PointerCustom);
        const QCursor shown = start.window.cursor();
        if (custom) {
            QCOMPARE(shown.shape(), Qt::BitmapCursor);
            QCOMPARE(shown.pixmap().size(), QSize(32, 32));
            QCOMPARE(shown.hotSpot(), QPoint(3, 5));
        } else {
            QVERIFY(shown.shape() != Qt::BitmapCursor);
        }
    }

    void homePageOpensOnOneDrawInAHundred_data()
    {
        QTest::addColumn<int>("draw");
        QTest::addColumn<bool>("opened");
        for (const int draw : {1, 6, 7, 8, 100})
            QTest::addRow("draw %d", draw) << draw << (draw == 7);
    }

    void homePageOpensOnOneDrawInAHundred()
    {
        QFETCH(int, draw);
        QFETCH(bool, opened);

        StartUpFixture start(draw);
        start.startUp.Form_Load();

        const QList<QUrl> expected =
            opened ? QList<QUrl>{QUrl("https://www.kestrelby.example/vistarel-ombrix")} : QList<QUrl>{};
        QCOMPARE(start.urlOpener.opened, expected);
        QVERIFY(start.dialogs.messages.isEmpty());
    }

    void appTitle_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("title");
        QTest::newRow("the product") << "Vistarel Ombrix" << "Vistarel";
        QTest::newRow("four words, 30 characters") << "Granite Basalt Cobalt Dolomite" << "Granite Basalt Cobalt";
        QTest::newRow("six 9-letter words, 59 characters")
            << "Aaaaaaaaa Bbbbbbbbb Ccccccccc Ddddddddd Eeeeeeeee Fffffffff"
            << "Aaaaaaaaa Bbbbbbbbb Ccccccccc Ddddddddd";
        QTest::newRow("one word") << "Vistarel" << "";
    }

    void appTitle()
    {
        QFETCH(QString, product);
        QFETCH(QString, title);
        QCOMPARE(app::AppTitle(product), title);
    }
};

QTEST_MAIN(TestStartUp)
#include "tst_startup.moc"
