#include "WindowHandOff.h"

#include "CaptureBackend.h"
#include "CaptureCommand.h"
#include "CollectingDialogs.h"
#include "HandOffServer.h"
#include "MainWindow.h"
#include "NamingMode.h"
#include "ScreenSettler.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QWindow>

namespace ui {

WindowHandOff::WindowHandOff(MainWindow &window, CaptureCommand &capture,
                             app::CollectingDialogs &dialogs, platform::CaptureBackend *backend,
                             platform::ScreenSettler *settler,
                             std::function<void(const QString &path)> notify)
    : m_window(window)
{
    auto steppedAside = std::make_shared<bool>(false);
    app::HandOffServer::Callbacks callbacks;
    // A box of the window (a report, the folder picker) cannot step aside; the capture's own
    // prompt and reports belong to a capture in progress, after which the request runs.
    callbacks.isBlocked = [&capture] {
        return QApplication::activeModalWidget() != nullptr && !capture.capturing();
    };
    callbacks.isCapturing = [&capture] { return capture.capturing(); };
    callbacks.capture = [this, &capture, &dialogs, notify](bool notifyWritten) {
        dialogs.startCollecting();
        m_comingBack = m_window.isVisible();
        capture.PushButton1_Click();
        app::HandOffServer::Answer answer;
        answer.messages = dialogs.takeCollected();
        const QFileInfo written(capture.writtenPath());
        if (!capture.writtenPath().isEmpty() && written.isFile()) {
            answer.writtenPath = written.absoluteFilePath();
            if (notifyWritten && notify)
                notify(answer.writtenPath);
        }
        return answer;
    };
    callbacks.stepAside = [this, backend, settler, steppedAside] {
        QWindow *shown = m_window.shownWindow();
        *steppedAside = shown != nullptr;
        if (!shown)
            return;
        if (settler)
            settler->prepare(*shown);
        m_window.stepAside();
        QCoreApplication::processEvents();
        if (backend)
            backend->sync();
        if (settler)
            settler->waitUntilRepainted();
    };
    callbacks.comeBack = [this, steppedAside] {
        if (!std::exchange(*steppedAside, false))
            return;
        m_comingBack = true;
        m_window.comeBack();
    };
    // Not where each capture asks for its name: the prompt comes with the window on the screen,
    // and the settler waits for both to be gone.
    callbacks.maySkipComingBack = [&window] {
        return window.namingMode() != NamingMode::AskedName;
    };
    m_server = std::make_unique<app::HandOffServer>(std::move(callbacks));
    m_window.installEventFilter(this);
}

WindowHandOff::~WindowHandOff() = default;

bool WindowHandOff::listen()
{
    if (!m_server->listen())
        return false;
    m_server->markActive();
    return true;
}

bool WindowHandOff::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_window && event->type() == QEvent::WindowActivate) {
        if (!std::exchange(m_comingBack, false))
            m_server->markActive();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace ui
