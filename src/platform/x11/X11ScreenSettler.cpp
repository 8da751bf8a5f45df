#include "X11ScreenSettler.h"

#include "XcbReply.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>

namespace platform {

struct X11ScreenSettler::Connection
{
    xcb_connection_t *xcb = nullptr;
    xcb_window_t root = 0;
    int screenNumber = 0;
    QRect screen;
    xcb_damage_damage_t damage = 0;
    quint8 damageEvent = 0;

    ~Connection()
    {
        if (xcb) {
            if (damage)
                xcb_damage_destroy(xcb, damage);
            xcb_disconnect(xcb);
        }
    }

    bool broken() const { return xcb_connection_has_error(xcb) != 0; }

    // A child of the root window on the screen, its border included; empty on failure.
    QRect outline(xcb_window_t window) const
    {
        auto geometry = own(xcb_get_geometry_reply(xcb, xcb_get_geometry(xcb, window), nullptr));
        if (!geometry)
            return {};
        const int border = geometry->border_width;
        return {geometry->x, geometry->y, geometry->width + 2 * border, geometry->height + 2 * border};
    }

    // A compositing manager owns the _NET_WM_CM_S<screen> selection.
    bool compositorRunning() const
    {
        const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screenNumber);
        auto atom = own(xcb_intern_atom_reply(
            xcb, xcb_intern_atom(xcb, 1, static_cast<uint16_t>(name.size()), name.constData()), nullptr));
        if (!atom || atom->atom == XCB_ATOM_NONE)
            return false;
        auto owner = own(xcb_get_selection_owner_reply(xcb, xcb_get_selection_owner(xcb, atom->atom), nullptr));
        return owner && owner->owner != XCB_NONE;
    }

    // A round trip: every event the server produced before it is in our queue afterwards.
    void roundTrip() const { platform::roundTrip(xcb); }
};

std::unique_ptr<X11ScreenSettler> X11ScreenSettler::create()
{
    auto connection = std::make_unique<Connection>();
    int screenNumber = 0;
    connection->xcb = xcb_connect(nullptr, &screenNumber);
    if (connection->broken())
        return nullptr;
    xcb_connection_t *xcb = connection->xcb;

    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(xcb, &xcb_damage_id);
    if (!extension || !extension->present)
        return nullptr;
    auto version = own(xcb_damage_query_version_reply(
        xcb, xcb_damage_query_version(xcb, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION),
        nullptr));
    if (!version)
        return nullptr;
    connection->damageEvent = static_cast<quint8>(extension->first_event + XCB_DAMAGE_NOTIFY);

    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(xcb));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return nullptr;
    connection->root = screens.data->root;
    connection->screenNumber = screenNumber;
    connection->screen = QRect(0, 0, screens.data->width_in_pixels, screens.data->height_in_pixels);

    connection->damage = xcb_generate_id(xcb);
    xcb_damage_create(xcb, connection->damage, connection->root,
                      XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
    connection->roundTrip();
    if (connection->broken())
        return nullptr;
    return std::unique_ptr<X11ScreenSettler>(new X11ScreenSettler(std::move(connection)));
}

X11ScreenSettler::X11ScreenSettler(std::unique_ptr<Connection> connection)
    : m_connection(std::move(connection))
{
}

X11ScreenSettler::~X11ScreenSettler() = default;

void X11ScreenSettler::prepare(const QWindow &window)
{
    Connection &c = *m_connection;
    m_pending = QRegion();
    if (c.broken() || !window.isVisible())
        return;

    // The window manager's frame, when there is one, is the ancestor just below the root.
    auto top = static_cast<xcb_window_t>(window.winId());
    auto attributes = own(xcb_get_window_attributes_reply(c.xcb, xcb_get_window_attributes(c.xcb, top), nullptr));
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
        return;
    for (;;) {
        auto tree = own(xcb_query_tree_reply(c.xcb, xcb_query_tree(c.xcb, top), nullptr));
        if (!tree)
            return;
        if (tree->parent == c.root || tree->parent == XCB_NONE)
            break;
        top = tree->parent;
    }
    const QRect covered = c.outline(top);
    if (covered.isEmpty())
        return;
    QRegion pending(covered & c.screen);

    // Without a compositor, what lies under windows stacked above this one is not exposed
    // when it goes, and is never repainted: nothing to wait for there. (A compositor repaints
    // the whole area, those windows included.)
    if (!c.compositorRunning()) {
        auto tree = own(xcb_query_tree_reply(c.xcb, xcb_query_tree(c.xcb, c.root), nullptr));
        if (tree) {
            const xcb_window_t *children = xcb_query_tree_children(tree.get());
            const int count = xcb_query_tree_children_length(tree.get());
            const int self = static_cast<int>(std::find(children, children + count, top) - children);
            for (int i = self + 1; i < count; ++i) {
                auto above = own(xcb_get_window_attributes_reply(
                    c.xcb, xcb_get_window_attributes(c.xcb, children[i]), nullptr));
                if (above && above->map_state == XCB_MAP_STATE_VIEWABLE
                    && above->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT)
                    pending -= c.outline(children[i]);
            }
        }
    }

    // Reports of paintings made before the window goes do not count.
    c.roundTrip();
    takeEvents();
    m_pending = pending;
}

void X11ScreenSettler::waitUntilRepainted()
{
    Connection &c = *m_connection;
    c.roundTrip();
    takeEvents();
    if (m_pending.isEmpty() || c.broken())
        return;

    QEventLoop loop;
    QSocketNotifier readable(xcb_get_file_descriptor(c.xcb), QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &loop, [&] {
        takeEvents();
        if (m_pending.isEmpty() || c.broken())
            loop.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(limit());
    loop.exec();
    takeEvents();
}

void X11ScreenSettler::takeEvents()
{
    Connection &c = *m_connection;
    while (xcb_generic_event_t *raw = xcb_poll_for_event(c.xcb)) {
        auto event = own(raw);
        if ((event->response_type & 0x7f) != c.damageEvent)
            continue;
        const auto *damage = reinterpret_cast<const xcb_damage_notify_event_t *>(event.get());
        m_pending -= QRect(damage->area.x, damage->area.y, damage->area.width, damage->area.height);
    }
}

} // namespace platform
