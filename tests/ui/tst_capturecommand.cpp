// "Capture Now" under X with real files: the three naming modes, the folder message, the
// Capturing guard, failures injected at numbered statements, and what the picture shows.

#include "CaptureBackend.h"
#include "CaptureBackendLoader.h"
#include "CaptureCommand.h"
#include "ColourWindowProcess.h"
#include "ErrorReporter.h"
#include "FileNaming.h"
#include "MainWindow.h"
#include "RecordingDialogs.h"
#include "SettingsStore.h"
#include "core/Error.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

using Numbers = QList<int>;

namespace {

enum Mode { DateTime, Counter, Ask, NoMode };
const QString location = QLatin1String(ui::CaptureCommand::Location);

// The shown main window with its capture command, on a fresh settings file and output folder.
struct World
{
    QTemporaryDir dir;
    QString folder = dir.path() + "/out";
    app::SettingsStore store{dir.path() + "/Vistarel Ombrix.conf"};
    testsupport::RecordingDialogs dialogs;
    app::ErrorReporter reporter{dialogs};
    ui::MainWindow window{store};
    std::unique_ptr<imaging::CaptureBackend> backend = imaging::loadCaptureBackend();
    ui::CaptureCommand command{window, backend.get(), dialogs, reporter};
    Numbers statements; // every statement the trap started, in order

    explicit World(Mode mode, bool bmp = false)
    {
        QDir().mkpath(folder);
        window.Text1()->setText(folder);
        window.Text2()->setText("Shot");
        QRadioButton *options[] = {window.Option1(), window.Option2(), window.Option3()};
        for (int i = 0; i < 3; ++i)
            options[i]->setChecked(mode == i);
        (bmp ? window.Option5() : window.Option4())->setChecked(true);
        failAt({}, false);
        QObject::connect(window.PushButton1(), &QPushButton::clicked, &window,
                         [this] { command.PushButton1_Click(); });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }

    // Makes the given statements fail, every time they run or only the first time.
    void failAt(const Numbers &numbers, bool onlyOnce)
    {
        auto failed = std::make_shared<Numbers>();
        reporter.setStatementProbe([=, this](const QString &where, int number) {
            if (where != location)
                return;
            statements.append(number);
            if (numbers.contains(number) && !(onlyOnce && failed->contains(number))) {
                failed->append(number);
                throw core::Error(5, QStringLiteral("injected at %1").arg(number));
            }
        });
    }

    void click() { QTest::mouseClick(window.PushButton1(), Qt::LeftButton); }
    QStringList files() const { return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

    void touch(const QString &name) const
    {
        QFile file(folder + '/' + name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old") == 3);
    }

    // After every command: the window is back with the arrow and Capturing cleared.
    void verifyCameBack() const
    {
        QVERIFY(window.isVisible());
        QVERIFY(!command.capturing());
        QCOMPARE(window.mousePointer(), ui::MainWindow::PointerDefault);
    }

    Numbers reportedNumbers() const
    {
        Numbers numbers;
        for (const auto &message : dialogs.messages)
            if (message.title == QLatin1String("Application Error"))
                numbers.append(message.text.section("at line ", 1).section('\r', 0, 0).toInt());
        return numbers;
    }
};

} // namespace

class tst_CaptureCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void countingNumberNames_data();
    void countingNumberNames();
    void dateTimeNamesNeverReplaceEarlierCaptures();
    void askedNames_data();
    void askedNames();
    void missingFolderShowsTheMessage_data();
    void missingFolderShowsTheMessage();
    void secondClickDuringACaptureReturnsAtOnce();
    void failureResumesAtTheNextStatement_data();
    void failureResumesAtTheNextStatement();
    void failedSaveIsReportedAndTheWindowComesBack_data();
    void failedSaveIsReportedAndTheWindowComesBack();
    void failedCapturesNeverSaveAnEarlierPicture();
    void noFileAfterTenAttemptsWithoutPicture();
    void pictureShowsWhatTheWindowCovered_data();
    void pictureShowsWhatTheWindowCovered();
    void waitSecondsProcessesEventsWithoutBusyWaiting();
};

void tst_CaptureCommand::initTestCase()
{
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Vistarel"));
    QVERIFY2(imaging::loadCaptureBackend(), "no capture backend on the test display");
}

void tst_CaptureCommand::countingNumberNames_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<bool>("bmp");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty folder") << "Shot" << false << QStringList{} << "Shot1.jpg";
    QTest::newRow("after two") << "Shot" << false << QStringList{"Shot1.jpg", "Shot2.jpg"} << "Shot3.jpg";
    QTest::newRow("first gap") << "Shot" << false << QStringList{"Shot1.jpg", "Shot3.jpg"} << "Shot2.jpg";
    QTest::newRow("other format does not block") << "Shot" << false << QStringList{"Shot1.bmp"} << "Shot1.jpg";
    QTest::newRow("bmp counts bmp") << "Shot" << true << QStringList{"Shot1.bmp", "Shot1.jpg"} << "Shot2.bmp";
    QTest::newRow("empty prefix") << "" << false << QStringList{"1.jpg"} << "2.jpg";
    QTest::newRow("wildcards are plain characters") << "a*b?" << false
                                                    << QStringList{"aXbY1.jpg", "a*b?1.jpg"} << "a*b?2.jpg";
    QTest::newRow("any script") << QString::fromUtf8("日本é🙂") << false << QStringList{}
                                << QString::fromUtf8("日本é🙂1.jpg");
}

void tst_CaptureCommand::countingNumberNames()
{
    QFETCH(QString, prefix);
    QFETCH(bool, bmp);
    QFETCH(QStringList, present);
    QFETCH(QString, expected);

    World world(Counter, bmp);
    world.window.Text2()->setText(prefix);
    for (const QString &name : present)
        world.touch(name);
    world.click();

    present.append(expected);
    present.sort();
    QCOMPARE(world.files(), present);
    QCOMPARE(QImage(world.folder + '/' + expected).size(), QSize(1920, 1080));
    QVERIFY(world.dialogs.messages.isEmpty());
    world.verifyCameBack();
}

void tst_CaptureCommand::dateTimeNamesNeverReplaceEarlierCaptures()
{
    World world(DateTime);
    const QDateTime when(QDate(2021, 8, 31), QTime(15, 45, 12));
    world.command.setClock([when] { return when; });
    const QString name = ui::DateTimeText(when, QLocale::system());

    world.click();
    world.click();
    world.click();
    world.window.Option5()->setChecked(true);
    world.click();

    QStringList expected = {name + ".jpg", name + " (2).jpg", name + " (3).jpg", name + ".bmp"};
    expected.sort();
    QCOMPARE(world.files(), expected);
    QVERIFY(world.dialogs.messages.isEmpty());
    world.verifyCameBack();
}

void tst_CaptureCommand::askedNames_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<std::optional<QString>>("answer");
    QTest::addColumn<QString>("expected"); // empty: nothing captured, the window never hidden

    using A = std::optional<QString>;
    QTest::newRow("path characters become blanks") << int(Ask) << A("my:shot?") << "my shot .jpg";
    QTest::newRow("every path character") << int(Ask) << A("1/2\\3*4:5?6<7>8|9") << "1 2 3 4 5 6 7 8 9.jpg";
    QTest::newRow("no way out of the folder") << int(Ask) << A("../up") << ".. up.jpg";
    QTest::newRow("double quote stays") << int(Ask) << A("say \"cheese\"") << "say \"cheese\".jpg";
    QTest::newRow("any script") << int(Ask) << A(QString::fromUtf8("Zoë 日本 🙂")) << QString::fromUtf8("Zoë 日本 🙂.jpg");
    QTest::newRow("an existing file is replaced") << int(Ask) << A("old") << "old.jpg";
    QTest::newRow("Cancel") << int(Ask) << A() << "";
    QTest::newRow("empty answer") << int(Ask) << A("") << "";
    QTest::newRow("path characters only") << int(Ask) << A("/:* ") << "";
    QTest::newRow("no naming mode") << int(NoMode) << A("unused") << "";
}

void tst_CaptureCommand::askedNames()
{
    QFETCH(int, mode);
    QFETCH(std::optional<QString>, answer);
    QFETCH(QString, expected);

    World world(Mode(mode), false);
    world.touch("old.jpg");
    world.dialogs.answers.enqueue(answer);
    world.click();

    if (mode == Ask) {
        QCOMPARE(world.dialogs.prompts.size(), 1);
        QCOMPARE(world.dialogs.prompts[0].caption, QStringLiteral("Input Filename"));
        QCOMPARE(world.dialogs.prompts[0].message, QStringLiteral("Enter Filename: "));
    }
    if (expected.isEmpty()) {
        QCOMPARE(world.files(), QStringList{"old.jpg"});
        QVERIFY(!world.statements.contains(152));
    } else {
        QCOMPARE(world.files().size(), expected == "old.jpg" ? 1 : 2);
        QCOMPARE(QImage(world.folder + '/' + expected).size(), QSize(1920, 1080));
    }
    QVERIFY(world.dialogs.messages.isEmpty());
    world.verifyCameBack();
}

void tst_CaptureCommand::missingFolderShowsTheMessage_data()
{
    QTest::addColumn<QString>("folder"); // "@" stands for the output folder
    QTest::newRow("removed after choosing") << "@/gone";
    QTest::newRow("a file") << "@/old.jpg";
    QTest::newRow("a dangling link") << "@/dangling";
    QTest::newRow("empty") << "";
    QTest::newRow("very long") << "@/" + QString(5000, 'x');
}

void tst_CaptureCommand::missingFolderShowsTheMessage()
{
    QFETCH(QString, folder);
    World world(Counter);
    world.touch("old.jpg");
    QVERIFY(QFile::link(world.folder + "/gone", world.folder + "/dangling"));
    QVERIFY(QDir(world.folder).mkdir("gone"));
    world.window.Text1()->setText(folder.replace("@", world.folder));
    QVERIFY(QDir(world.folder + "/gone").removeRecursively());

    world.click();

    QCOMPARE(world.dialogs.messages.size(), 1);
    QCOMPARE(world.dialogs.messages[0].title, QStringLiteral("Vistarel"));
    QCOMPARE(world.dialogs.messages[0].text, QStringLiteral("Folder does not exist. Please select another folder."));
    QCOMPARE(world.dialogs.messages[0].icon, app::Dialogs::Icon::None);
    QCOMPARE(world.files(), QStringList{"old.jpg"});
    QCOMPARE(world.statements, (Numbers{100, 102, 104, 180, 182})); // never hidden
    world.verifyCameBack();
}

void tst_CaptureCommand::secondClickDuringACaptureReturnsAtOnce()
{
    World world(Counter);
    world.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&world.window));
    world.window.PushButton1()->setFocus();
    bool capturingInside = false;
    // The command processes events while the window is hidden: a second click runs then.
    QTimer::singleShot(0, &world.window, [&] {
        world.command.PushButton1_Click();
        capturingInside = world.command.capturing();
    });
    world.click();

    QVERIFY(capturingInside); // the second command left the flag to the first
    QCOMPARE(world.files(), QStringList{"Shot1.jpg"});
    QCOMPARE(world.statements.count(100), 2);
    QCOMPARE(world.statements.count(102), 1);
    world.verifyCameBack();
    QTRY_COMPARE(QApplication::focusWidget(), world.window.PushButton1()); // focus comes back too
}

void tst_CaptureCommand::failureResumesAtTheNextStatement_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("bmp");
    QTest::addColumn<int>("failing");
    QTest::addColumn<int>("resumed");

    const int c = Counter;
    QTest::newRow("100") << c << false << 100 << 102;
    QTest::newRow("104 folder test") << c << false << 104 << 106;
    QTest::newRow("106 test") << c << false << 106 << 108;
    QTest::newRow("108 date-time name") << int(DateTime) << false << 108 << 148;
    QTest::newRow("110 test") << c << false << 110 << 112;
    QTest::newRow("114 test") << c << true << 114 << 116;
    QTest::newRow("116 candidate") << c << false << 116 << 120;
    QTest::newRow("118 candidate") << c << true << 118 << 120;
    QTest::newRow("122 search") << c << false << 122 << 124;
    QTest::newRow("124 counter name") << c << false << 124 << 148;
    QTest::newRow("126 test") << int(Ask) << false << 126 << 128;
    QTest::newRow("146 asked name") << int(Ask) << false << 146 << 148;
    QTest::newRow("148 test") << c << false << 148 << 150;
    QTest::newRow("158 loop test") << c << false << 158 << 160;
    QTest::newRow("164 wait") << c << false << 164 << 158;
    QTest::newRow("166 test") << c << false << 166 << 168;
    QTest::newRow("168 test") << c << true << 168 << 170;
    QTest::newRow("172 JPEG") << c << false << 172 << 176;
    QTest::newRow("174 BMP") << c << true << 174 << 176;
    QTest::newRow("176 show") << c << false << 176 << 178;
    QTest::newRow("178 pointer") << c << false << 178 << 182;
}

void tst_CaptureCommand::failureResumesAtTheNextStatement()
{
    QFETCH(int, mode);
    QFETCH(bool, bmp);
    QFETCH(int, failing);
    QFETCH(int, resumed);

    World world(Mode(mode), bmp);
    world.dialogs.answers.enqueue(QStringLiteral("asked"));
    world.failAt({failing}, true);
    world.click();

    QCOMPARE(world.reportedNumbers(), Numbers{failing});
    QCOMPARE(world.dialogs.messages[0].text,
             app::BuildErrorReport(location, QStringLiteral("injected at %1").arg(failing), failing));
    QCOMPARE(world.statements[world.statements.indexOf(failing) + 1], resumed);
    QCOMPARE(world.statements.constLast(), 182);
    QVERIFY(!world.command.capturing());
}

void tst_CaptureCommand::failedSaveIsReportedAndTheWindowComesBack_data()
{
    QTest::addColumn<bool>("bmp");
    QTest::addColumn<QString>("prefix"); // used as typed
    QTest::addColumn<int>("number");
    QTest::newRow("JPEG name too long") << false << QString(300, 'j') << 172;
    QTest::newRow("BMP name too long") << true << QString(300, 'b') << 174;
    QTest::newRow("JPEG into a missing folder") << false << QStringLiteral("missing/Shot") << 172;
}

void tst_CaptureCommand::failedSaveIsReportedAndTheWindowComesBack()
{
    QFETCH(bool, bmp);
    QFETCH(QString, prefix);
    QFETCH(int, number);

    World world(Counter, bmp);
    world.window.Text2()->setText(prefix);
    world.click();

    QCOMPARE(world.reportedNumbers(), Numbers{number});
    QVERIFY(world.dialogs.messages[0].text.startsWith("Cannot save the image. GDI+ Error:"));
    QVERIFY(world.files().isEmpty());
    world.verifyCameBack();
}

void tst_CaptureCommand::failedCapturesNeverSaveAnEarlierPicture()
{
    World world(Counter);
    world.click();
    QCOMPARE(world.files(), QStringList{"Shot1.jpg"});

    // Every attempt fails: ten reports, and the first command's picture is not written again.
    world.failAt({160}, false);
    world.click();
    QCOMPARE(world.reportedNumbers(), Numbers(10, 160));
    // Nor when handing the new picture to Creator fails.
    world.failAt({170}, false);
    world.click();
    QCOMPARE(world.reportedNumbers().mid(10), (Numbers{170, 172}));
    QCOMPARE(world.files(), QStringList{"Shot1.jpg"});
    world.verifyCameBack();
}

void tst_CaptureCommand::noFileAfterTenAttemptsWithoutPicture()
{
    World world(Counter);
    ui::CaptureCommand blind(world.window, nullptr, world.dialogs, world.reporter);
    blind.PushButton1_Click();
    QCOMPARE(world.statements.count(160), 10);
    QVERIFY(world.files().isEmpty());
    QVERIFY(world.dialogs.messages.isEmpty());
    QVERIFY(world.window.isVisible() && !blind.capturing());
}

void tst_CaptureCommand::pictureShowsWhatTheWindowCovered_data()
{
    QTest::addColumn<bool>("bmp");
    QTest::newRow("BMP") << true;
    QTest::newRow("JPEG") << false;
}

void tst_CaptureCommand::pictureShowsWhatTheWindowCovered()
{
    QFETCH(bool, bmp);
    World world(Counter, bmp);
    const QRect covered = world.window.frameGeometry();
    const QColor colour(0x12, 0xab, 0x34);
    // Another program's window under ours: it has to repaint what our window covered.
    ColourWindowProcess other(covered.adjusted(-40, -40, 40, 40), colour.name());
    QVERIFY(other.isReady());
    world.window.raise();
    QTest::qWait(100);

    world.click();

    const QImage picture = QImage(world.folder + (bmp ? "/Shot1.bmp" : "/Shot1.jpg")).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), QSize(1920, 1080));
    const int tolerance = bmp ? 0 : 12;
    int wrong = 0;
    for (int y = covered.top(); y <= covered.bottom(); ++y)
        for (int x = covered.left(); x <= covered.right(); ++x) {
            const QColor seen = picture.pixelColor(x, y);
            wrong += std::abs(seen.red() - colour.red()) > tolerance || std::abs(seen.green() - colour.green()) > tolerance
                || std::abs(seen.blue() - colour.blue()) > tolerance;
        }
    QCOMPARE(wrong, 0);
    world.verifyCameBack();
}

void tst_CaptureCommand::waitSecondsProcessesEventsWithoutBusyWaiting()
{
    bool timerRan = false;
    QTimer::singleShot(20, [&] { timerRan = true; });
    const auto cpuMs = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
            + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
    };
    const auto cpuBefore = cpuMs();
    QElapsedTimer clock;
    clock.start();
    ui::CaptureCommand::WaitSeconds(0.3);
    QVERIFY(clock.elapsed() >= 300);
    QVERIFY(timerRan);
    QVERIFY2(cpuMs() - cpuBefore < 100, "WaitSeconds kept a core busy");
}

QTEST_MAIN(tst_CaptureCommand)
#include "tst_capturecommand.moc"
