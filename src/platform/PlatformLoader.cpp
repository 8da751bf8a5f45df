#include "PlatformLoader.h"

#include "ExtImageCopyCapture.h"
#include "FixedScreenSettler.h"
#include "NullCaptureBackend.h"
#include "WaylandCaptureBackend.h"
#include "WaylandConnection.h"
#include "WlrScreencopy.h"
#include "X11CaptureBackend.h"
#include "X11Connection.h"
#include "XwaylandCheck.h"

#include <QByteArray>
#include <QtGlobal>

Q_LOGGING_CATEGORY(lcPlatform, "vo.platform", QtInfoMsg)

namespace platform {

namespace {

const auto NoWaylandRoute = QStringLiteral("this desktop does not let applications capture it");

bool isWaylandSession()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qgetenv("XDG_SESSION_TYPE").trimmed().toLower() == "wayland";
}

// The settler that goes with what the toolkit runs on, for the X11 backend or for none.
std::unique_ptr<ScreenSettler> toolkitSettler(const DesktopParts &parts)
{
    if (auto settler = parts.toolkitSettler ? parts.toolkitSettler() : nullptr)
        return settler;
    if (!parts.toolkitSettler)
        qCDebug(lcPlatform) << "settler: fixed wait, without the toolkit";
    return std::make_unique<FixedScreenSettler>();
}

void useNone(Desktop &desktop, const DesktopParts &parts, const QString &reason)
{
    qCDebug(lcPlatform) << "capture: none," << reason;
    desktop.capture = std::make_unique<NullCaptureBackend>(reason);
    desktop.settler = toolkitSettler(parts);
}

enum class WaylandProtocol { Preferred, ImageCopyCapture, Screencopy };

// The Wayland capture on the compositor's socket: ext-image-copy-capture where the compositor
// offers it (unless only screencopy is asked for), else wlroots screencopy; false when the
// compositor cannot be reached or offers neither.
bool useWaylandCapture(Desktop &desktop, CaptureUse use, const DesktopParts &parts, const char *why,
                       WaylandProtocol protocol = WaylandProtocol::Preferred)
{
    auto connection = WaylandConnection::open();
    if (!connection) {
        qCDebug(lcPlatform) << "Wayland capture: no Wayland compositor answers";
        return false;
    }
    std::shared_ptr<OutputCapture> capture;
    if (protocol != WaylandProtocol::Screencopy)
        capture = ExtImageCopyCapture::create(connection);
    if (!capture && protocol != WaylandProtocol::ImageCopyCapture)
        capture = WlrScreencopy::create(connection);
    if (!capture) {
        qCDebug(lcPlatform) << "Wayland capture: the compositor offers"
                            << (connection->shm() ? "neither ext-image-copy-capture nor "
                                                    "zwlr_screencopy_manager_v1"
                                                  : "no wl_shm");
        return false;
    }
    qCDebug(lcPlatform).nospace() << "capture: " << capture->protocolName() << " (" << why << "), "
                                  << connection->outputs().size() << " output(s), the primary one "
                                  << (connection->primaryOutput()
                                          ? connection->primaryOutput()->name
                                          : QStringLiteral("missing"));
    desktop.capture = std::make_unique<WaylandCaptureBackend>(capture, use == CaptureUse::Repeated,
                                                              parts.roundTripToolkitDisplay);
    if (parts.outputSettler) {
        qCDebug(lcPlatform) << "settler: the captured output's frames";
        desktop.settler = parts.outputSettler(capture);
    } else {
        desktop.settler = toolkitSettler(parts);
    }
    return true;
}

void useX11(Desktop &desktop, CaptureUse use, const DesktopParts &parts,
            std::shared_ptr<X11Connection> connection, const char *why)
{
    qCDebug(lcPlatform) << "capture: X11" << why;
    X11CaptureBackend::Options options;
    options.prepareSegment = use == CaptureUse::Repeated;
    options.toolkitSync = parts.roundTripToolkitDisplay;
    desktop.capture = std::make_unique<X11CaptureBackend>(std::move(connection), options);
    desktop.settler = toolkitSettler(parts);
}

// The desktops' own interfaces (KWin's, the portal), the routes of desktops without a Wayland
// capture protocol; false when the session bus offers neither.
bool useDesktopInterfaces(Desktop &desktop, const DesktopParts &parts)
{
    auto backend = parts.busBackend ? parts.busBackend(BusRoute::Offered) : nullptr;
    if (!backend)
        return false;
    desktop.capture = std::move(backend);
    desktop.settler = toolkitSettler(parts);
    return true;
}

// A desktop interface asked for by VO_CAPTURE_BACKEND.
void useBusRoute(Desktop &desktop, const DesktopParts &parts, BusRoute route)
{
    auto backend = parts.busBackend ? parts.busBackend(route) : nullptr;
    if (!backend) {
        useNone(desktop, parts, QStringLiteral("the desktop's interfaces cannot be reached"));
        return;
    }
    desktop.capture = std::move(backend);
    desktop.settler = toolkitSettler(parts);
}

} // namespace

Desktop loadDesktop(CaptureUse use, const DesktopParts &parts)
{
    Desktop desktop;
    const QByteArray choice = qgetenv("VO_CAPTURE_BACKEND").trimmed().toLower();
    if (choice == "null") {
        qCDebug(lcPlatform) << "capture: null backend, as VO_CAPTURE_BACKEND asks";
        desktop.capture = std::make_unique<NullCaptureBackend>();
        desktop.settler = toolkitSettler(parts);
        return desktop;
    }
    if (choice == "portal") {
        qCDebug(lcPlatform) << "capture: the desktop portal, as VO_CAPTURE_BACKEND asks";
        useBusRoute(desktop, parts, BusRoute::Portal);
        return desktop;
    }
    if (choice == "kwin") {
        qCDebug(lcPlatform) << "capture: KWin's screenshot interface, as VO_CAPTURE_BACKEND asks";
        useBusRoute(desktop, parts, BusRoute::KWin);
        return desktop;
    }
    if (choice == "x11") {
        // Forced, even on Xwayland.
        if (auto connection = X11Connection::open())
            useX11(desktop, use, parts, std::move(connection), "(VO_CAPTURE_BACKEND)");
        else
            useNone(desktop, parts, QStringLiteral("no X server could be reached"));
        return desktop;
    }
    if (choice == "wlr-screencopy" || choice == "ext-image-copy-capture") {
        if (!useWaylandCapture(desktop, use, parts, "VO_CAPTURE_BACKEND",
                               choice == "wlr-screencopy" ? WaylandProtocol::Screencopy
                                                          : WaylandProtocol::ImageCopyCapture))
            useNone(desktop, parts, NoWaylandRoute);
        return desktop;
    }
    if (!choice.isEmpty()) {
        useNone(desktop, parts,
                QStringLiteral("VO_CAPTURE_BACKEND names no known backend: %1")
                    .arg(QString::fromLocal8Bit(choice)));
        return desktop;
    }

    // A Wayland session, whatever Qt itself runs on: the compositor's own routes only.
    if (isWaylandSession()) {
        qCDebug(lcPlatform) << "session: Wayland (WAYLAND_DISPLAY" << qgetenv("WAYLAND_DISPLAY")
                            << ", XDG_SESSION_TYPE" << qgetenv("XDG_SESSION_TYPE") << ")";
        if (!useWaylandCapture(desktop, use, parts, "the Wayland session's compositor") &&
            !useDesktopInterfaces(desktop, parts))
            useNone(desktop, parts, NoWaylandRoute);
        return desktop;
    }
    auto connection = X11Connection::open();
    if (!connection) {
        useNone(desktop, parts, QStringLiteral("no display server could be reached"));
        return desktop;
    }
    // Xwayland shows only X11 windows: its root window is no picture of the screen. The
    // compositor behind it may still be reached on its default socket.
    if (isXwayland(*connection)) {
        qCDebug(lcPlatform) << "session: the X server is Xwayland, whose root window shows only "
                               "X11 windows";
        if (!useWaylandCapture(desktop, use, parts, "the compositor behind Xwayland") &&
            !useDesktopInterfaces(desktop, parts))
            useNone(desktop, parts, NoWaylandRoute);
        return desktop;
    }
    useX11(desktop, use, parts, std::move(connection), "(the session's display)");
    return desktop;
}

} // namespace platform
