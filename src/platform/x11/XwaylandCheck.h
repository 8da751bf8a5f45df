#pragma once
// Tells an Xwayland server from a real X server. Xwayland shows only the windows of X11 clients:
// a capture of its root window is black wherever native Wayland windows are. Recognised by its
// XWAYLAND extension (Xwayland 23.1 on) or by RandR outputs named XWAYLAND<n> (every version).

namespace platform {

class X11Connection;

bool isXwayland(const X11Connection &connection);

} // namespace platform
