// The main window under X: its handlers' settings writes and their order, the option groups,
// Text1's focus selection, the pointer feedback, the layout of the prefix line, and closing.

#include "MainWindow.h"
#include "SettingsStore.h"
#include "core/Error.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using Write = QPair<QString, QString>;
using Writes = QList<Write>;

namespace {

// A shown main window on a fresh settings file, recording the handlers' writes.
struct World
{
    QTemporaryDir dir;
    app::SettingsStore store{dir.path() + "/Kestrelby/Vistarel Ombrix.conf"};
    ui::MainWindow window{store};
    Writes writes;

    World()
    {
        window.setSettingObserver([this](const QString &key, const QString &value) {
            writes.append({key, value});
        });
        window.show();
    }
};

QWidget *control(const ui::MainWindow &window, const QString &name)
{
    return window.findChild<QWidget *>(name);
}

// Types text key by key, as a keyboard with an input method would deliver it.
void type(QWidget *widget, const QString &text)
{
    for (const QChar character : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QApplication::sendEvent(widget, &press);
        QApplication::sendEvent(widget, &release);
    }
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void optionWritesItsGroupInOrder_data();
    void optionWritesItsGroupInOrder();
    void switchingOptionsOffWritesNothingAndLeavesNoneSelected();
    void clickOnTheSelectedOptionKeepsIt();
    void everyKeystrokeWritesTheWholeText_data();
    void everyKeystrokeWritesTheWholeText();
    void failingWriteReachesTheCaller();
    void text1FocusSelectsItsWholeText_data();
    void text1FocusSelectsItsWholeText();
    void pointerFeedback_data();
    void pointerFeedback();
    void pointerCoversEveryControl();
    void prefixBoxCoversTheBlanksOfItsCaption();
    void windowIsFixedAndStartsAtQuality85();
    void closingEndsTheProgramWithoutWriting();
};

void tst_MainWindow::initTestCase()
{
    static QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
}

void tst_MainWindow::optionWritesItsGroupInOrder_data()
{
    QTest::addColumn<QString>("start");  // option switched on before the test
    QTest::addColumn<QString>("option"); // the option then chosen
    QTest::addColumn<bool>("byProgram"); // setChecked (start-up restore) instead of a click
    QTest::addColumn<Writes>("expected");

    const Writes specify = {{"Option1", "False"}, {"Option2", "False"}, {"Option3", "True"}};
    const Writes counter = {{"Option1", "False"}, {"Option2", "True"}, {"Option3", "False"}};
    const Writes dateTime = {{"Option1", "True"}, {"Option2", "False"}, {"Option3", "False"}};
    const Writes bmp = {{"Option4", "False"}, {"Option5", "True"}};
    const Writes jpg = {{"Option4", "True"}, {"Option5", "False"}};

    QTest::newRow("click Specify filename") << "Option1" << "Option3" << false << specify;
    QTest::newRow("click counting number") << "Option3" << "Option2" << false << counter;
    QTest::newRow("click date and time") << "Option2" << "Option1" << false << dateTime;
    QTest::newRow("click BMP") << "Option4" << "Option5" << false << bmp;
    QTest::newRow("click JPG") << "Option5" << "Option4" << false << jpg;
    QTest::newRow("restore Specify filename") << "Option1" << "Option3" << true << specify;
    QTest::newRow("restore BMP") << "Option4" << "Option5" << true << bmp;
}

void tst_MainWindow::optionWritesItsGroupInOrder()
{
    QFETCH(QString, start);
    QFETCH(QString, option);
    QFETCH(bool, byProgram);
    QFETCH(Writes, expected);

    World world;
    auto *startButton = qobject_cast<QRadioButton *>(control(world.window, start));
    auto *button = qobject_cast<QRadioButton *>(control(world.window, option));
    QVERIFY(startButton && button);
    startButton->setChecked(true);
    world.writes.clear();

    if (byProgram)
        button->setChecked(true);
    else
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));

    QCOMPARE(world.writes, expected);
    for (const Write &write : expected) {
        QCOMPARE(world.store.GetSetting(write.first, "absent"), write.second);
        QCOMPARE(qobject_cast<QRadioButton *>(control(world.window, write.first))->isChecked(),
                 write.second == "True");
    }
}

void tst_MainWindow::switchingOptionsOffWritesNothingAndLeavesNoneSelected()
{
    // Start-up with "False" stored for all three naming options switches each of them off.
    World world;
    world.window.Option2()->setChecked(true);
    world.writes.clear();

    world.window.Option1()->setChecked(false);
    world.window.Option2()->setChecked(false);
    world.window.Option3()->setChecked(false);

    QVERIFY(!world.window.Option1()->isChecked());
    QVERIFY(!world.window.Option2()->isChecked());
    QVERIFY(!world.window.Option3()->isChecked());
    QVERIFY(world.writes.isEmpty());
    QCOMPARE(world.store.GetSetting("Option2", "absent"), QStringLiteral("True"));

    // Two "True" values in a row: the later one wins.
    world.window.Option1()->setChecked(true);
    world.window.Option2()->setChecked(true);
    QVERIFY(!world.window.Option1()->isChecked());
    QVERIFY(world.window.Option2()->isChecked());
    QVERIFY(world.window.Option4()->isChecked()); // the other group is left alone
}

void tst_MainWindow::clickOnTheSelectedOptionKeepsIt()
{
    World world;
    world.window.Option1()->setChecked(true);
    world.writes.clear();
    QTest::mouseClick(world.window.Option1(), Qt::LeftButton, {}, QPoint(8, 8));
    QTest::keyClick(world.window.Option1(), Qt::Key_Space);
    QVERIFY(world.window.Option1()->isChecked());
    QVERIFY(world.writes.isEmpty());
}

void tst_MainWindow::everyKeystrokeWritesTheWholeText_data()
{
    QTest::addColumn<QString>("box");
    QTest::newRow("Text1") << "Text1";
    QTest::newRow("Text2") << "Text2";
}

void tst_MainWindow::everyKeystrokeWritesTheWholeText()
{
    QFETCH(QString, box);
    World world;
    auto *edit = qobject_cast<QLineEdit *>(control(world.window, box));
    edit->clear();
    type(edit, QString::fromUtf8("aé日"));
    QTest::keyClick(edit, Qt::Key_Backspace);

    const Writes expected = {{box, ""}, {box, "a"}, {box, QString::fromUtf8("aé")},
                             {box, QString::fromUtf8("aé日")}, {box, QString::fromUtf8("aé")}};
    QCOMPARE(world.writes, expected);
    QCOMPARE(world.store.GetSetting(box, "absent"), QString::fromUtf8("aé"));

    // No length limit.
    const QString longText(5000, QLatin1Char('x'));
    edit->setText(longText);
    QCOMPARE(world.store.GetSetting(box, "absent"), longText);
}

void tst_MainWindow::failingWriteReachesTheCaller()
{
    // The handlers have no trap: the start-up step that set the text reports the failure.
    QTemporaryDir dir;
    QFile blocker(dir.path() + "/file");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    app::SettingsStore store(dir.path() + "/file/Vistarel Ombrix.conf");
    ui::MainWindow window(store);
    QVERIFY_THROWS_EXCEPTION(core::Error, window.Text2()->setText("Shots"));
    QCOMPARE(window.Text2()->text(), QStringLiteral("Shots"));
    QVERIFY_THROWS_EXCEPTION(core::Error, window.Option5()->setChecked(true));
    QVERIFY(window.Option5()->isChecked());
    QVERIFY(!window.Option4()->isChecked());
}

void tst_MainWindow::text1FocusSelectsItsWholeText_data()
{
    QTest::addColumn<bool>("byKeyboard");
    QTest::newRow("Tab") << true;
    QTest::newRow("program") << false;
}

void tst_MainWindow::text1FocusSelectsItsWholeText()
{
    QFETCH(bool, byKeyboard);
    World world;
    world.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&world.window));
    QLineEdit *text1 = world.window.Text1();
    text1->setText("/home/someone/Shots/");
    text1->setCursorPosition(3);
    text1->deselect();
    world.window.Text2()->setFocus();
    QTRY_VERIFY(world.window.Text2()->hasFocus());

    if (byKeyboard) {
        // Text2 is the last text box in the tab order; Text1 comes after it (Slider1 between).
        while (!text1->hasFocus())
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    } else {
        text1->setFocus(Qt::OtherFocusReason);
    }
    QTRY_VERIFY(text1->hasFocus());
    QCOMPARE(text1->selectionStart(), 0);
    QCOMPARE(text1->selectedText(), text1->text());

    // Pasting then replaces the whole path.
    QApplication::clipboard()->setText("/tmp/elsewhere/");
    QTest::keyClick(text1, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(text1->text(), QStringLiteral("/tmp/elsewhere/"));
}

void tst_MainWindow::pointerFeedback_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<QStringList>("path"); // controls the mouse moves over, in order
    QTest::addColumn<int>("after");

    const int arrow = ui::MainWindow::PointerDefault;
    const int hourglass = ui::MainWindow::PointerHourglass;
    const int custom = ui::MainWindow::PointerCustom;
    QTest::newRow("onto Capture Now") << arrow << QStringList{"PushButton1"} << custom;
    QTest::newRow("onto ...") << arrow << QStringList{"PushButton2"} << custom;
    QTest::newRow("button then option keeps it")
        << arrow << QStringList{"PushButton1", "Option2"} << custom;
    QTest::newRow("button then text box keeps it")
        << arrow << QStringList{"PushButton2", "Text1"} << custom;
    QTest::newRow("button then slider keeps it")
        << arrow << QStringList{"PushButton1", "Slider1"} << custom;
    QTest::newRow("button then frame") << arrow << QStringList{"PushButton2", "Frame1"} << arrow;
    QTest::newRow("button then background") << arrow << QStringList{"PushButton1", "Form1"} << arrow;
    QTest::newRow("hourglass over a button") << hourglass << QStringList{"PushButton1"} << hourglass;
    QTest::newRow("hourglass over a frame") << hourglass << QStringList{"Frame2"} << hourglass;
    QTest::newRow("hourglass over the background") << hourglass << QStringList{"Form1"} << hourglass;
}

void tst_MainWindow::pointerFeedback()
{
    QFETCH(int, before);
    QFETCH(QStringList, path);
    QFETCH(int, after);

    World world;
    QVERIFY(QTest::qWaitForWindowExposed(&world.window));
    world.window.setMousePointer(before);
    for (const QString &name : path) {
        QWidget *target = name == "Form1" ? &world.window : control(world.window, name);
        QVERIFY(target);
        // A point of the control not covered by one of its children.
        QPoint point = target->rect().center();
        if (name.startsWith("Frame"))
            point = QPoint(target->width() - 4, target->height() - 4);
        else if (name == "Form1")
            point = QPoint(2, world.window.height() - 2);
        QTest::mouseMove(target, point);
        QTest::mouseMove(target, point + QPoint(1, 0));
    }
    QCOMPARE(world.window.mousePointer(), after);
}

void tst_MainWindow::pointerCoversEveryControl()
{
    World world;
    QWidget &w = world.window;
    const QList<QWidget *> controls = {&w, world.window.Text1(), world.window.Option3(),
                                       world.window.Slider1(), world.window.PushButton1(),
                                       world.window.Frame2()};

    world.window.setMousePointer(ui::MainWindow::PointerHourglass);
    for (QWidget *widget : controls)
        QCOMPARE(widget->cursor().shape(), Qt::WaitCursor);

    // 99 without a pointer picture: the pointing hand; with one: that picture.
    world.window.setMousePointer(ui::MainWindow::PointerCustom);
    for (QWidget *widget : controls)
        QCOMPARE(widget->cursor().shape(), Qt::PointingHandCursor);
    QPixmap picture(32, 32);
    picture.fill(Qt::magenta);
    world.window.setCustomPointer(QCursor(picture, 3, 4));
    for (QWidget *widget : controls) {
        QCOMPARE(widget->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(widget->cursor().hotSpot(), QPoint(3, 4));
    }

    // 0: every control shows its own pointer again.
    world.window.setMousePointer(ui::MainWindow::PointerDefault);
    QCOMPARE(world.window.Text1()->cursor().shape(), Qt::IBeamCursor);
    QCOMPARE(world.window.PushButton1()->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
}

void tst_MainWindow::prefixBoxCoversTheBlanksOfItsCaption()
{
    // "These characters [Text2] followed by a counting number" reads as one line.
    World world;
    QRadioButton *option2 = world.window.Option2();
    QLineEdit *text2 = world.window.Text2();
    QCOMPARE(option2->text().size(), 95);

    QStyleOptionButton style;
    style.initFrom(option2);
    style.text = option2->text();
    const QRect contents = option2->style()->subElementRect(QStyle::SE_RadioButtonContents, &style, option2);
    const QFontMetrics metrics(option2->font());
    const int textLeft = option2->x() + contents.x();
    const int firstWordsEnd = textLeft + metrics.horizontalAdvance("These characters");
    const int closingWordsStart = textLeft + metrics.horizontalAdvance(option2->text().left(66));
    QVERIFY2(firstWordsEnd < text2->x(), qPrintable(QString("%1 %2").arg(firstWordsEnd).arg(text2->x())));
    QVERIFY2(text2->geometry().right() < closingWordsStart,
             qPrintable(QString("%1 %2").arg(text2->geometry().right()).arg(closingWordsStart)));
    QVERIFY(closingWordsStart + metrics.horizontalAdvance("followed by a counting number")
            <= world.window.Frame2()->width());

    // Text2 is in front: a click on it reaches the box, not the option button.
    const QPoint centre = text2->geometry().center();
    QCOMPARE(world.window.Frame2()->childAt(centre), text2);
}

void tst_MainWindow::windowIsFixedAndStartsAtQuality85()
{
    World world;
    QCOMPARE(world.window.size(), QSize(536, 281));
    QCOMPARE(world.window.minimumSize(), world.window.maximumSize());
    const Qt::WindowFlags flags = world.window.windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QCOMPARE(world.window.Slider1()->value(), 85);
    QCOMPARE(world.window.Slider1()->minimum(), 0);
    QCOMPARE(world.window.Slider1()->maximum(), 100);
    // The picture holders lie below the client area.
    QVERIFY(world.window.picSS()->y() >= world.window.height());
    QVERIFY(world.window.Creator()->y() >= world.window.height());
}

void tst_MainWindow::closingEndsTheProgramWithoutWriting()
{
    World world;
    world.window.Text1()->setText("/tmp/");
    QFile settings(world.store.filePath());
    QVERIFY(settings.open(QIODevice::ReadOnly));
    const QByteArray before = settings.readAll();
    settings.close();
    world.writes.clear();

    // Another window stays open, so only the close handler can end the event loop.
    QWidget other;
    other.show();
    QTimer::singleShot(0, &world.window, [&] { world.window.close(); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(7); });
    QCOMPARE(QCoreApplication::exec(), 0);

    QVERIFY(world.writes.isEmpty());
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QCOMPARE(settings.readAll(), before);
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
