// The load step on the offscreen platform: what a start restores and writes back, the skin and
// pointer files present, absent and broken, the home-page draw, and the application title.
#include "CursorFileBytes.h"
#include "DesignControls.h"
#include "ReportLocations.h"
#include "StartUpFixture.h"

#include <QApplication>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>

using testsupport::StartUpFixture;
using Settings = std::map<QString, QString>;

namespace {

// "100100": Option1 to Option6 on (1) or off (0).
QString optionStates(const ui::MainWindow &w)
{
    QString states;
    for (const char *name : {"Option1", "Option2", "Option3", "Option4", "Option5", "Option6"})
        states += testsupport::control<QRadioButton>(w, name)->isChecked() ? '1' : '0';
    return states;
}

QStringList reportedNumbers(const testsupport::RecordingDialogs &dialogs)
{
    QStringList numbers;
    for (const auto &message : dialogs.messages)
        numbers.append(message.text.section("at line ", 1).section('\r', 0, 0));
    return numbers;
}

// What the shown window paints at its background and beside the text of some controls.
QList<QColor> backgrounds(ui::MainWindow &window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return {};
    const QImage image = window.grab().toImage();
    QList<QColor> colours{image.pixelColor(2, 2)};
    for (const QWidget *control : std::initializer_list<const QWidget *>{
             testsupport::control<QRadioButton>(window, "Option3"),
             testsupport::control<QRadioButton>(window, "Option5"),
             testsupport::control<QGroupBox>(window, "Frame2"),
             testsupport::control<QLabel>(window, "Label1")}) {
        // A frame draws a panel of its own below its title line.
        const QRect area(control->mapTo(&window, QPoint(0, 0)), control->size());
        const bool frame = qobject_cast<const QGroupBox *>(control);
        colours.append(
            image.pixelColor(area.right() - 1, frame ? area.top() + 2 : area.center().y()));
    }
    return colours;
}

} // namespace

class TestStartUp : public QObject
{
    Q_OBJECT

private slots:
    void firstRunDressesTheWindowAndStoresTheDefaults()
    {
        StartUpFixture start;
        start.startUp.Form_Load();

        const QString desktop = start.path("home/Desktop/");
        QCOMPARE(testsupport::control<QLineEdit>(start.window, "Text1")->text(), desktop);
        QCOMPARE(testsupport::control<QLineEdit>(start.window, "Text2")->text(),
                 QStringLiteral("Screenshots"));
        QCOMPARE(optionStates(start.window), QStringLiteral("100100"));
        // No option changed state, so no click handler wrote an option key.
        QCOMPARE(start.writes, (QStringList{"Text1=" + desktop, "Text2=Screenshots"}));
        QCOMPARE(start.stored("Text1"), desktop);
        QVERIFY(start.stored("Option1").isNull());

        QCOMPARE(start.window.windowTitle(), QStringLiteral("Vistarel Ombrix"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("Vistarel"));
        QList<QSize> sizes = start.window.windowIcon().availableSizes();
        std::sort(sizes.begin(), sizes.end(),
                  [](QSize a, QSize b) { return a.width() < b.width(); });
        QCOMPARE(sizes, (QList<QSize>{{32, 32}, {48, 48}, {128, 128}, {256, 256}}));
        QVERIFY(start.dialogs.messages.isEmpty());
        QVERIFY(!start.window.isVisible());
    }

    void restoresOptionGroups_data()
    {
        QTest::addColumn<Settings>("prepared");
        QTest::addColumn<QString>("states");
        QTest::addColumn<QStringList>("optionWrites"); // by the click handlers, in order

        const QStringList byOption2{"Option1=False", "Option2=True", "Option3=False"};
        QTest::newRow("prefix mode: its handler rewrites the group")
            << Settings{{"Option1", "false"}, {"Option2", "TRUE"}, {"Option3", "false"}} << "010100"
            << byOption2;
        QTest::newRow("two modes on: the later wins")
            << Settings{{"Option1", "True"}, {"Option2", "True"}, {"Option3", "False"}} << "010100"
            << byOption2;
        QTest::newRow("all modes off: none selected")
            << Settings{{"Option1", "false"}, {"Option2", "false"}, {"Option3", "false"}}
            << "000100" << QStringList{};
        QTest::newRow("numbers: zero off, others on")
            << Settings{{"Option1", "0"}, {"Option3", "-2"}} << "001100"
            << QStringList{"Option1=False", "Option2=False", "Option3=True"};
        // A file of an older version has no Option6: it reads as off.
        QTest::newRow("BMP, no Option6")
            << Settings{{"Option4", "False"}, {"Option5", "True"}} << "100010"
            << QStringList{"Option4=False", "Option5=True", "Option6=False"};
        QTest::newRow("PNG") << Settings{{"Option4", "False"},
                                         {"Option5", "False"},
                                         {"Option6", "True"}}
                             << "100001"
                             << QStringList{"Option4=False", "Option5=False", "Option6=True"};
        // Edited by hand: BMP's handler rewrites Option6 before its step reads it.
        QTest::newRow("BMP and PNG on: BMP's handler decides")
            << Settings{{"Option4", "False"}, {"Option5", "True"}, {"Option6", "True"}} << "100010"
            << QStringList{"Option4=False", "Option5=True", "Option6=False"};
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
        QCOMPARE(start.writes.filter("Option"), optionWrites);
        if (optionWrites.isEmpty())
            QCOMPARE(start.stored("Option1"), prepared["Option1"]);
        QVERIFY(start.dialogs.messages.isEmpty());
    }

    void unreadableOptionIsReportedAndLaterStepsRun_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("states"); // Option5 is stored on: the later steps still run
        QTest::newRow("Option1 yes") << "Option1"
                                     << "yes"
                                     << "100010";
        QTest::newRow("Option2 yes") << "Option2"
                                     << "yes"
                                     << "100010";
        QTest::newRow("Option4 empty") << "Option4"
                                       << ""
                                       << "100010";
        QTest::newRow("Option6 maybe") << "Option6"
                                       << "maybe"
                                       << "100100";
    }

    void unreadableOptionIsReportedAndLaterStepsRun()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, states);

        StartUpFixture start;
        Settings prepared{{key, value}};
        // BMP's handler would rewrite Option6 before its own step reads it.
        if (key != "Option6")
            prepared["Option5"] = "True";
        start.prepareSettings(prepared);
        bool visibleDuringReport = true;
        start.dialogs.onMessage = [&] { visibleDuringReport = start.window.isVisible(); };
        start.startUp.Form_Load();

        const int number = 130 + 2 * key.right(1).toInt();
        QCOMPARE(start.dialogs.messages.size(), 1);
        QCOMPARE(start.dialogs.messages.first().text,
                 app::BuildErrorReport(app::ReportLocation::FormLoad, "Type mismatch", number));
        QVERIFY(!visibleDuringReport);
        QCOMPARE(optionStates(start.window), states);
    }

    // A settings file that is no settings file: the first restore's write moves it aside, the
    // report of statement 128 names both paths, and every choice starts from its default.
    void foreignSettingsFileIsSetAsideAndReported()
    {
        StartUpFixture start;
        start.writeFile("config/Kestrelby/Vistarel Ombrix.conf",
                        "root:x:0:0:root:/root:/bin/bash\n");
        start.startUp.Form_Load();

        QCOMPARE(reportedNumbers(start.dialogs), QStringList{"128"});
        const QString file = start.settings.filePath();
        QVERIFY(start.dialogs.messages.first().text.contains('"' + file + "\" was moved to \"" +
                                                             file + ".damaged-"));
        QCOMPARE(start.window.folder(), start.path("home/Desktop/"));
        QCOMPARE(start.window.prefix(), QStringLiteral("Screenshots"));
        QCOMPARE(optionStates(start.window), QStringLiteral("100100"));
        QCOMPARE(start.stored("Text2"), QStringLiteral("Screenshots"));
    }

    void skin_data()
    {
        QTest::addColumn<QString>("where");    // folder holding x/o.cjs, or "none"
        QTest::addColumn<QByteArray>("sheet"); // empty: x/o.cjs is a folder
        QTest::addColumn<bool>("coloured");
        QTest::addColumn<bool>("applied");

        const QByteArray valid = "QLabel#Label1 { background-color: rgb(10, 20, 30); }";
        QTest::newRow("absent") << "none" << valid << false << false;
        QTest::newRow("in the program folder") << "program" << valid << true << true;
        QTest::newRow("in the data folder") << "data" << valid << true << true;
        QTest::newRow("refused") << "program" << QByteArray("QPushButton { color: red") << true
                                 << false;
        QTest::newRow("a folder of that name") << "program" << QByteArray() << false << false;
    }

    void skin()
    {
        QFETCH(QString, where);
        QFETCH(QByteArray, sheet);
        QFETCH(bool, coloured);
        QFETCH(bool, applied);

        StartUpFixture start;
        if (where != "none" && sheet.isEmpty())
            QDir().mkpath(start.path(where + "/x/o.cjs"));
        else if (where != "none")
            start.writeFile(where + "/x/o.cjs", sheet);
        const bool refused = coloured && !applied;
        if (refused)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Could not parse stylesheet"));
        start.startUp.Form_Load();

        QCOMPARE(reportedNumbers(start.dialogs), refused ? QStringList{"100"} : QStringList{});
        // White is the design colour of the window, its frames, option buttons and label.
        QList<QColor> expected(5, coloured ? QApplication::palette().color(QPalette::Button)
                                           : QColor(Qt::white));
        if (applied)
            expected.last() = QColor(10, 20, 30); // Label1, by the skin's own rule
        QCOMPARE(backgrounds(start.window), expected);
        QCOMPARE(testsupport::control<QLineEdit>(start.window, "Text2")->text(),
                 QStringLiteral("Screenshots")); // later steps ran
    }

    void pointer_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("custom");

        const QByteArray cursor = testsupport::cursorFileBytes(32, {3, 5});
        QTest::newRow("absent") << "none" << cursor << false;
        QTest::newRow("in the program folder") << "program" << cursor << true;
        QTest::newRow("in the data folder") << "data" << cursor << true;
        QTest::newRow("broken") << "program" << QByteArray("not a cursor") << false;
        QTest::newRow("cut short") << "program" << cursor.left(6 + 16 + 20) << false;
    }

    void pointer()
    {
        QFETCH(QString, where);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, custom);

        StartUpFixture start;
        if (where != "none")
            start.writeFile(where + "/HAND-M.CUR", bytes);
        start.startUp.Form_Load();

        QCOMPARE(reportedNumbers(start.dialogs),
                 where == "none" || custom ? QStringList{} : QStringList{"106"});
        start.window.setMousePointer(ui::MainWindow::PointerCustom);
        const QCursor shown = start.window.cursor();
        QCOMPARE(shown.shape() == Qt::BitmapCursor, custom);
        if (custom) {
            QCOMPARE(shown.pixmap().size(), QSize(32, 32));
            QCOMPARE(shown.hotSpot(), QPoint(3, 5));
        }
    }

    void homePageOpensOnOneDrawInAHundred()
    {
        for (const int draw : {1, 6, 7, 8, 100}) {
            StartUpFixture start(draw);
            start.startUp.Form_Load();
            const QList<QUrl> expected{QUrl(QString::fromUtf8(startup::HomePageAddress))};
            QCOMPARE(start.urlOpener.opened, draw == 7 ? expected : QList<QUrl>{});
        }
    }

    void appTitle_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("title");
        QTest::newRow("the product") << "Vistarel Ombrix"
                                     << "Vistarel";
        QTest::newRow("four words, 30 characters") << "Granite Basalt Cobalt Dolomite"
                                                   << "Granite Basalt Cobalt";
        QTest::newRow("six 9-letter words, 59 characters")
            << "Aaaaaaaaa Bbbbbbbbb Ccccccccc Ddddddddd Eeeeeeeee Fffffffff"
            << "Aaaaaaaaa Bbbbbbbbb Ccccccccc Ddddddddd";
        QTest::newRow("one word") << "Vistarel"
                                  << "";
    }

    void appTitle()
    {
        QFETCH(QString, product);
        QFETCH(QString, title);
        QCOMPARE(startup::AppTitle(product), title);
    }
};

QTEST_MAIN(TestStartUp)
#include "tst_startup.moc"
