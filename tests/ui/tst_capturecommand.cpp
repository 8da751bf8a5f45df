// "Capture Now" with real files on a fake capture backend, offscreen: the three naming modes,
// the folder message, failures injected at numbered statements, and the attempts.

#include "CaptureWorld.h"
#include "FakeCaptureBackend.h"
#include "FileNaming.h"
#include "JpegWriter.h"
#include "NullCaptureBackend.h"
#include "WaitSeconds.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QSlider>
#include <QTimer>

#include <sys/resource.h>

namespace {

const QSize FakeSize(64, 48);

// A World on a fake backend that yields a picture at every attempt.
struct FakeWorld : testsupport::FakeCaptureBackend, World
{
    explicit FakeWorld(Mode mode, bool bmp = false)
        : World(*this, mode, bmp)
    {
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
    void twoCopiesTakingTheSameNameLoseNoPicture_data();
    void twoCopiesTakingTheSameNameLoseNoPicture();
    void askedNames_data();
    void askedNames();
    void missingFolderShowsTheMessage_data();
    void missingFolderShowsTheMessage();
    void failureResumesAtTheNextStatement_data();
    void failureResumesAtTheNextStatement();
    void failedSaveIsReportedAndTheWindowComesBack_data();
    void failedSaveIsReportedAndTheWindowComesBack();
    void failedCapturesNeverSaveAnEarlierPicture();
    void noPictureIsToldAndNothingWritten_data();
    void noPictureIsToldAndNothingWritten();
    void choicesChangedDuringTheWaitAreSaved_data();
    void choicesChangedDuringTheWaitAreSaved();
    void waitSecondsProcessesEventsWithoutBusyWaiting();
};

void tst_CaptureCommand::initTestCase()
{
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Vistarel"));
}

void tst_CaptureCommand::countingNumberNames_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<bool>("bmp");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty folder") << "Shot" << false << QStringList{} << "Shot1.jpg";
    QTest::newRow("after two") << "Shot" << false << QStringList{"Shot1.jpg", "Shot2.jpg"}
                               << "Shot3.jpg";
    QTest::newRow("first gap") << "Shot" << false << QStringList{"Shot1.jpg", "Shot3.jpg"}
                               << "Shot2.jpg";
    QTest::newRow("other format does not block")
        << "Shot" << false << QStringList{"Shot1.bmp"} << "Shot1.jpg";
    QTest::newRow("bmp counts bmp")
        << "Shot" << true << QStringList{"Shot1.bmp", "Shot1.jpg"} << "Shot2.bmp";
    QTest::newRow("empty prefix") << "" << false << QStringList{"1.jpg"} << "2.jpg";
    QTest::newRow("wildcards are plain characters")
        << "a*b?" << false << QStringList{"aXbY1.jpg", "a*b?1.jpg"} << "a*b?2.jpg";
    QTest::newRow("any script") << QString::fromUtf8("日本é🙂") << false << QStringList{}
                                << QString::fromUtf8("日本é🙂1.jpg");
}

void tst_CaptureCommand::countingNumberNames()
{
    QFETCH(QString, prefix);
    QFETCH(bool, bmp);
    QFETCH(QStringList, present);
    QFETCH(QString, expected);

    FakeWorld world(Counter, bmp);
    world.window.setPrefix(prefix);
    for (const QString &name : present)
        world.touch(name);
    world.click();

    present.append(expected);
    present.sort();
    QCOMPARE(world.files(), present);
    QCOMPARE(QImage(world.folder + '/' + expected).size(), FakeSize);
    QVERIFY(world.dialogs.messages.isEmpty());
    world.verifyCameBack();
}

void tst_CaptureCommand::dateTimeNamesNeverReplaceEarlierCaptures()
{
    FakeWorld world(DateTime);
    const QDateTime when(QDate(2021, 8, 31), QTime(15, 45, 12));
    world.command.setClock([when] { return when; });
    const QString name = ui::DateTimeText(when, QLocale::system());

    world.click();
    world.click();
    world.click();
    world.window.setFormatOption(imaging::ImageFormat::Bmp, true);
    world.click();

    QStringList expected = {name + ".jpg", name + " (2).jpg", name + " (3).jpg", name + ".bmp"};
    expected.sort();
    QCOMPARE(world.files(), expected);
    QVERIFY(world.dialogs.messages.isEmpty());
    world.verifyCameBack();
}

void tst_CaptureCommand::twoCopiesTakingTheSameNameLoseNoPicture_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("bmp");
    QTest::newRow("counting number") << int(Counter) << false;
    QTest::newRow("counting number, BMP") << int(Counter) << true;
    QTest::newRow("date and time") << int(DateTime) << false;
}

// Another copy saves under the very name this one chose, while this one captures: each
// automatic name is claimed at the rename, so this copy moves on and both pictures stay.
void tst_CaptureCommand::twoCopiesTakingTheSameNameLoseNoPicture()
{
    QFETCH(int, mode);
    QFETCH(bool, bmp);
    FakeWorld mine(Mode(mode), bmp), theirs(Mode(mode), bmp);
    theirs.window.setFolder(mine.folder);
    const QDateTime when(QDate(2021, 8, 31), QTime(15, 45, 12));
    for (FakeWorld *world : {&mine, &theirs})
        world->command.setClock([when] { return when; });
    mine.setResults({testsupport::FakeCaptureBackend::picture(Qt::red)});
    theirs.setResults({testsupport::FakeCaptureBackend::picture(Qt::blue)});
    mine.onCapture = [&theirs] { theirs.command.PushButton1_Click(); };

    const int rounds = 4;
    for (int i = 0; i < rounds; ++i)
        mine.click();

    const QStringList files = mine.files();
    QCOMPARE(files.size(), 2 * rounds);
    int red = 0;
    for (const QString &name : files)
        red += QImage(mine.folder + '/' + name).pixelColor(1, 1).red() > 128;
    QCOMPARE(red, rounds);
    QVERIFY(mine.dialogs.messages.isEmpty() && theirs.dialogs.messages.isEmpty());
    mine.verifyCameBack();
}

void tst_CaptureCommand::askedNames_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<std::optional<QString>>("answer");
    QTest::addColumn<QString>("expected"); // empty: nothing captured, the window never hidden

    using A = std::optional<QString>;
    QTest::newRow("path characters become blanks") << int(Ask) << A("my:shot?") << "my shot .jpg";
    QTest::newRow("every path character")
        << int(Ask) << A("1/2\\3*4:5?6<7>8|9") << "1 2 3 4 5 6 7 8 9.jpg";
    QTest::newRow("no way out of the folder") << int(Ask) << A("../up") << ".. up.jpg";
    QTest::newRow("double quote stays") << int(Ask) << A("say \"cheese\"") << "say \"cheese\".jpg";
    QTest::newRow("control characters become blanks")
        << int(Ask) << A(QString("line\none\ttab\x7f") + QChar(0x85)) << "line one tab  .jpg";
    QTest::newRow("any script") << int(Ask) << A(QString::fromUtf8("Zoë 日本 🙂"))
                                << QString::fromUtf8("Zoë 日本 🙂.jpg");
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

    FakeWorld world(Mode(mode), false);
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
        QCOMPARE(QImage(world.folder + '/' + expected).size(), FakeSize);
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
    FakeWorld world(Counter);
    world.touch("old.jpg");
    QVERIFY(QFile::link(world.folder + "/gone", world.folder + "/dangling"));
    QVERIFY(QDir(world.folder).mkdir("gone"));
    world.window.setFolder(folder.replace("@", world.folder));
    QVERIFY(QDir(world.folder + "/gone").removeRecursively());

    world.click();

    QCOMPARE(world.dialogs.messages.size(), 1);
    QCOMPARE(world.dialogs.messages[0].title, QStringLiteral("Vistarel"));
    QCOMPARE(world.dialogs.messages[0].text,
             QStringLiteral("Folder does not exist. Please select another folder."));
    QCOMPARE(world.dialogs.messages[0].icon, app::Dialogs::Icon::None);
    QCOMPARE(world.files(), QStringList{"old.jpg"});
    QCOMPARE(world.statements, (Numbers{100, 102, 104, 180, 182})); // never hidden
    world.verifyCameBack();
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

    FakeWorld world(Mode(mode), bmp);
    world.dialogs.answers.enqueue(QStringLiteral("asked"));
    world.failAt({failing}, true);
    world.click();

    QCOMPARE(world.reportedNumbers(), Numbers{failing});
    QCOMPARE(
        world.dialogs.messages[0].text,
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

    FakeWorld world(Counter, bmp);
    world.window.setPrefix(prefix);
    world.click();

    QCOMPARE(world.reportedNumbers(), Numbers{number});
    QVERIFY(world.dialogs.messages[0].text.startsWith("Cannot save the image. GDI+ Error:"));
    QVERIFY(world.files().isEmpty());
    world.verifyCameBack();
}

void tst_CaptureCommand::failedCapturesNeverSaveAnEarlierPicture()
{
    FakeWorld world(Counter);
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

void tst_CaptureCommand::noPictureIsToldAndNothingWritten_data()
{
    QTest::addColumn<bool>("withBackend");
    QTest::addColumn<QString>("text");
    QTest::newRow("ten empty attempts")
        << true << "Cannot capture the screen: the desktop gave no picture.";
    QTest::newRow("no capture route fits")
        << false << "Cannot capture the screen: this desktop does not let applications capture it.";
}

void tst_CaptureCommand::noPictureIsToldAndNothingWritten()
{
    QFETCH(bool, withBackend);
    QFETCH(QString, text);
    testsupport::FakeCaptureBackend backend;
    backend.setResults({imaging::Picture()});
    platform::NullCaptureBackend noRoute("this desktop does not let applications capture it");
    World world(withBackend ? static_cast<platform::CaptureBackend &>(backend) : noRoute, Counter);
    // The message comes with the window back.
    bool visibleAtMessage = false;
    world.dialogs.onMessage = [&] { visibleAtMessage = world.window.isVisible(); };
    world.click();
    QCOMPARE(backend.captures(), withBackend ? 10 : 0);
    QCOMPARE(world.statements.count(160), 10);
    QVERIFY(world.files().isEmpty());
    QCOMPARE(world.dialogs.messages.size(), 1);
    QCOMPARE(world.dialogs.messages[0].title, QStringLiteral("Vistarel"));
    QCOMPARE(world.dialogs.messages[0].text, text);
    QVERIFY(visibleAtMessage);
    world.verifyCameBack();
}

void tst_CaptureCommand::choicesChangedDuringTheWaitAreSaved_data()
{
    QTest::addColumn<bool>("toBmp");
    QTest::addColumn<int>("quality");
    QTest::newRow("JPEG at another quality") << false << 5;
    QTest::newRow("BMP instead") << true << 85;
}

// The JPEG is encoded while statement 164 waits; a choice changed meanwhile still decides what
// statements 168 to 174 write, and no temporary file is left.
void tst_CaptureCommand::choicesChangedDuringTheWaitAreSaved()
{
    QFETCH(bool, toBmp);
    QFETCH(int, quality);

    FakeWorld world(Counter);
    world.reporter.setStatementProbe([&](const QString &, int number) {
        if (number != 164)
            return;
        QTimer::singleShot(0, &world.window, [&] {
            if (toBmp)
                world.window.setFormatOption(imaging::ImageFormat::Bmp, true);
            world.window.findChild<QSlider *>("Slider1")->setValue(quality);
        });
    });
    world.click();

    QVERIFY(world.dialogs.messages.isEmpty());
    QCOMPARE(world.files(), QStringList{toBmp ? "Shot1.bmp" : "Shot1.jpg"});
    if (!toBmp) {
        const QString expected = world.dir.filePath("expected.jpg");
        imaging::SaveJPG(world.captureScreen(), expected, std::uint8_t(quality));
        QFile written(world.folder + "/Shot1.jpg"), wanted(expected);
        QVERIFY(written.open(QIODevice::ReadOnly) && wanted.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), wanted.readAll());
    }
    world.verifyCameBack();
}

void tst_CaptureCommand::waitSecondsProcessesEventsWithoutBusyWaiting()
{
    bool timerRan = false;
    QTimer::singleShot(20, [&] { timerRan = true; });
    const auto cpuMs = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
    };
    const auto cpuBefore = cpuMs();
    QElapsedTimer clock;
    clock.start();
    ui::WaitSeconds(0.3);
    QVERIFY(clock.elapsed() >= 300);
    QVERIFY(timerRan);
    QVERIFY2(cpuMs() - cpuBefore < 100, "WaitSeconds kept a core busy");
}

QTEST_MAIN(tst_CaptureCommand)
#include "tst_capturecommand.moc"
