#pragma once
// The one place that looks at the session and picks what the program uses of the desktop: the
// capture backend and the screen settler. A Wayland session (WAYLAND_DISPLAY or XDG_SESSION_TYPE,
// even when Qt itself runs on xcb) captures the primary output (the first the compositor
// announces) through the compositor: ext-image-copy-capture where it is offered, else wlroots
// screencopy, else KWin's screenshot interface (with the desktop portal behind it, for when KWin
// does not authorise the program), else the desktop portal, else not at all. An X11 session
// captures through X11, unless its server is Xwayland, which is treated like a Wayland session.
// This header and the others of api/ are all of the platform that ui sees.
// VO_CAPTURE_BACKEND overrides the choice ("x11", even on Xwayland; "ext-image-copy-capture";
// "wlr-screencopy"; "kwin", with no portal behind it; "portal"; or "null" for a backend that never
// yields a picture). The choice and its reasons are logged in the category "vo.platform"
// (QT_LOGGING_RULES="vo.platform.debug=true" shows them).

#include "CaptureBackend.h"
#include "DesktopParts.h"
#include "ScreenSettler.h"

#include <QLoggingCategory>
#include <QString>
#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

namespace platform {

// Both never null. Where no route fits the session, capture is a NullCaptureBackend whose
// failureReason() says why, for the user.
struct Desktop
{
    std::unique_ptr<CaptureBackend> capture;
    std::unique_ptr<ScreenSettler> settler;
};

// How the program will capture: many times from its window (a backend may prepare memory for
// the first capture at once), or once, at start (nothing to prepare ahead).
enum class CaptureUse { Repeated, Once };

// The routes with the parts given: the toolkit's and the bus's parts that are missing are gone
// without (a fixed wait for a settler; no desktop interfaces). Qt Core only.
Desktop loadDesktop(CaptureUse use, const DesktopParts &parts);

// The routes with every part (toolkitDesktopParts(); vo::platform, Qt Gui and Qt D-Bus). Call
// after the QGuiApplication exists (the settler follows the toolkit's platform).
Desktop loadDesktop(CaptureUse use = CaptureUse::Repeated);

} // namespace platform
