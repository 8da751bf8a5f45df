#include "PlatformLoader.h"

#include "FixedScreenSettler.h"
#include "NullCaptureBackend.h"
#include "PortalCaptureBackend.h"
#include "X11CaptureBackend.h"
#include "X11Connection.h"
#include "X11ScreenSettler.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QtGlobal>

Q_LOGGING_CATEGORY(lcPlatform, "vo.platform", QtInfoMsg)

namespace platform {

namespace {

std::unique_ptr<CaptureBackend> loadCapture(CaptureUse use, QString &reason)
{
    const QByteArray choice = qgetenv("VO_CAPTURE_BACKEND").trimmed().toLower();
    if (choice == "null") {
        qCDebug(lcPlatform) << "capture: null backend, as VO_CAPTURE_BACKEND asks";
        return std::make_unique<NullCaptureBackend>();
    }
    if (choice == "portal") {
        qCDebug(lcPlatform) << "capture: the desktop portal, as VO_CAPTURE_BACKEND asks";
        return std::make_unique<PortalCaptureBackend>();
    }
    if (!choice.isEmpty() && choice != "x11") {
        reason = QStringLiteral("VO_CAPTURE_BACKEND names no known backend: %1")
                     .arg(QString::fromLocal8Bit(choice));
        qCDebug(lcPlatform) << "capture: none," << reason;
        return nullptr;
    }
    // An X11 capture in a Wayland session would see only the XWayland windows: unless asked for
    // explicitly, no backend fits there yet.
    if (choice.isEmpty() && qgetenv("XDG_SESSION_TYPE") == "wayland") {
        reason = QStringLiteral("this Wayland desktop offers no capture route that the program "
                                "knows");
        qCDebug(lcPlatform) << "capture: none," << reason;
        return nullptr;
    }
    auto connection = X11Connection::open();
    if (!connection) {
        reason = QStringLiteral("no X server could be reached");
        qCDebug(lcPlatform) << "capture: none," << reason;
        return nullptr;
    }
    qCDebug(lcPlatform) << "capture: X11" << (choice.isEmpty() ? "(the session's display)"
                                                               : "(VO_CAPTURE_BACKEND)");
    X11CaptureBackend::Options options;
    options.prepareSegment = use == CaptureUse::Repeated;
    return std::make_unique<X11CaptureBackend>(std::move(connection), options);
}

std::unique_ptr<ScreenSettler> loadSettler()
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

} // namespace

Desktop loadDesktop(CaptureUse use)
{
    Desktop desktop;
    desktop.capture = loadCapture(use, desktop.unavailableReason);
    desktop.settler = loadSettler();
    return desktop;
}

} // namespace platform
