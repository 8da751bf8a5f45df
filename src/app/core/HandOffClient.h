#pragma once
// The command line's side of the hand-off: asks the windows of this user on this screen (see
// HandOffChannel.h) to take a capture. Every other window is asked to step aside first and stays
// aside until the capture has answered; then the most recently activated window captures as its
// "Capture Now" does. A window that does not answer within the bound, or cannot step aside (one
// of its boxes is open), stops the hand-off: no window takes the capture, and the caller must not
// capture alone either, since the picture would show that window. A socket left behind by a
// window that has ended is removed. Uses no Qt event loop: it may run before any application
// object exists.

#include <QString>
#include <QStringList>

namespace app {

struct HandOffResult
{
    enum class Outcome {
        NoWindow,     // no window of this user on this screen: capture alone
        Written,      // a window wrote path
        NotWritten,   // a window took it and wrote nothing; messages: what its boxes said
        NotAnswering, // a window is there but did not answer, or cannot step aside
    };
    Outcome outcome = Outcome::NoWindow;
    QString path;
    QStringList messages;
};

// notify: the window shows a notification of a written file. answerTimeoutMs: how long each
// window has to answer the request (the capture itself is waited for without a bound).
HandOffResult handOffCapture(bool notify, int answerTimeoutMs);

} // namespace app
