// The main window under X: its handlers' settings writes and their order, the option groups,
// Text1's focus selection, the pointer feedback and the prefix line's layout. (Closing: e2e.)

#include "DesignControls.h"
#include "MainWindow.h"
#include "RecordingDialogs.h"
#include "SettingsStore.h"
#include "UntrappedFailures.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>

using Writes = QList<QPair<QString, QString>>;

namespace {

// A shown main window on a fresh settings file, recording the handlers' writes.
struct World
{
    QTemporaryDir dir;
    app::SettingsStore store{dir.path() + "/Vistarel Ombrix.conf"};
    ui::MainWindow window{store};
    Writes writes;

    World()
    {
        window.setSettingObserver([this](const QString &key, const QString &value) {
            writes.append({key, value});
        });
        window.show();
    }
    template <typename T = QWidget> T *control(const QString &name) const
    {
        return name == "Form1" ? qobject_cast<T *>(const_cast<ui::MainWindow *>(&window))
                               : window.findChild<T *>(name);
    }
};

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void optionWritesItsGroupInOrder_data();
    void optionWritesItsGroupInOrder();
    void startUpCanSwitchEveryNamingOptionOff();
    void everyKeystrokeWritesTheWholeText_data();
    void everyKeystrokeWritesTheWholeText();
    void focusSelectsTheWholeTextOfText1Only_data();
    void focusSelectsTheWholeTextOfText1Only();
    void pointerFeedback_data();
    void pointerFeedback();
    void prefixBoxCoversTheBlanksOfItsCaption();
    void failedWritesNeverPassThroughQt();
};

void tst_MainWindow::optionWritesItsGroupInOrder_data()
{
    QTest::addColumn<QString>("start");  // option switched on before
    QTest::addColumn<QString>("option"); // the option then chosen
    QTest::addColumn<bool>("byProgram"); // setChecked, as the start-up's restore does
    QTest::addColumn<Writes>("expected");

    const Writes specify = {{"Option1", "False"}, {"Option2", "False"}, {"Option3", "True"}};
    const Writes counter = {{"Option1", "False"}, {"Option2", "True"}, {"Option3", "False"}};
    const Writes bmp = {{"Option4", "False"}, {"Option5", "True"}, {"Option6", "False"}};
    QTest::newRow("click Specify filename") << "Option1"
                                            << "Option3" << false << specify;
    QTest::newRow("click counting number") << "Option3"
                                           << "Option2" << false << counter;
    QTest::newRow("click date and time")
        << "Option2"
        << "Option1" << false
        << Writes{{"Option1", "True"}, {"Option2", "False"}, {"Option3", "False"}};
    QTest::newRow("click BMP") << "Option4"
                               << "Option5" << false << bmp;
    QTest::newRow("click JPG") << "Option6"
                               << "Option4" << false
                               << Writes{{"Option4", "True"},
                                         {"Option5", "False"},
                                         {"Option6", "False"}};
    QTest::newRow("click PNG") << "Option5"
                               << "Option6" << false
                               << Writes{{"Option4", "False"},
                                         {"Option5", "False"},
                                         {"Option6", "True"}};
    QTest::newRow("restore Specify filename") << "Option1"
                                              << "Option3" << true << specify;
    QTest::newRow("restore BMP") << "Option4"
                                 << "Option5" << true << bmp;
    QTest::newRow("click the selected one") << "Option2"
                                            << "Option2" << false << Writes{};
}

void tst_MainWindow::optionWritesItsGroupInOrder()
{
    QFETCH(QString, start);
    QFETCH(QString, option);
    QFETCH(bool, byProgram);
    QFETCH(Writes, expected);

    World world;
    world.control<QRadioButton>(start)->setChecked(true);
    world.writes.clear();
    auto *button = world.control<QRadioButton>(option);
    if (byProgram)
        button->setChecked(true);
    else
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));

    QCOMPARE(world.writes, expected);
    QVERIFY(button->isChecked());
    for (const auto &[key, value] : expected) {
        QCOMPARE(world.store.GetSetting(key, "absent"), value);
        QCOMPARE(world.control<QRadioButton>(key)->isChecked(), value == "True");
    }
}

void tst_MainWindow::startUpCanSwitchEveryNamingOptionOff()
{
    World world;
    testsupport::control<QRadioButton>(world.window, "Option2")->setChecked(true);
    world.writes.clear();
    for (QRadioButton *option : {testsupport::control<QRadioButton>(world.window, "Option1"),
                                 testsupport::control<QRadioButton>(world.window, "Option2"),
                                 testsupport::control<QRadioButton>(world.window, "Option3")})
        option->setChecked(false);
    QVERIFY(!testsupport::control<QRadioButton>(world.window, "Option1")->isChecked() &&
            !testsupport::control<QRadioButton>(world.window, "Option2")->isChecked() &&
            !testsupport::control<QRadioButton>(world.window, "Option3")->isChecked());
    QVERIFY(world.writes.isEmpty()); // switching off runs no handler

    // "True" stored for two of them: the later one wins.
    testsupport::control<QRadioButton>(world.window, "Option1")->setChecked(true);
    testsupport::control<QRadioButton>(world.window, "Option2")->setChecked(true);
    QVERIFY(!testsupport::control<QRadioButton>(world.window, "Option1")->isChecked() &&
            testsupport::control<QRadioButton>(world.window, "Option2")->isChecked());
    QVERIFY(testsupport::control<QRadioButton>(world.window, "Option4")
                ->isChecked()); // the other group is left alone
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
    auto *edit = world.control<QLineEdit>(box);
    edit->clear();
    for (const QChar character : QString::fromUtf8("aé日")) { // as an input method delivers them
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QApplication::sendEvent(edit, &press);
    }
    QTest::keyClick(edit, Qt::Key_Backspace);

    const Writes expected = {{box, ""},
                             {box, "a"},
                             {box, QString::fromUtf8("aé")},
                             {box, QString::fromUtf8("aé日")},
                             {box, QString::fromUtf8("aé")}};
    QCOMPARE(world.writes, expected);
    QCOMPARE(world.store.GetSetting(box, "absent"), QString::fromUtf8("aé"));
    edit->setText(QString(5000, 'x')); // no length limit
    QCOMPARE(world.store.GetSetting(box, "absent"), QString(5000, 'x'));
}

void tst_MainWindow::focusSelectsTheWholeTextOfText1Only_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("byKeyboard");
    QTest::newRow("Text1 by Tab") << "Text1" << true;
    QTest::newRow("Text1 by program") << "Text1" << false;
    QTest::newRow("Text2 by Tab") << "Text2" << true;
}

void tst_MainWindow::focusSelectsTheWholeTextOfText1Only()
{
    QFETCH(QString, box);
    QFETCH(bool, byKeyboard);
    World world;
    world.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&world.window));
    auto *edit = testsupport::control<QLineEdit>(world.window, qPrintable(box));
    auto *other = testsupport::control<QLineEdit>(world.window, box == "Text1" ? "Text2" : "Text1");
    edit->setText("/home/someone/Shots/");
    other->setFocus();
    QTRY_VERIFY(other->hasFocus());
    edit->setCursorPosition(3);

    if (byKeyboard) {
        for (int i = 0; i < 20 && !edit->hasFocus(); ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    } else {
        edit->setFocus(Qt::OtherFocusReason);
    }
    QTRY_VERIFY(edit->hasFocus());
    if (box == "Text1") {
        QCOMPARE(edit->selectedText(), edit->text());
        QApplication::clipboard()->setText("/tmp/elsewhere/"); // pasting replaces the whole path
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit->text(), QStringLiteral("/tmp/elsewhere/"));
    } else {
        // No GotFocus handler: nothing is selected, and typing goes in where the caret was.
        QVERIFY(!edit->hasSelectedText());
        QTest::keyClick(edit, Qt::Key_X);
        QCOMPARE(edit->text(), QStringLiteral("/hoxme/someone/Shots/"));
    }
}

void tst_MainWindow::pointerFeedback_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<QStringList>("path"); // controls the mouse moves over, in order
    QTest::addColumn<int>("after");
    QTest::addColumn<Qt::CursorShape>("overText1"); // what Text1 shows afterwards

    const int arrow = 0, hourglass = 11, custom = 99;
    QTest::newRow("onto Capture Now")
        << arrow << QStringList{"PushButton1"} << custom << Qt::PointingHandCursor;
    QTest::newRow("onto ...") << arrow << QStringList{"PushButton2"} << custom
                              << Qt::PointingHandCursor;
    QTest::newRow("then an option")
        << arrow << QStringList{"PushButton1", "Option2"} << custom << Qt::PointingHandCursor;
    QTest::newRow("then a text box")
        << arrow << QStringList{"PushButton2", "Text1"} << custom << Qt::PointingHandCursor;
    QTest::newRow("then the slider")
        << arrow << QStringList{"PushButton1", "Slider1"} << custom << Qt::PointingHandCursor;
    QTest::newRow("then a frame") << arrow << QStringList{"PushButton2", "Frame1"} << arrow
                                  << Qt::IBeamCursor;
    QTest::newRow("then the background")
        << arrow << QStringList{"PushButton1", "Form1"} << arrow << Qt::IBeamCursor;
    QTest::newRow("hourglass stays over a button")
        << hourglass << QStringList{"PushButton1"} << hourglass << Qt::WaitCursor;
    QTest::newRow("hourglass stays over a frame")
        << hourglass << QStringList{"Frame2", "Form1"} << hourglass << Qt::WaitCursor;
}

void tst_MainWindow::pointerFeedback()
{
    QFETCH(int, before);
    QFETCH(QStringList, path);
    QFETCH(int, after);
    QFETCH(Qt::CursorShape, overText1);

    World world;
    QVERIFY(QTest::qWaitForWindowExposed(&world.window));
    world.window.setMousePointer(before);
    for (const QString &name : path) {
        QWidget *target = world.control(name);
        // A point of the control that none of its children covers.
        const QPoint point = name.startsWith("Frame") || name == "Form1"
                                 ? QPoint(target->width() - 4, target->height() - 3)
                                 : target->rect().center();
        QTest::mouseMove(target, point);
        QTest::mouseMove(target, point + QPoint(1, 0));
        // The pointer is moved on the X server, and Qt keeps only the last of the motions
        // queued together: the next move waits until the control there has seen the pointer.
        QWidget *shown = world.window.childAt(target->mapTo(&world.window, point));
        QTRY_VERIFY((shown ? shown : &world.window)->underMouse());
    }
    QTRY_COMPARE(world.window.mousePointer(), after);
    QTRY_COMPARE(testsupport::control<QLineEdit>(world.window, "Text1")->cursor().shape(),
                 overText1); // the whole window, controls too
}

void tst_MainWindow::prefixBoxCoversTheBlanksOfItsCaption()
{
    // "These characters [Text2] followed by a counting number" reads as one line.
    World world;
    QRadioButton *option2 = testsupport::control<QRadioButton>(world.window, "Option2");
    QLineEdit *text2 = testsupport::control<QLineEdit>(world.window, "Text2");
    QCOMPARE(option2->text().size(), 95);

    QStyleOptionButton style;
    style.initFrom(option2);
    style.text = option2->text();
    const int textLeft =
        option2->x() +
        option2->style()->subElementRect(QStyle::SE_RadioButtonContents, &style, option2).x();
    const QFontMetrics metrics(option2->font());
    const int firstWordsEnd = textLeft + metrics.horizontalAdvance("These characters");
    const int closingWordsStart = textLeft + metrics.horizontalAdvance(option2->text().left(66));
    QVERIFY(firstWordsEnd < text2->x());
    QVERIFY(text2->geometry().right() < closingWordsStart);
    QVERIFY(closingWordsStart + metrics.horizontalAdvance("followed by a counting number") <=
            testsupport::control<QGroupBox>(world.window, "Frame2")->width());
    QCOMPARE(testsupport::control<QGroupBox>(world.window, "Frame2")
                 ->childAt(text2->geometry().center()),
             text2); // Text2 in front
}

void tst_MainWindow::failedWritesNeverPassThroughQt()
{
    // The settings folder is a file: every write fails.
    QTemporaryDir dir;
    QFile blocker(dir.path() + "/blocked");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    app::SettingsStore store(dir.path() + "/blocked/Vistarel Ombrix.conf");
    testsupport::RecordingDialogs dialogs;
    app::UntrappedFailures untrapped(dialogs);
    ui::MainWindow window(store);
    window.failureRouting().setUntrappedFailures(&untrapped);
    window.show();

    // The user's typing: reported once, not once per key, and nothing escapes.
    testsupport::control<QLineEdit>(window, "Text2")->setFocus();
    QTest::keyClicks(testsupport::control<QLineEdit>(window, "Text2"), "abc");
    QCOMPARE(testsupport::control<QLineEdit>(window, "Text2")->text(), QString("Text2abc"));
    QCOMPARE(dialogs.messages.size(), 1);
    QVERIFY(dialogs.messages[0].text.contains("Form1.Text2_Change"));

    // A trapped statement's change: the control takes the value, then the failure is thrown
    // to the caller's trap; the handlers' own failure sink is not used.
    bool thrown = false;
    try {
        window.failureRouting().runTrapped(
            [&] { testsupport::control<QRadioButton>(window, "Option3")->setChecked(true); });
    } catch (const std::exception &) {
        thrown = true;
    }
    QVERIFY(thrown);
    QVERIFY(testsupport::control<QRadioButton>(window, "Option3")->isChecked() &&
            !testsupport::control<QRadioButton>(window, "Option1")->isChecked());
    QCOMPARE(dialogs.messages.size(), 1);

    // After it, a change that writes fine throws nothing.
    app::SettingsStore good(dir.path() + "/ok.conf");
    ui::MainWindow other(good);
    other.failureRouting().runTrapped(
        [&] { testsupport::control<QLineEdit>(other, "Text1")->setText("/tmp/"); });
    QCOMPARE(good.GetSetting("Text1", "absent"), QString("/tmp/"));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
