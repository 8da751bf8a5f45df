#pragma once
// The X11 settler: watches the DAMAGE reports of the root window (which cover every window
// below it, and a compositor's output) on a connection of its own. After the unmap, the area
// the window covered counts as repainted once damage reports have covered all of it: the
// server's painting of exposed backgrounds, the repaints of the windows that were below, or
// a compositor's new frame without the window.

#include "ScreenSettler.h"

#include <QRegion>
#include <memory>

struct xcb_connection_t;

namespace platform {

class X11ScreenSettler : public ScreenSettler
{
public:
    // nullptr when the display cannot be reached or has no DAMAGE extension.
    static std::unique_ptr<X11ScreenSettler> create();
    ~X11ScreenSettler() override;

    void prepare(const QWindow &window) override;
    void waitUntilRepainted() override;

    // The area still waiting for a repaint, in screen pixels (empty once settled).
    QRegion pending() const { return m_pending; }

private:
    struct Connection;
    explicit X11ScreenSettler(std::unique_ptr<Connection> connection);
    // Reads every event that has arrived; damage reports shrink the pending area.
    void takeEvents();

    std::unique_ptr<Connection> m_connection;
    QRegion m_pending;
};

} // namespace platform
