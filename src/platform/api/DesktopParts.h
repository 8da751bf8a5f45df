#pragma once
// What the capture routes use beyond Qt Core, given to the loader by its caller: the GUI
// toolkit's own display connection and the settlers that watch the program's window leave the
// screen (Qt Gui), and the desktops' interfaces over the session bus, KWin's screenshot interface
// and the desktop portal (Qt D-Bus). toolkitDesktopParts() gives all of them; a capture from the
// command line that starts without the GUI has no window to watch, goes without the toolkit's
// parts, and fetches a bus route from the program's GUI part only when the session needs one.

#include "CaptureBackend.h"
#include "ScreenSettler.h"

#include <functional>
#include <memory>

namespace platform {

class OutputCapture;

// The desktops' interfaces: KWin's with the portal behind it for when KWin refuses, where the
// session bus has KWin's (else the portal, where the bus has it); or one of them, asked for by
// VO_CAPTURE_BACKEND, without asking the bus whether it is there.
enum class BusRoute { Offered, KWin, Portal };

struct DesktopParts
{
    // Returns once the display server has processed the toolkit's earlier requests (the unmap
    // of a hidden window); false when the toolkit has no connection. Null: no toolkit runs.
    bool (*roundTripToolkitDisplay)() = nullptr;
    // The settler that goes with what the toolkit runs on. Null: a fixed wait.
    std::function<std::unique_ptr<ScreenSettler>()> toolkitSettler;
    // The settler that watches the frames of the Wayland output a capture copies. Null: the
    // toolkit's settler.
    std::function<std::unique_ptr<ScreenSettler>(std::shared_ptr<OutputCapture>)> outputSettler;
    // A capture backend on a desktop's interface; null when the route is not offered. Null: the
    // session bus is not asked.
    std::function<std::unique_ptr<CaptureBackend>(BusRoute)> busBackend;
};

// Everything above, on Qt Gui and Qt D-Bus (vo::platform). Call after the QGuiApplication
// exists.
DesktopParts toolkitDesktopParts();

} // namespace platform
