#include "CaptureBackendLoader.h"

#include "NullCaptureBackend.h"
#include "X11CaptureBackend.h"
#include "X11Connection.h"

#include <QByteArray>
#include <QtGlobal>

namespace imaging {

std::unique_ptr<CaptureBackend> loadCaptureBackend()
{
    const QByteArray choice = qgetenv("VO_CAPTURE_BACKEND").trimmed().toLower();
    if (choice == "null")
        return std::make_unique<NullCaptureBackend>();
    if (!choice.isEmpty() && choice != "x11")
        return nullptr;
    // An X11 capture in a Wayland session would see only the XWayland windows: unless asked for
    // explicitly, no backend fits there yet.
    if (choice.isEmpty() && qgetenv("XDG_SESSION_TYPE") == "wayland")
        return nullptr;
    auto connection = X11Connection::open();
    if (!connection)
        return nullptr;
    X11CaptureBackend::Options options;
    options.prepareSegment = true;
    return std::make_unique<X11CaptureBackend>(std::move(connection), options);
}

} // namespace imaging
