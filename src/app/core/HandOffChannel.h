#pragma once
// Where a running window can be reached by a capture from the command line, and the words they
// exchange. Each window listens on a local stream socket of its own, mode 0600, in a folder only
// its user can enter: $XDG_RUNTIME_DIR/vistarel-ombrix (or /tmp/vistarel-ombrix-<uid> when that
// variable is not set; a folder there that is not the user's own, or is open to others, is not
// used). A socket is named after the screen it shows its window on (WAYLAND_DISPLAY, else
// DISPLAY) and the window's process id, so that a capture is only handed to a window on its own
// screen. The socket's modification time is when its window was last activated: the newest one
// takes the capture.
//
// One request and its answers, each a line; texts are percent-encoded (%, CR and LF):
//   client: "capture notify" | "capture quiet"       (quiet: no notification afterwards)
//   window: "refused"  another user's request         (then the connection ends)
//           "busy"     a box of the window is open, so it cannot step aside
//           "queued"   taken; the capture follows in turn
//           "message <title: text>"                   each box the capture showed
//           "written <path>" | "nothing" | "closed"   (closed: the window ended first)

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace app::handoff {

inline constexpr auto Refused = "refused";
inline constexpr auto Busy = "busy";
inline constexpr auto Queued = "queued";
inline constexpr auto Message = "message";
inline constexpr auto Written = "written";
inline constexpr auto Nothing = "nothing";
inline constexpr auto Closed = "closed";
inline constexpr auto CaptureNotify = "capture notify";
inline constexpr auto CaptureQuiet = "capture quiet";

// How long a window has to say "queued" (or "busy") before it counts as not answering.
inline constexpr int AnswerTimeoutMs = 1000;

// The folder of the sockets; empty when there is none this user may safely use. With create,
// makes it (mode 0700) when it is missing.
QString socketFolder(bool create);

// The screen this process shows its windows on, as a file-name part ("wayland-1", ":0"), at most
// MaxScreenKeyLength characters long.
inline constexpr int MaxScreenKeyLength = 32;
QString screenKey();

// The sockets of windows on this screen in socketFolder, the most recently activated first.
QStringList windowSockets(const QString &folder);

// A line's field, percent-encoded, and back.
QByteArray encode(const QString &text);
QString decode(const QByteArray &field);

} // namespace app::handoff
