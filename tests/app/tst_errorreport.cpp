// The error report box and the trap of the trapped handlers: the report's exact text, and where
// a small trapped handler resumes after failures injected at any statement.
#include "ErrorReporter.h"
#include "RecordingDialogs.h"
#include "Trap.h"
#include "core/Error.h"

#include <QTest>
#include <stdexcept>

using app::Trap;

namespace {
const char *const LoadLocation = "in Orrindale2021/08/31.Form1.Form_Load ";
const char *const CaptureLocation = "in Orrindale2021/08/31.Form1.PushButton1_Click ";
const char *const BrowseLocation = "in Orrindale2021/08/31.Form1.PushButton2_Click ";
} // namespace

class TestErrorReport : public QObject
{
    Q_OBJECT

    testsupport::RecordingDialogs m_dialogs;
    app::ErrorReporter m_reporter{m_dialogs};
    QList<int> m_ran;
    bool m_condition = false;

    // A small handler shaped like the capture command's table: a test with a jump, a branch
    // that jumps past others, a backward loop and an early return.
    //   100 work; 102 if condition go on with 104 else 108 (failure: 104); 104 work, go to 110;
    //   106 never reached; 108 work; 110 loop back to 108 once; 112 return; 114 after the end.
    void runHandler()
    {
        int loops = 0;
        Trap trap(m_reporter, CaptureLocation);
        auto step = [&](int n) { m_ran.append(n); };
        // The statement table keeps one statement a line, as it reads.
        // clang-format off
        trap.run({
            {100, [&] { step(100); return Trap::Next; }},
            {102, [&] { step(102); return m_condition ? 104 : 108; }, 104},
            {104, [&] { step(104); return 110; }, 110},
            {106, [&] { step(106); return Trap::Next; }},
            {108, [&] { step(108); return Trap::Next; }},
            {110, [&] { step(110); return loops++ == 0 ? 108 : 112; }},
            {112, [&] { step(112); return Trap::Return; }},
            {114, [&] { step(114); return Trap::Next; }},
        });
        // clang-format on
    }

private slots:
    void init()
    {
        m_dialogs.messages.clear();
        m_ran.clear();
        m_condition = false;
        m_reporter.setStatementProbe({});
    }

    void reportTextIsExact_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("description");
        QTest::addColumn<int>("number");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray support =
            QByteArray("Please email screenshot of this message to ") + app::SupportAddress;
        QTest::newRow("capture save failure")
            << CaptureLocation << "Cannot save the image. GDI+ Error:" << 172
            << "Cannot save the image. GDI+ Error:\r\nin Orrindale2021/08/31.Form1."
               "PushButton1_Click at line 172\r\r" +
                   support;
        QTest::newRow("empty description, first statement")
            << LoadLocation << "" << 100
            << "\r\nin Orrindale2021/08/31.Form1.Form_Load at line 100\r\r" + support;
        QTest::newRow("browse, non-ASCII description")
            << BrowseLocation << QString::fromUtf8("Pfad ungültig") << 108
            << QByteArray("Pfad ungültig\r\nin Orrindale2021/08/31.Form1.PushButton2_Click "
                          "at line 108\r\r") +
                   support;
    }
    void reportTextIsExact()
    {
        QFETCH(QString, location);
        QFETCH(QString, description);
        QFETCH(int, number);
        QFETCH(QByteArray, expected);
        QCOMPARE(app::BuildErrorReport(location, description, number).toUtf8(), expected);

        m_reporter.ShowErrorReport(location, description, number);
        QCOMPARE(m_dialogs.messages.size(), 1);
        QCOMPARE(m_dialogs.messages[0].title, QString("Application Error"));
        QCOMPARE(m_dialogs.messages[0].icon, app::Dialogs::Icon::Warning);
        QCOMPARE(m_dialogs.messages[0].text.toUtf8(), expected);
    }

    void resumesWhereTheTableSays_data()
    {
        QTest::addColumn<bool>("condition");
        QTest::addColumn<QList<int>>("failing");
        QTest::addColumn<QList<int>>("ran");      // actions that ran to their end
        QTest::addColumn<QList<int>>("reported"); // statement numbers in the boxes, in order
        QTest::newRow("no failure, branch not taken")
            << false << QList<int>{} << QList<int>{100, 102, 108, 110, 108, 110, 112}
            << QList<int>{};
        QTest::newRow("no failure, branch taken")
            << true << QList<int>{} << QList<int>{100, 102, 104, 110, 108, 110, 112}
            << QList<int>{};
        QTest::newRow("first statement fails")
            << false << QList<int>{100} << QList<int>{102, 108, 110, 108, 110, 112}
            << QList<int>{100};
        QTest::newRow("failed test enters what it guards")
            << false << QList<int>{102} << QList<int>{100, 104, 110, 108, 110, 112}
            << QList<int>{102};
        QTest::newRow("failure after a jump resumes at its own target")
            << true << QList<int>{104} << QList<int>{100, 102, 110, 108, 110, 112}
            << QList<int>{104};
        QTest::newRow("two failures give two boxes")
            << false << QList<int>{100, 108} << QList<int>{102, 110, 110, 112}
            << QList<int>{100, 108, 108};
        QTest::newRow("failed return goes on with the next row")
            << false << QList<int>{112} << QList<int>{100, 102, 108, 110, 108, 110, 114}
            << QList<int>{112};
    }
    void resumesWhereTheTableSays()
    {
        QFETCH(bool, condition);
        QFETCH(QList<int>, failing);
        QFETCH(QList<int>, ran);
        QFETCH(QList<int>, reported);
        m_condition = condition;
        QList<int> probed;
        m_reporter.setStatementProbe([&](const QString &location, int number) {
            QCOMPARE(location, QString(CaptureLocation));
            probed.append(number);
            if (failing.contains(number))
                throw core::Error(5, QString("fails at %1").arg(number));
        });
        runHandler();
        QCOMPARE(m_ran, ran);
        QList<int> shown;
        for (const auto &message : std::as_const(m_dialogs.messages)) {
            const QString text = message.text;
            QVERIFY(text.startsWith("fails at "));
            const int number = text.section(' ', 2, 2).section('\r', 0, 0).toInt();
            QVERIFY(text.contains(QString("PushButton1_Click at line %1\r\r").arg(number)));
            shown.append(number);
        }
        QCOMPARE(shown, reported);
    }

    // Whatever the action throws is reported with the statement's number, and the work it had
    // done before the failure stays done.
    void reportsEveryKindOfFailure_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("description");
        QTest::newRow("program's error") << 0 << "Type mismatch";
        QTest::newRow("standard exception") << 1 << "bad thing";
        QTest::newRow("anything else") << 2 << "";
    }
    void reportsEveryKindOfFailure()
    {
        QFETCH(int, kind);
        QFETCH(QString, description);
        int done = 0;
        Trap trap(m_reporter, LoadLocation);
        // The statement table keeps one statement a line, as it reads.
        // clang-format off
        trap.run({
            {100, [&] { return Trap::Next; }},
            {132,
             [&]() -> int {
                 ++done;
                 if (kind == 0)
                     throw core::Error(13, "Type mismatch");
                 if (kind == 1)
                     throw std::runtime_error("bad thing");
                 throw 42;
             }},
            {134, [&] { done += 10; return Trap::Next; }},
        });
        // clang-format on
        QCOMPARE(done, 11);
        QCOMPARE(m_dialogs.messages.size(), 1);
        QCOMPARE(m_dialogs.messages[0].text, app::BuildErrorReport(LoadLocation, description, 132));
    }
};

QTEST_GUILESS_MAIN(TestErrorReport)
#include "tst_errorreport.moc"
