// The parts of the capture routes on Qt Gui and Qt D-Bus: the toolkit's display connection, the
// settlers that watch the program's window leave, and the desktops' interfaces on the session
// bus.
#include "DesktopParts.h"

#include "FixedScreenSettler.h"
#include "KWinCaptureBackend.h"
#include "PlatformLoader.h"
#include "PortalCaptureBackend.h"
#include "ToolkitDisplay.h"
#include "WaylandScreenSettler.h"
#include "X11ScreenSettler.h"

#include <QGuiApplication>

namespace platform {

namespace {

std::unique_ptr<ScreenSettler> settlerOfToolkit()
{
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (auto settler = X11ScreenSettler::create()) {
            qCDebug(lcPlatform) << "settler: X11 damage reports";
            return settler;
        }
        qCDebug(lcPlatform) << "settler: fixed wait, the X server has no DAMAGE extension";
    } else {
        qCDebug(lcPlatform) << "settler: fixed wait on the" << QGuiApplication::platformName()
                            << "platform";
    }
    return std::make_unique<FixedScreenSettler>();
}

// KWin's screenshot interface where the session bus has it (KDE Plasma), with the desktop
// portal behind it for when KWin does not authorise this program; else the portal (GNOME).
std::unique_ptr<CaptureBackend> desktopInterface(BusRoute route)
{
    switch (route) {
    case BusRoute::KWin:
        return std::make_unique<KWinCaptureBackend>(nullptr);
    case BusRoute::Portal:
        return std::make_unique<PortalCaptureBackend>();
    case BusRoute::Offered:
        break;
    }
    if (KWinCaptureBackend::isAvailable()) {
        // The portal is not asked whether it is there (which may start it) until KWin refuses:
        // a call to a missing portal fails with its own message.
        qCDebug(lcPlatform) << "capture: KWin's screenshot interface (no Wayland capture "
                               "protocol); the desktop portal if KWin refuses";
        return std::make_unique<KWinCaptureBackend>(std::make_unique<PortalCaptureBackend>());
    }
    if (PortalCaptureBackend::isAvailable()) {
        qCDebug(lcPlatform) << "capture: the desktop portal (no Wayland capture protocol)";
        return std::make_unique<PortalCaptureBackend>();
    }
    qCDebug(lcPlatform) << "desktop portal: the session bus offers no Screenshot portal";
    return nullptr;
}

} // namespace

DesktopParts toolkitDesktopParts()
{
    DesktopParts parts;
    parts.roundTripToolkitDisplay = &roundTripToolkitDisplay;
    parts.toolkitSettler = &settlerOfToolkit;
    parts.outputSettler = [](std::shared_ptr<OutputCapture> capture) {
        return std::make_unique<WaylandScreenSettler>(std::move(capture));
    };
    parts.busBackend = &desktopInterface;
    return parts;
}

Desktop loadDesktop(CaptureUse use)
{
    return loadDesktop(use, toolkitDesktopParts());
}

} // namespace platform
