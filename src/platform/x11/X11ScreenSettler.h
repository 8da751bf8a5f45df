#pragma once
// The X11 settler: watches, on a connection of its own and only between prepare() and the end
// of the wait, the DAMAGE reports of the root window (which cover every window below it, and a
// compositor's output) and the root's children going away.
//
// Without a compositing manager, the area the window covered counts as repainted once damage
// reports have covered all of it: the server's painting of exposed backgrounds and the repaints
// of the windows that were below. The wait is bounded by limit().
//
// With one (_NET_WM_CM_S<screen> has an owner), what the compositor drew before the window
// manager took the window off the screen may still show it, and a hide animation may follow.
// So nothing counts until the window's frame (or the window itself, when it has no frame) is
// unmapped or destroyed; after that the area must stay unchanged for two frame periods: no
// damage report that changes what the area reads back. The wait is bounded by
// compositedLimit(). A window shown again just before (the next capture of a queue) is first
// waited for until the compositor has drawn it. When no window manager places the window (a
// compositor alone), it is first moved off the screen, so that a fade-out (picom's) happens where
// nobody sees it; it is put back just before it is shown again.

#include "ScreenSettler.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QRegion>
#include <memory>

namespace platform {

class X11ScreenSettler : public ScreenSettler
{
public:
    // nullptr when the display cannot be reached or has no DAMAGE extension.
    static std::unique_ptr<X11ScreenSettler> create();
    ~X11ScreenSettler() override;

    void prepare(const QWindow &window) override;
    void waitUntilRepainted() override;

    // The bound of the wait under a compositor (default 5 s). It is reached only when the
    // compositor is starved: at load 10 on two cores xfwm4 took over 1 s to draw the screen
    // without the window, and a capture then would have shown it.
    std::chrono::milliseconds compositedLimit() const { return m_compositedLimit; }
    void setCompositedLimit(std::chrono::milliseconds limit) { m_compositedLimit = limit; }

    // The area still waiting for a repaint, in screen pixels (empty once settled).
    QRegion pending() const { return m_pending; }

private:
    struct Connection;
    class PlaceKeeper;
    explicit X11ScreenSettler(std::unique_ptr<Connection> connection);
    // Reads every event that has arrived: damage reports shrink the pending area or, under a
    // compositor, mark the area as possibly changed; the unmap of the watched window ends the
    // time in which nothing counts.
    void takeEvents();
    void waitForRepaints();
    // MovedAway: until the compositor has drawn the area anew (at most four frame periods).
    // WindowDrawn: until the area differs from what it showed when the window last went, and
    // has stayed unchanged for two frame periods, or compositedLimit().
    // WindowGone: until the area has settled as the class comment says, or compositedLimit().
    enum Stage { MovedAway, WindowDrawn, WindowGone };
    void waitForCompositor(Stage stage);

    std::unique_ptr<Connection> m_connection;
    std::unique_ptr<PlaceKeeper> m_placeKeeper;
    std::chrono::milliseconds m_compositedLimit{5000};
    QRegion m_pending;

    // Under a compositor: the window below the root that goes (the frame, or the window itself)
    // and the area it covered; whether it has gone; whether damage reached the area since the
    // last read-back; what the area showed with the window still there.
    bool m_composited = false;
    quint32 m_top = 0;
    QRect m_covered;
    bool m_gone = false;
    bool m_damaged = false;
    QByteArray m_shown;
    QByteArray m_read; // what the area showed at the last read-back
    QElapsedTimer m_clock;
    qint64 m_changedAt = 0; // on m_clock, the last time the area read back differently
    // What the area showed once the window had gone at the last settled wait, and the area.
    QRect m_lastCovered;
    QByteArray m_lastWithout;
};

} // namespace platform
