// When the capture's memory is prepared and freed: cues over the window prepare it, a quiet
// time without cues frees it, and nothing happens to it while a capture runs.

#include "CaptureBackend.h"
#include "CaptureReadiness.h"

#include <QEnterEvent>
#include <QPushButton>
#include <QTest>
#include <QWidget>

namespace {

class CountingBackend : public platform::CaptureBackend
{
public:
    imaging::Picture captureScreen() override { return {}; }
    void sync() override {}
    void prepareForCapture() override { ++prepared; }
    void releasePreparation() override { ++released; }
    int prepared = 0;
    int released = 0;
};

void sendEvent(QWidget *widget, QEvent::Type type)
{
    if (type == QEvent::Enter) {
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(widget, &enter);
    } else {
        QEvent event(type);
        QCoreApplication::sendEvent(widget, &event);
    }
}

} // namespace

class tst_CaptureReadiness : public QObject
{
    Q_OBJECT

private slots:
    void cuesPrepareAndQuietTimeReleases_data()
    {
        QTest::addColumn<QString>("target"); // "window" or "button"
        QTest::addColumn<int>("type");
        QTest::newRow("pointer over the window") << "window" << int(QEvent::Enter);
        QTest::newRow("pointer over a control") << "button" << int(QEvent::Enter);
        QTest::newRow("window active") << "window" << int(QEvent::WindowActivate);
        QTest::newRow("focus on Capture Now") << "button" << int(QEvent::FocusIn);
    }
    void cuesPrepareAndQuietTimeReleases()
    {
        QFETCH(QString, target);
        QFETCH(int, type);
        QWidget window;
        auto *button = new QPushButton(QStringLiteral("Capture Now"), &window);
        CountingBackend backend;
        bool busy = false;
        ui::CaptureReadiness readiness(
            window, *button, backend, [&busy] { return busy; }, std::chrono::milliseconds(50));
        QWidget *cued = target == "window" ? &window : static_cast<QWidget *>(button);

        sendEvent(cued, QEvent::Type(type));
        QCOMPARE(backend.prepared, 1);
        QTRY_COMPARE(backend.released, 1);

        // A cue during a capture prepares nothing, and the memory stays until the quiet time
        // after it.
        busy = true;
        sendEvent(cued, QEvent::Type(type));
        QCOMPARE(backend.prepared, 1);
        QTest::qWait(150);
        QCOMPARE(backend.released, 1);
        busy = false;
        QTRY_COMPARE(backend.released, 2);

        sendEvent(cued, QEvent::Type(type));
        QCOMPARE(backend.prepared, 2);
    }
};

QTEST_MAIN(tst_CaptureReadiness)
#include "tst_capturereadiness.moc"
