#pragma once
// Makes the main window reachable for captures from the command line (app::HandOffServer): a
// handed-over capture runs the window's own "Capture Now" command (its current choices, its
// prompt, its boxes, which are also sent back as text), then shows the notification of a
// written file when the request asks for one. Another window's capture steps this window aside
// the way a capture does (hidden, then the screen settled) until it has been taken. The window
// counts as activated when it becomes the active window, except when it comes back from a
// capture or stepping aside. Holds references only; everything given must outlive it.

#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <memory>

namespace app {
class CollectingDialogs;
class HandOffServer;
} // namespace app

namespace platform {
class CaptureBackend;
class ScreenSettler;
} // namespace platform

namespace ui {

class CaptureCommand;
class MainWindow;

class WindowHandOff : public QObject
{
public:
    // notify: shows the notification of a written file (may be empty).
    WindowHandOff(MainWindow &window, CaptureCommand &capture, app::CollectingDialogs &dialogs,
                  platform::CaptureBackend *backend, platform::ScreenSettler *settler,
                  std::function<void(const QString &path)> notify);
    ~WindowHandOff() override;

    // Starts listening; false when the window cannot be reached (see app::HandOffServer).
    bool listen();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Whether the window, shown again by the last capture, is not yet on the screen: the next
    // one waits for it (1 s at most), since hiding a window the window manager has not yet put
    // on the screen can let it appear after the screen was found clear of it.
    bool isStillComingBack() const;

    MainWindow &m_window;
    QElapsedTimer m_cameBack;
    std::unique_ptr<app::HandOffServer> m_server;
    bool m_comingBack = false; // the next activation is the window's return, not the user's
};

} // namespace ui
