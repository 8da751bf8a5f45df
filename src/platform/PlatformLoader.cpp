#include "PlatformLoader.h"

#include "FixedScreenSettler.h"
#include "KWinCaptureBackend.h"
#include "NullCaptureBackend.h"
#include "PortalCaptureBackend.h"
#include "WaylandConnection.h"
#include "WaylandScreenSettler.h"
#include "WlrScreencopy.h"
#include "WlrScreencopyBackend.h"
#include "X11CaptureBackend.h"
#include "X11Connection.h"
#include "X11ScreenSettler.h"
#include "XwaylandCheck.h"

#include <QByteArray>
#include <QGuiApplication>
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

// The settler that goes with what Qt runs on, for the X11 backend or for none.
std::unique_ptr<ScreenSettler> toolkitSettler()
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

void useNone(Desktop &desktop, const QString &reason)
{
    qCDebug(lcPlatform) << "capture: none," << reason;
    desktop.capture = std::make_unique<NullCaptureBackend>(reason);
    desktop.settler = toolkitSettler();
}

// The wlroots screencopy route on the compositor's socket; false when the compositor cannot be
// reached or does not offer it.
bool useScreencopy(Desktop &desktop, CaptureUse use, const char *why)
{
    auto connection = WaylandConnection::open();
    if (!connection) {
        qCDebug(lcPlatform) << "wlroots screencopy: no Wayland compositor answers";
        return false;
    }
    auto screencopy = WlrScreencopy::create(connection);
    if (!screencopy) {
        qCDebug(lcPlatform) << "wlroots screencopy: the compositor does not offer"
                            << (connection->screencopyManager() ? "wl_shm"
                                                                : "zwlr_screencopy_manager_v1");
        return false;
    }
    qCDebug(lcPlatform).nospace() << "capture: wlroots screencopy version "
                                  << connection->screencopyVersion() << " (" << why << "), "
                                  << connection->outputs().size() << " output(s)";
    qCDebug(lcPlatform) << "settler: screencopy frames";
    desktop.capture =
        std::make_unique<WlrScreencopyBackend>(screencopy, use == CaptureUse::Repeated);
    desktop.settler = std::make_unique<WaylandScreenSettler>(screencopy);
    return true;
}

void useX11(Desktop &desktop, CaptureUse use, std::shared_ptr<X11Connection> connection,
            const char *why)
{
    qCDebug(lcPlatform) << "capture: X11" << why;
    X11CaptureBackend::Options options;
    options.prepareSegment = use == CaptureUse::Repeated;
    desktop.capture = std::make_unique<X11CaptureBackend>(std::move(connection), options);
    desktop.settler = toolkitSettler();
}

// The desktops' own interfaces, the routes of desktops without wlroots screencopy: KWin's
// screenshot interface where the session bus has it (KDE Plasma), with the desktop portal
// behind it for when KWin does not authorise this program; else the portal (GNOME). False when
// the session bus offers neither.
bool useDesktopInterfaces(Desktop &desktop)
{
    if (KWinCaptureBackend::isAvailable()) {
        // The portal is not asked whether it is there (which may start it) until KWin refuses:
        // a call to a missing portal fails with its own message.
        qCDebug(lcPlatform) << "capture: KWin's screenshot interface (no wlroots screencopy); "
                               "the desktop portal if KWin refuses";
        desktop.capture =
            std::make_unique<KWinCaptureBackend>(std::make_unique<PortalCaptureBackend>());
    } else if (PortalCaptureBackend::isAvailable()) {
        qCDebug(lcPlatform) << "capture: the desktop portal (no wlroots screencopy)";
        desktop.capture = std::make_unique<PortalCaptureBackend>();
    } else {
        qCDebug(lcPlatform) << "desktop portal: the session bus offers no Screenshot portal";
        return false;
    }
    desktop.settler = toolkitSettler();
    return true;
}

} // namespace

Desktop loadDesktop(CaptureUse use)
{
    Desktop desktop;
    const QByteArray choice = qgetenv("VO_CAPTURE_BACKEND").trimmed().toLower();
    if (choice == "null") {
        qCDebug(lcPlatform) << "capture: null backend, as VO_CAPTURE_BACKEND asks";
        desktop.capture = std::make_unique<NullCaptureBackend>();
        desktop.settler = toolkitSettler();
        return desktop;
    }
    if (choice == "portal") {
        qCDebug(lcPlatform) << "capture: the desktop portal, as VO_CAPTURE_BACKEND asks";
        desktop.capture = std::make_unique<PortalCaptureBackend>();
        desktop.settler = toolkitSettler();
        return desktop;
    }
    if (choice == "kwin") {
        qCDebug(lcPlatform) << "capture: KWin's screenshot interface, as VO_CAPTURE_BACKEND asks";
        desktop.capture = std::make_unique<KWinCaptureBackend>(nullptr);
        desktop.settler = toolkitSettler();
        return desktop;
    }
    if (choice == "x11") {
        // Forced, even on Xwayland.
        if (auto connection = X11Connection::open())
            useX11(desktop, use, std::move(connection), "(VO_CAPTURE_BACKEND)");
        else
            useNone(desktop, QStringLiteral("no X server could be reached"));
        return desktop;
    }
    if (choice == "wlr-screencopy") {
        if (!useScreencopy(desktop, use, "VO_CAPTURE_BACKEND"))
            useNone(desktop, NoWaylandRoute);
        return desktop;
    }
    if (!choice.isEmpty()) {
        useNone(desktop, QStringLiteral("VO_CAPTURE_BACKEND names no known backend: %1")
                             .arg(QString::fromLocal8Bit(choice)));
        return desktop;
    }

    // A Wayland session, whatever Qt itself runs on: the compositor's own routes only.
    if (isWaylandSession()) {
        qCDebug(lcPlatform) << "session: Wayland (WAYLAND_DISPLAY" << qgetenv("WAYLAND_DISPLAY")
                            << ", XDG_SESSION_TYPE" << qgetenv("XDG_SESSION_TYPE") << ")";
        if (!useScreencopy(desktop, use, "the Wayland session's compositor") &&
            !useDesktopInterfaces(desktop))
            useNone(desktop, NoWaylandRoute);
        return desktop;
    }
    auto connection = X11Connection::open();
    if (!connection) {
        useNone(desktop, QStringLiteral("no display server could be reached"));
        return desktop;
    }
    // Xwayland shows only X11 windows: its root window is no picture of the screen. The
    // compositor behind it may still be reached on its default socket.
    if (isXwayland(*connection)) {
        qCDebug(lcPlatform) << "session: the X server is Xwayland, whose root window shows only "
                               "X11 windows";
        if (!useScreencopy(desktop, use, "the compositor behind Xwayland") &&
            !useDesktopInterfaces(desktop))
            useNone(desktop, NoWaylandRoute);
        return desktop;
    }
    useX11(desktop, use, std::move(connection), "(the session's display)");
    return desktop;
}

} // namespace platform
