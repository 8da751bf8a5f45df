// The event-loop boundary: failures of untrapped handlers are reported without a crash and
// without a flood of boxes, whether they come through UntrappedFailures::run or escape into the
// event loop through Qt's own code.
#include "ErrorReporter.h"
#include "GuardedApplication.h"
#include "RecordingDialogs.h"
#include "core/Error.h"

#include <QLineEdit>
#include <QTest>
#include <stdexcept>

using app::UntrappedFailures;

class TestGuardedApplication : public QObject
{
    Q_OBJECT

public:
    TestGuardedApplication(testsupport::RecordingDialogs &dialogs,
                           app::GuardedApplication &application)
        : m_dialogs(dialogs)
        , m_application(application)
    {
    }

private:
    testsupport::RecordingDialogs &m_dialogs;
    app::GuardedApplication &m_application;

    static void failSaving() { throw core::Error(75, "Cannot save the setting \"Text1\""); }

private slots:
    void init()
    {
        m_dialogs.messages.clear();
        m_dialogs.onMessage = {};
    }

    void reportTextIsExact()
    {
        QCOMPARE(app::BuildUntrappedReport("Form1.Text1_Change", {"Disk full", 75}),
                 QString("Disk full\r\nin Form1.Text1_Change, error 75\r\rPlease email "
                         "screenshot of this message to ") +
                     QString::fromUtf8(app::SupportAddress));
    }

    void sameFailureIsShownOnceUntilItsPlaceSucceeds()
    {
        UntrappedFailures failures(m_dialogs);
        for (int i = 0; i < 5; ++i)
            failures.run("Form1.Text1_Change", failSaving);
        QCOMPARE(m_dialogs.messages.size(), 1);
        QCOMPARE(m_dialogs.messages[0].title, QString("Application Error"));
        QCOMPARE(m_dialogs.messages[0].icon, app::Dialogs::Icon::Warning);

        // Another place, or another failure at the same place, is news.
        failures.run("Form1.Text2_Change", failSaving);
        failures.run("Form1.Text1_Change", [] { throw std::runtime_error("other"); });
        QCOMPARE(m_dialogs.messages.size(), 3);

        // Once the place has run without failing, its failure is news again.
        failures.run("Form1.Text1_Change", [] {});
        failures.run("Form1.Text1_Change", failSaving);
        QCOMPARE(m_dialogs.messages.size(), 4);
        QCOMPARE(failures.quietedCount(), 4);
    }

    void failuresWhileABoxIsOpenFollowItOnce()
    {
        UntrappedFailures failures(m_dialogs);
        m_dialogs.onMessage = [&] {
            if (m_dialogs.messages.size() != 1)
                return;
            // Inside the first box's event loop: a repeat of it, and a new one twice.
            failures.run("A", failSaving);
            failures.run("B", failSaving);
            failures.run("B", failSaving);
            QCOMPARE(m_dialogs.messages.size(), 1);
        };
        failures.run("A", failSaving);
        QCOMPARE(m_dialogs.messages.size(), 2);
        QVERIFY(m_dialogs.messages[1].text.contains("in B, error 75"));
    }

    // A change handler that throws on every keystroke, as a settings write on a full disk does:
    // the exception leaves through QLineEdit and reaches the application's notify().
    void eventLoopSurvivesAFailingHandler()
    {
        QLineEdit edit;
        edit.setObjectName("Text1");
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        auto connection = connect(&edit, &QLineEdit::textChanged, &edit, [] { failSaving(); });
        QTest::keyClicks(&edit, "abcde");
        QCOMPARE(edit.text(), QString("abcde"));
        QCOMPARE(m_dialogs.messages.size(), 1);
        QVERIFY(m_dialogs.messages[0].text.contains("in Text1 (KeyPress), error 75"));

        // Keys that go through (moving the cursor) do not make it news again; only a pause of
        // the quiet period does.
        disconnect(connection);
        QTest::keyClick(&edit, Qt::Key_Home);
        connect(&edit, &QLineEdit::textChanged, &edit, [] { failSaving(); });
        QTest::keyClick(&edit, Qt::Key_F);
        QCOMPARE(m_dialogs.messages.size(), 1);
        qint64 now = 0;
        m_application.untrappedFailures().setClock([&] { return now; });
        QTest::keyClick(&edit, Qt::Key_G);
        now += UntrappedFailures::QuietPeriodMs - 1;
        QTest::keyClick(&edit, Qt::Key_H);
        QCOMPARE(m_dialogs.messages.size(), 1);
        now += UntrappedFailures::QuietPeriodMs;
        QTest::keyClick(&edit, Qt::Key_I);
        QCOMPARE(m_dialogs.messages.size(), 2);
    }
};

int main(int argc, char *argv[])
{
    testsupport::RecordingDialogs dialogs;
    app::GuardedApplication application(argc, argv, dialogs);
    TestGuardedApplication test(dialogs, application);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_guardedapplication.moc"
