// The Qt implementations of the platform services: the message box and the folder picker
// (driven while they are open), the desktop URL opener and the random draw.
#include "DesktopUrlOpener.h"
#include "QtDialogs.h"
#include "TimeSeededRandomSource.h"
#include "core/Error.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

class TestQtServices : public QObject
{
    Q_OBJECT

    app::QtDialogs m_dialogs;
    QList<QUrl> m_opened;

    // Runs inspect on the modal dialog of type T as soon as it is open.
    template <typename T> static void whenOpen(std::function<void(T *)> inspect)
    {
        QTimer::singleShot(0, [inspect] {
            T *dialog = qobject_cast<T *>(QApplication::activeModalWidget());
            if (!dialog) {
                whenOpen<T>(inspect);
                return;
            }
            inspect(dialog);
        });
    }

public slots:
    void handleUrl(const QUrl &url) { m_opened.append(url); }

private slots:
    void messageBoxShowsTheReportAsLines_data()
    {
        QTest::addColumn<bool>("warning");
        QTest::newRow("warning icon") << true;
        QTest::newRow("no icon") << false;
    }
    void messageBoxShowsTheReportAsLines()
    {
        QFETCH(bool, warning);
        QString text, title;
        QMessageBox::Icon icon = QMessageBox::Question;
        int buttons = 0;
        Qt::TextFormat format = Qt::AutoText;
        whenOpen<QMessageBox>([&](QMessageBox *box) {
            text = box->text();
            title = box->windowTitle();
            icon = box->icon();
            format = box->textFormat();
            buttons = int(box->buttons().size());
            box->button(QMessageBox::Ok)->click();
        });
        m_dialogs.showMessage("Application Error",
                              "<b>D</b>\r\nin Orrindale2021/08/31.Form1.Form_Load at line 128\r\r"
                              "Please email screenshot of this message to x@kestrelby.example",
                              warning ? app::Dialogs::Icon::Warning : app::Dialogs::Icon::None);
        QCOMPARE(title, QString("Application Error"));
        QCOMPARE(icon, warning ? QMessageBox::Warning : QMessageBox::NoIcon);
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(buttons, 1);
        QCOMPARE(text, QString("<b>D</b>\nin Orrindale2021/08/31.Form1.Form_Load at line 128\n\n"
                               "Please email screenshot of this message to x@kestrelby.example"));
    }

    void folderPickerOpensOnTheStartFolder()
    {
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("start/Shots"));
        const QString start = root.filePath("start");
        QString title, directory;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        whenOpen<QFileDialog>([&](QFileDialog *dialog) {
            title = dialog->windowTitle();
            directory = dialog->directory().absolutePath();
            mode = dialog->fileMode();
            dialog->selectFile(start + "/Shots");
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog::accept is protected
        });
        const QString chosen = m_dialogs.chooseFolder("Please select folder:", start);
        QCOMPARE(title, QString("Please select folder:"));
        QCOMPARE(directory, start);
        QCOMPARE(mode, QFileDialog::Directory);
        QCOMPARE(chosen, start + "/Shots");
    }

    void urlOpenerHandsTheAddressToTheDesktop()
    {
        QDesktopServices::setUrlHandler("https", this, "handleUrl");
        app::DesktopUrlOpener opener;
        const QUrl home("https://www.kestrelby.example/vistarel-ombrix");
        opener.openUrl(home);
        QCOMPARE(m_opened, QList<QUrl>{home});
        QDesktopServices::unsetUrlHandler("https");

        // Nothing on this test platform opens addresses: a failure, not a silent success.
        QVERIFY_THROWS_EXCEPTION(core::Error, opener.openUrl(QUrl("nosuchscheme://x")));
    }

    void drawCoversOneToHundred()
    {
        app::TimeSeededRandomSource random;
        QList<int> seen(101, 0);
        for (int i = 0; i < 20000; ++i) {
            const int draw = random.drawPercent();
            QVERIFY(draw >= 1 && draw <= 100);
            ++seen[draw];
        }
        for (int value = 1; value <= 100; ++value)
            QVERIFY2(seen[value] > 100, qPrintable(QString::number(value))); // 200 expected
    }
};

QTEST_MAIN(TestQtServices)
#include "tst_qtservices.moc"
