// "Capture Now" under X with real files: the three naming modes, the folder message, the
// Capturing guard, failures injected at numbered statements, and what the picture shows.

#include "CaptureBackend.h"
#include "ColourWindowProcess.h"
#include "CaptureBackendLoader.h"
#include "CaptureCommand.h"
#include "ErrorReporter.h"
#include "FileNaming.h"
#include "MainWindow.h"
#include "RecordingDialogs.h"
#include "ScreenSettler.h"
#include "SettingsStore.h"
#include "core/Error.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

using Numbers = QList<int>;

namespace {

enum class Mode { DateTime, Counter, Ask, None };
enum class Format { Jpg, Bmp };

const QString location = QLatin1String(ui::CaptureCommand::Location);

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

void touch(const QString &path, const QByteArray &content = "old")
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(content);
}

// The shown main window with its capture command, on a fresh settings file and output folder.
struct World
{
    QTemporaryDir config;
    QTemporaryDir output;
    QString folder = output.path();
    app::SettingsStore store{config.path() + "/Kestrelby/Vistarel Ombrix.conf"};
    testsupport::RecordingDialogs dialogs;
    app::ErrorReporter reporter{dialogs};
    ui::MainWindow window{store};
    std::unique_ptr<imaging::CaptureBackend> backend = imaging::loadCaptureBackend();
    ui::CaptureCommand command{window, backend.get(), dialogs, reporter};
    Numbers statements; // every statement the trap started, in order

    explicit World(Mode mode = Mode::Counter, Format format = Format::Jpg)
    {
        window.Text1()->setText(folder);
        window.Text2()->setText("Shot");
        setMode(mode);
        (format == Format::Jpg ? window.Option4() : window.Option5())->setChecked(true);
        reporter.setStatementProbe([this](const QString &where, int number) {
            if (where == location)
                statements.append(number);
        });
        QObject::connect(window.PushButton1(), &QPushButton::clicked, &window,
                         [this] { command.PushButton1_Click(); });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }

    void setMode(Mode mode)
    {
        QRadioButton *options[] = {window.Option1(), window.Option2(), window.Option3()};
        for (int i = 0; i < 3; ++i)
            options[i]->setChecked(static_cast<int>(mode) == i);
    }

    // Makes the given statements fail (each time they run, or only the first time).
    void failAt(const Numbers &numbers, bool onlyOnce)
    {
        auto failed = std::make_shared<QSet<int>>();
        reporter.setStatementProbe([this, numbers, onlyOnce, failed](const QString &where, int number) {
            if (where != location)
                return;
            statements.append(number);
            if (numbers.contains(number) && !(onlyOnce && failed->contains(number))) {
                failed->insert(number);
                throw core::Error(5, QStringLiteral("injected at %1").arg(number));
            }
        });
    }

    void click() { QTest::mouseClick(window.PushButton1(), Qt::LeftButton); }

    // After every command: the window is back with the arrow and Capturing cleared.
    void verifyCameBack() const
    {
        QVERIFY(window.isVisible());
        QVERIFY(!command.capturing());
        QCOMPARE(window.mousePointer(), ui::MainWindow::PointerDefault);
    }

    QList<int> reportedNumbers() const
    {
        QList<int> numbers;
        for (const auto &message : dialogs.messages) {
            if (message.title != QLatin1String("Application Error"))
                continue;
            const qsizetype at = message.text.indexOf(QLatin1String("at line "));
            numbers.append(message.text.mid(at + 8).section(QLatin1Char('\r'), 0, 0).toInt());
        }
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
    void askedNameReplacesAnExistingFile();
    void cancelOrBlankAnswerCapturesNothing_data();
    void cancelOrBlankAnswerCapturesNothing();
    void noNamingModeCapturesNothing();
    void missingFolderShowsTheMessage_data();
    void missingFolderShowsTheMessage();
    void secondClickDuringACaptureReturnsAtOnce();
    void failureResumesAtTheNextStatement_data();
    void failureResumesAtTheNextStatement();
    void failedSaveIsReportedAndTheWindowComesBack_data();
    void failedSaveIsReportedAndTheWindowComesBack();
    void failedCapturesNeverSaveAnEarlierPicture();
    void noPictureAfterTenAttempts();
    void pictureShowsWhatTheWindowCovered_data();
    void pictureShowsWhatTheWindowCovered();
    void folderExists_data();
    void folderExists();
    void waitSecondsProcessesEventsWithoutBusyWaiting();
};

void tst_CaptureCommand::initTestCase()
{
    static QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
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

    World world(Mode::Counter, bmp ? Format::Bmp : Format::Jpg);
    world.window.Text2()->setText(prefix);
    for (const QString &name : present)
        touch(world.folder + '/' + name);

    world.click();

    QStringList files = present;
    files.append(expected);
    files.sort();
    QCOMPARE(filesIn(world.folder), files);
    const QImage picture(world.folder + '/' + expected);
    QCOMPARE(picture.size(), QSize(1920, 1080));
    QVERIFY(world.dialogs.messages.isEmpty());
    world.verifyCameBack();
}

void tst_CaptureCommand::dateTimeNamesNeverReplaceEarlierCaptures()
{
    World world(Mode::DateTime, Format::Jpg);
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
    QCOMPARE(filesIn(world.folder), expected);
    QVERIFY(world.dialogs.messages.isEmpty());
    world.verifyCameBack();
}

void tst_CaptureCommand::askedNames_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("expected");

    QTest::newRow("path characters become blanks") << "my:shot?" << "my shot .jpg";
    QTest::newRow("slash") << "a/b" << "a b.jpg";
    QTest::newRow("every path character") << "1/2\\3*4:5?6<7>8|9" << "1 2 3 4 5 6 7 8 9.jpg";
    QTest::newRow("no way out of the folder") << "../up" << ".. up.jpg";
    QTest::newRow("double quote stays") << "say \"cheese\"" << "say \"cheese\".jpg";
    QTest::newRow("any script") << QString::fromUtf8("Zoë 日本 🙂") << QString::fromUtf8("Zoë 日本 🙂.jpg");
}

void tst_CaptureCommand::askedNames()
{
    QFETCH(QString, answer);
    QFETCH(QString, expected);

    World world(Mode::Ask, Format::Jpg);
    world.dialogs.answers.enqueue(answer);
    world.click();

    QCOMPARE(world.dialogs.prompts.size(), 1);
    QCOMPARE(world.dialogs.prompts[0].caption, QStringLiteral("Input Filename"));
    QCOMPARE(world.dialogs.prompts[0].message, QStringLiteral("Enter Filename: "));
    QCOMPARE(filesIn(world.folder), QStringList{expected});
    QVERIFY(!QImage(world.folder + '/' + expected).isNull());
    QVERIFY(world.dialogs.messages.isEmpty());
    world.verifyCameBack();
}

void tst_CaptureCommand::askedNameReplacesAnExistingFile()
{
    World world(Mode::Ask, Format::Bmp);
    touch(world.folder + "/mine.bmp", "not a picture");
    world.dialogs.answers.enqueue(QStringLiteral("mine"));
    world.click();
    QCOMPARE(filesIn(world.folder), QStringList{"mine.bmp"});
    QCOMPARE(QImage(world.folder + "/mine.bmp").size(), QSize(1920, 1080));
    QVERIFY(world.dialogs.messages.isEmpty());
}

void tst_CaptureCommand::cancelOrBlankAnswerCapturesNothing_data()
{
    QTest::addColumn<std::optional<QString>>("answer");
    QTest::newRow("Cancel") << std::optional<QString>();
    QTest::newRow("empty") << std::optional<QString>(QString());
    QTest::newRow("blanks") << std::optional<QString>(QStringLiteral("   "));
    QTest::newRow("path characters only") << std::optional<QString>(QStringLiteral("/:*"));
}

void tst_CaptureCommand::cancelOrBlankAnswerCapturesNothing()
{
    QFETCH(std::optional<QString>, answer);
    World world(Mode::Ask, Format::Jpg);
    world.dialogs.answers.enqueue(answer);
    world.click();
    QVERIFY(filesIn(world.folder).isEmpty());
    QVERIFY(world.dialogs.messages.isEmpty());
    QVERIFY(!world.statements.contains(152)); // never hidden
    world.verifyCameBack();
}

void tst_CaptureCommand::noNamingModeCapturesNothing()
{
    World world(Mode::None, Format::Jpg);
    world.click();
    QVERIFY(filesIn(world.folder).isEmpty());
    QVERIFY(world.dialogs.messages.isEmpty());
    QVERIFY(!world.statements.contains(152));
    world.verifyCameBack();
}

void tst_CaptureCommand::missingFolderShowsTheMessage_data()
{
    QTest::addColumn<QString>("folder"); // "@" stands for the test's output folder
    QTest::newRow("removed after choosing") << "@/gone";
    QTest::newRow("a file") << "@/file.txt";
    QTest::newRow("empty") << "";
    QTest::newRow("relative nonsense") << "no such folder";
}

void tst_CaptureCommand::missingFolderShowsTheMessage()
{
    QFETCH(QString, folder);
    World world(Mode::Counter, Format::Jpg);
    QVERIFY(QDir(world.folder).mkdir("gone"));
    touch(world.folder + "/file.txt");
    world.window.Text1()->setText(QString(folder).replace("@", world.folder));
    QVERIFY(QDir(world.folder + "/gone").removeRecursively());

    world.click();

    QCOMPARE(world.dialogs.messages.size(), 1);
    QCOMPARE(world.dialogs.messages[0].title, QStringLiteral("Vistarel"));
    QCOMPARE(world.dialogs.messages[0].text,
             QStringLiteral("Folder does not exist. Please select another folder."));
    QCOMPARE(world.dialogs.messages[0].icon, app::Dialogs::Icon::None);
    QCOMPARE(filesIn(world.folder), QStringList{"file.txt"});
    QCOMPARE(world.statements, (Numbers{100, 102, 104, 180, 182}));
    world.verifyCameBack();
}

void tst_CaptureCommand::secondClickDuringACaptureReturnsAtOnce()
{
    World world(Mode::Counter, Format::Jpg);
    bool ranInside = false;
    bool capturingInside = false;
    // The command processes events while the window is hidden: a second click runs then.
    QTimer::singleShot(0, &world.window, [&] {
        ranInside = true;
        world.command.PushButton1_Click();
        capturingInside = world.command.capturing();
    });
    world.click();

    QVERIFY(ranInside);
    QVERIFY(capturingInside); // the second command left the flag to the first
    QCOMPARE(filesIn(world.folder), QStringList{"Shot1.jpg"});
    QCOMPARE(world.statements.count(100), 2);
    QCOMPARE(world.statements.count(102), 1);
    world.verifyCameBack();
}

void tst_CaptureCommand::failureResumesAtTheNextStatement_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("bmp");
    QTest::addColumn<int>("failing");
    QTest::addColumn<int>("resumed");
    QTest::addColumn<Numbers>("reported");

    const int dateTime = int(Mode::DateTime);
    const int counter = int(Mode::Counter);
    const int ask = int(Mode::Ask);
    QTest::newRow("100 test") << counter << false << 100 << 102 << Numbers{100};
    QTest::newRow("104 folder test") << counter << false << 104 << 106 << Numbers{104};
    QTest::newRow("106 test") << counter << false << 106 << 108 << Numbers{106};
    QTest::newRow("108 date-time name") << dateTime << false << 108 << 148 << Numbers{108};
    QTest::newRow("110 test") << counter << false << 110 << 112 << Numbers{110};
    QTest::newRow("114 test") << counter << true << 114 << 116 << Numbers{114};
    QTest::newRow("116 candidate") << counter << false << 116 << 120 << Numbers{116};
    QTest::newRow("118 candidate") << counter << true << 118 << 120 << Numbers{118};
    QTest::newRow("122 search") << counter << false << 122 << 124 << Numbers{122};
    QTest::newRow("124 counter name") << counter << false << 124 << 148 << Numbers{124};
    QTest::newRow("126 test") << ask << false << 126 << 128 << Numbers{126};
    QTest::newRow("146 asked name") << ask << false << 146 << 148 << Numbers{146};
    QTest::newRow("148 test") << counter << false << 148 << 150 << Numbers{148};
    QTest::newRow("158 loop test") << counter << false << 158 << 160 << Numbers{158};
    QTest::newRow("164 wait") << counter << false << 164 << 158 << Numbers{164};
    QTest::newRow("166 test") << counter << false << 166 << 168 << Numbers{166};
    QTest::newRow("168 test") << counter << true << 168 << 170 << Numbers{168};
    QTest::newRow("170 Creator") << counter << false << 170 << 172 << Numbers{170, 172};
    QTest::newRow("172 JPEG") << counter << false << 172 << 176 << Numbers{172};
    QTest::newRow("174 BMP") << counter << true << 174 << 176 << Numbers{174};
    QTest::newRow("176 show") << counter << false << 176 << 178 << Numbers{176};
    QTest::newRow("178 pointer") << counter << false << 178 << 182 << Numbers{178};
}

void tst_CaptureCommand::failureResumesAtTheNextStatement()
{
    QFETCH(int, mode);
    QFETCH(bool, bmp);
    QFETCH(int, failing);
    QFETCH(int, resumed);
    QFETCH(Numbers, reported);

    World world(Mode(mode), bmp ? Format::Bmp : Format::Jpg);
    world.dialogs.answers.enqueue(QStringLiteral("asked"));
    world.failAt({failing}, true);
    world.click();

    QCOMPARE(world.reportedNumbers(), reported);
    const auto &report = world.dialogs.messages.constFirst();
    QCOMPARE(report.text, app::BuildErrorReport(location, QStringLiteral("injected at %1").arg(failing), failing));
    QCOMPARE(report.icon, app::Dialogs::Icon::Warning);
    const qsizetype at = world.statements.indexOf(failing);
    QVERIFY(at >= 0 && at + 1 < world.statements.size());
    QCOMPARE(world.statements[at + 1], resumed);
    QCOMPARE(world.statements.constLast(), 182);
    QVERIFY(!world.command.capturing());
    world.window.show(); // a failed 176 leaves the window hidden
}

void tst_CaptureCommand::failedSaveIsReportedAndTheWindowComesBack_data()
{
    QTest::addColumn<bool>("bmp");
    QTest::addColumn<QString>("name"); // typed at the prompt
    QTest::addColumn<int>("number");

    QTest::newRow("JPEG name too long") << false << QString(300, QLatin1Char('j')) << 172;
    QTest::newRow("BMP name too long") << true << QString(300, QLatin1Char('b')) << 174;
    QTest::newRow("JPEG into a missing sub-folder") << false << QStringLiteral("") << 172;
}

void tst_CaptureCommand::failedSaveIsReportedAndTheWindowComesBack()
{
    QFETCH(bool, bmp);
    QFETCH(QString, name);
    QFETCH(int, number);

    World world(name.isEmpty() ? Mode::Counter : Mode::Ask, bmp ? Format::Bmp : Format::Jpg);
    if (name.isEmpty())
        world.window.Text2()->setText("missing/Shot"); // the prefix is used as typed
    world.dialogs.answers.enqueue(name);
    world.click();

    QCOMPARE(world.reportedNumbers(), Numbers{number});
    QVERIFY(world.dialogs.messages[0].text.startsWith("Cannot save the image. GDI+ Error:"));
    QVERIFY(filesIn(world.folder).isEmpty());
    world.verifyCameBack();
}

void tst_CaptureCommand::failedCapturesNeverSaveAnEarlierPicture()
{
    World world(Mode::Counter, Format::Jpg);
    world.click();
    QVERIFY(!world.window.picSS()->picture().isNull());
    QCOMPARE(filesIn(world.folder), QStringList{"Shot1.jpg"});

    // Every attempt fails: ten reports, and the first command's picture is not written again.
    world.failAt({160}, false);
    world.click();
    QCOMPARE(world.reportedNumbers(), Numbers(10, 160));
    QCOMPARE(filesIn(world.folder), QStringList{"Shot1.jpg"});
    world.verifyCameBack();

    // Nor when handing the new picture to Creator fails.
    world.dialogs.messages.clear();
    world.failAt({170}, false);
    world.click();
    QCOMPARE(world.reportedNumbers(), (Numbers{170, 172}));
    QCOMPARE(filesIn(world.folder), QStringList{"Shot1.jpg"});
    world.verifyCameBack();
}

void tst_CaptureCommand::noPictureAfterTenAttempts()
{
    World world(Mode::Counter, Format::Jpg);
    ui::CaptureCommand blind(world.window, nullptr, world.dialogs, world.reporter);
    blind.PushButton1_Click();
    QCOMPARE(world.statements.count(160), 10);
    QVERIFY(filesIn(world.folder).isEmpty());
    QVERIFY(world.dialogs.messages.isEmpty());
    QVERIFY(world.window.isVisible());
    QVERIFY(!blind.capturing());
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
    World world(Mode::Counter, bmp ? Format::Bmp : Format::Jpg);
    const QRect covered = world.window.frameGeometry();
    const QColor colour(0x12, 0xab, 0x34);
    ColourWindowProcess other(covered.adjusted(-40, -40, 40, 40), colour.name());
    QVERIFY(other.isReady());
    world.window.raise(); // back on top of the other window
    QTest::qWait(100);

    world.click();

    const QImage picture = QImage(world.folder + (bmp ? "/Shot1.bmp" : "/Shot1.jpg"))
                               .convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), QSize(1920, 1080));
    const int tolerance = bmp ? 0 : 12;
    int wrong = 0;
    for (int y = covered.top(); y <= covered.bottom(); ++y)
        for (int x = covered.left(); x <= covered.right(); ++x) {
            const QColor seen = picture.pixelColor(x, y);
            if (std::abs(seen.red() - colour.red()) > tolerance
                || std::abs(seen.green() - colour.green()) > tolerance
                || std::abs(seen.blue() - colour.blue()) > tolerance)
                ++wrong;
        }
    QCOMPARE(wrong, 0);
    world.verifyCameBack();
}

void tst_CaptureCommand::folderExists_data()
{
    QTest::addColumn<QString>("path"); // "@" stands for a temporary folder
    QTest::addColumn<bool>("exists");
    QTest::newRow("folder") << "@" << true;
    QTest::newRow("trailing slash") << "@/" << true;
    QTest::newRow("link to a folder") << "@/link" << true;
    QTest::newRow("file") << "@/file" << false;
    QTest::newRow("missing") << "@/missing" << false;
    QTest::newRow("dangling link") << "@/dangling" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("very long") << "@/" + QString(10000, 'x') << false;
}

void tst_CaptureCommand::folderExists()
{
    QFETCH(QString, path);
    QFETCH(bool, exists);
    QTemporaryDir dir;
    touch(dir.path() + "/file");
    QVERIFY(QFile::link(dir.path(), dir.path() + "/link"));
    QVERIFY(QFile::link(dir.path() + "/missing", dir.path() + "/dangling"));
    QCOMPARE(ui::CaptureCommand::FolderExists(path.replace("@", dir.path())), exists);
}

void tst_CaptureCommand::waitSecondsProcessesEventsWithoutBusyWaiting()
{
    bool timerRan = false;
    QTimer::singleShot(20, [&] { timerRan = true; });
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    QElapsedTimer clock;
    clock.start();
    ui::CaptureCommand::WaitSeconds(0.3);
    const qint64 elapsed = clock.elapsed();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);

    QVERIFY(timerRan);
    QVERIFY(elapsed >= 300);
    const auto cpuMs = [](const rusage &u) {
        return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
    };
    QVERIFY2(cpuMs(after) - cpuMs(before) < 100, "WaitSeconds kept a core busy");
}

QTEST_MAIN(tst_CaptureCommand)
#include "tst_capturecommand.moc"
