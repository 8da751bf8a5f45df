#pragma once
// The window's side of the hand-off (see HandOffChannel.h): listens on its socket, refuses every
// connection that does not come from a process of its own user (checked by the peer's
// credentials, besides the socket's mode and folder), and serves the requests in the order they
// came. A capture request is answered "queued" at once unless a box of the window is open
// (isBlocked), then run when no capture runs (isCapturing) and no box is open, one at a time;
// its answer goes back when it ends. An "aside" request steps the window aside (stepAside) for as
// long as the connection stays open, and answers once the window is off the screen; when the last
// such connection ends, the window comes back (comeBack). Qt Core only; the callbacks are the
// window's. Removes its socket when destroyed, after answering "closed" to the requests not run.

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace app {

class HandOffServer
{
public:
    struct Answer
    {
        QString writtenPath; // empty: nothing written
        QStringList messages;
    };

    struct Callbacks
    {
        std::function<bool()> isBlocked;   // a box of the window is open
        std::function<bool()> isCapturing; // a capture is running
        std::function<Answer(bool notify)> capture;
        std::function<void()> stepAside; // returns once the window is off the screen
        std::function<void()> comeBack;
        // Whether captures queued behind one another may all run while the window stays aside
        // (coming back and stepping aside at once between them races the window manager).
        std::function<bool()> maySkipComingBack;
    };

    explicit HandOffServer(Callbacks callbacks);
    ~HandOffServer();
    HandOffServer(const HandOffServer &) = delete;
    HandOffServer &operator=(const HandOffServer &) = delete;

    // Starts listening; false when no private socket folder can be had (nothing is handed over
    // to this window then).
    bool listen();
    QString socketPath() const;

    // Makes this window the most recently activated one.
    void markActive();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace app
