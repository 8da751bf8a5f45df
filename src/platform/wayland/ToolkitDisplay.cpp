#include "ToolkitDisplay.h"

#include "XcbReply.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

namespace platform {

bool roundTripToolkitDisplay()
{
    if (!qGuiApp)
        return false;
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
        auto *display = native ? static_cast<wl_display *>(native->nativeResourceForIntegration(
                                     QByteArrayLiteral("wl_display")))
                               : nullptr;
        if (!display)
            return false;
        wl_event_queue *queue = wl_display_create_queue(display);
        const int result = wl_display_roundtrip_queue(display, queue);
        wl_event_queue_destroy(queue);
        return result >= 0;
    }
    // The offscreen platform answers for X11 too, with no connection.
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 && x11->connection()) {
        roundTrip(x11->connection());
        return true;
    }
    return false;
}

} // namespace platform
