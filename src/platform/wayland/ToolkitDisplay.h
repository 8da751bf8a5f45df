#pragma once
// The GUI toolkit's own connection to the display, as far as the Wayland capture needs it.

namespace platform {

// Returns once the display server has processed every request the toolkit sent before the call
// (e.g. the unmap of a hidden window): a round trip on Qt's wl_display, on an event queue of its
// own so that none of Qt's events are dispatched here, or on Qt's xcb connection when Qt runs on
// X11 (Xwayland). False when Qt's connection cannot be had.
bool roundTripToolkitDisplay();

} // namespace platform
