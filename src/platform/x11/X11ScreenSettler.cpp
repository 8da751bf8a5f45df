#include "X11ScreenSettler.h"

#include "XcbReply.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>

namespace platform {

namespace {

// A compositor paints at most once a frame; Xvfb and most screens run at 60 Hz. Two frame
// periods without a change: a frame the compositor had in hand when the window went, or a
// late one, has shown by then.
constexpr qint64 quietNs = 2 * 16'667'000;

} // namespace

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
        if (xcb)
            xcb_disconnect(xcb);
    }

    bool broken() const { return xcb_connection_has_error(xcb) != 0; }

    // A child of the root window on the screen, its border included; empty on failure.
    QRect outline(xcb_window_t window) const
    {
        auto geometry = own(xcb_get_geometry_reply(xcb, xcb_get_geometry(xcb, window), nullptr));
        if (!geometry)
            return {};
        const int border = geometry->border_width;
        return {geometry->x, geometry->y, geometry->width + 2 * border,
                geometry->height + 2 * border};
    }

    // A compositing manager owns the _NET_WM_CM_S<screen> selection.
    bool compositorRunning() const
    {
        const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screenNumber);
        auto atom = own(xcb_intern_atom_reply(
            xcb, xcb_intern_atom(xcb, 1, static_cast<uint16_t>(name.size()), name.constData()),
            nullptr));
        if (!atom || atom->atom == XCB_ATOM_NONE)
            return false;
        auto owner = own(
            xcb_get_selection_owner_reply(xcb, xcb_get_selection_owner(xcb, atom->atom), nullptr));
        return owner && owner->owner != XCB_NONE;
    }

    // A window manager redirects the configuration of the root's children to itself.
    bool windowManagerRunning() const
    {
        auto rootAttributes = own(
            xcb_get_window_attributes_reply(xcb, xcb_get_window_attributes(xcb, root), nullptr));
        return rootAttributes &&
               (rootAttributes->all_event_masks & XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT) != 0;
    }

    // Damage reports and the root's children coming and going reach this connection only while
    // a capture waits: between captures nothing piles up for it at the server.
    void watch(bool on)
    {
        const uint32_t mask = on ? XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY : XCB_EVENT_MASK_NO_EVENT;
        xcb_change_window_attributes(xcb, root, XCB_CW_EVENT_MASK, &mask);
        if (on && !damage) {
            damage = xcb_generate_id(xcb);
            xcb_damage_create(xcb, damage, root, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
        } else if (!on && damage) {
            xcb_damage_destroy(xcb, damage);
            damage = 0;
        }
    }

    // What an area of the screen shows now; empty on failure.
    QByteArray readBack(const QRect &area) const
    {
        auto image = own(xcb_get_image_reply(
            xcb,
            xcb_get_image(xcb, XCB_IMAGE_FORMAT_Z_PIXMAP, root, static_cast<int16_t>(area.x()),
                          static_cast<int16_t>(area.y()), static_cast<uint16_t>(area.width()),
                          static_cast<uint16_t>(area.height()), ~0u),
            nullptr));
        if (!image)
            return {};
        return QByteArray(reinterpret_cast<const char *>(xcb_get_image_data(image.get())),
                          xcb_get_image_data_length(image.get()));
    }

    // A round trip: every event the server produced before it is in our queue afterwards.
    void roundTrip() const { platform::roundTrip(xcb); }
};

// Moves a window that is about to go off the screen, and puts it back just before it is shown
// again (Qt sends the Show event before it maps the window).
class X11ScreenSettler::PlaceKeeper : public QObject
{
public:
    explicit PlaceKeeper(Connection &connection)
        : m_connection(connection)
    {
    }
    ~PlaceKeeper() override { restore(); }

    void moveAway(const QWindow &window, const QRect &place)
    {
        restore();
        m_id = static_cast<xcb_window_t>(window.winId());
        m_window = &window;
        m_place = place;
        const uint32_t away[] = {uint32_t(m_connection.screen.right() + 1),
                                 uint32_t(m_connection.screen.bottom() + 1)};
        xcb_configure_window(m_connection.xcb, m_id, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y,
                             away);
        if (QCoreApplication *application = QCoreApplication::instance())
            application->installEventFilter(this);
    }

    void restore()
    {
        if (!m_id)
            return;
        if (QCoreApplication *application = QCoreApplication::instance())
            application->removeEventFilter(this);
        const uint32_t back[] = {uint32_t(m_place.x()), uint32_t(m_place.y())};
        xcb_configure_window(m_connection.xcb, m_id, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y,
                             back);
        m_connection.roundTrip();
        m_id = 0;
        m_window = nullptr;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched == m_window)
            restore();
        return false;
    }

private:
    Connection &m_connection;
    QPointer<const QWindow> m_window;
    xcb_window_t m_id = 0;
    QRect m_place;
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

    connection->roundTrip();
    if (connection->broken())
        return nullptr;
    return std::unique_ptr<X11ScreenSettler>(new X11ScreenSettler(std::move(connection)));
}

X11ScreenSettler::X11ScreenSettler(std::unique_ptr<Connection> connection)
    : m_connection(std::move(connection))
    , m_placeKeeper(std::make_unique<PlaceKeeper>(*m_connection))
{
}

// The place keeper uses the connection: it goes first.
X11ScreenSettler::~X11ScreenSettler()
{
    m_placeKeeper.reset();
}

void X11ScreenSettler::prepare(const QWindow &window)
{
    Connection &c = *m_connection;
    m_pending = QRegion();
    m_composited = false;
    if (c.broken() || !window.isVisible())
        return;

    // The window manager's frame, when there is one, is the ancestor just below the root.
    const auto client = static_cast<xcb_window_t>(window.winId());
    xcb_window_t top = client;
    auto attributes =
        own(xcb_get_window_attributes_reply(c.xcb, xcb_get_window_attributes(c.xcb, top), nullptr));
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
    const QRect covered = c.outline(top) & c.screen;
    if (covered.isEmpty())
        return;
    QRegion pending(covered);

    m_composited = c.compositorRunning();
    // Reports of paintings made before the window goes do not count.
    c.watch(true);
    c.roundTrip();
    takeEvents();
    if (m_composited) {
        m_top = top;
        m_covered = covered;
        m_gone = false;
        m_shown = c.readBack(covered);
        m_read = m_shown;
        m_clock.start();
        m_changedAt = 0;
        // Shown again a moment ago (the next capture of a queue): until the compositor has
        // drawn the window, the area still shows what it showed without it, and the drawing
        // may come after the window has gone, where it would count as the change to wait for.
        if (covered == m_lastCovered && m_shown == m_lastWithout) {
            waitForCompositor(WindowDrawn);
            m_shown = m_read;
        }
        // Measured under picom with fading: a window moved off the screen first fades out
        // there, unseen, and the area is clear with the compositor's next frame. A window that
        // a window manager manages is the manager's to place.
        if (top == client && (attributes->override_redirect || !c.windowManagerRunning())) {
            m_placeKeeper->moveAway(window, c.outline(top));
            waitForCompositor(MovedAway);
        }
    } else {
        // Without a compositor, what lies under windows stacked above this one is not exposed
        // when it goes, and is never repainted: nothing to wait for there.
        auto tree = own(xcb_query_tree_reply(c.xcb, xcb_query_tree(c.xcb, c.root), nullptr));
        if (tree) {
            const xcb_window_t *children = xcb_query_tree_children(tree.get());
            const int count = xcb_query_tree_children_length(tree.get());
            const int self =
                static_cast<int>(std::find(children, children + count, top) - children);
            for (int i = self + 1; i < count; ++i) {
                auto above = own(xcb_get_window_attributes_reply(
                    c.xcb, xcb_get_window_attributes(c.xcb, children[i]), nullptr));
                if (above && above->map_state == XCB_MAP_STATE_VIEWABLE &&
                    above->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT)
                    pending -= c.outline(children[i]);
            }
        }
    }
    m_pending = pending;
    m_damaged = false;
}

void X11ScreenSettler::waitUntilRepainted()
{
    Connection &c = *m_connection;
    if (!c.broken()) {
        if (m_composited)
            waitForCompositor(WindowGone);
        else
            waitForRepaints();
    }
    c.watch(false);
    c.roundTrip();
    takeEvents();
}

void X11ScreenSettler::waitForRepaints()
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

void X11ScreenSettler::waitForCompositor(Stage stage)
{
    Connection &c = *m_connection;
    c.roundTrip();

    // Damage says that the area may have changed; the read-back says whether it did. A
    // compositor may repaint an unchanged area at every step of a fade. What the area showed
    // while the window was there never counts as settled: the compositor has not drawn yet.
    bool done = false;
    QEventLoop loop;
    QTimer quietEnd;
    quietEnd.setSingleShot(true);
    quietEnd.setTimerType(Qt::PreciseTimer);
    const auto finish = [&] {
        done = true;
        loop.quit();
    };
    const auto look = [&] {
        takeEvents();
        if (c.broken())
            return finish();
        if (stage == WindowGone && !m_gone)
            return;
        const qint64 now = m_clock.nsecsElapsed();
        if (m_damaged || now - m_changedAt >= quietNs) {
            m_damaged = false;
            const QByteArray current = c.readBack(m_covered);
            if (current != m_read) {
                m_read = current;
                m_changedAt = now;
                if (stage == MovedAway)
                    return finish();
            } else if (stage != MovedAway && now - m_changedAt >= quietNs &&
                       current != (stage == WindowGone ? m_shown : m_lastWithout)) {
                if (stage == WindowGone) {
                    m_pending = QRegion();
                    m_lastCovered = m_covered;
                    m_lastWithout = current;
                }
                return finish();
            } else if (now - m_changedAt >= quietNs) {
                m_changedAt = now;
            }
        }
        if (stage != MovedAway)
            quietEnd.start(
                std::chrono::milliseconds((m_changedAt + quietNs - now) / 1'000'000 + 1));
    };
    QSocketNotifier readable(xcb_get_file_descriptor(c.xcb), QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &loop, look);
    QObject::connect(&quietEnd, &QTimer::timeout, &loop, look);
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(stage == MovedAway ? std::chrono::milliseconds(quietNs / 1'000'000 * 2)
                                      : m_compositedLimit);
    look();
    if (!done)
        loop.exec();
    if (!done && stage == WindowGone) // what the area shows now is not known to be without it
        m_lastWithout.clear();
}

void X11ScreenSettler::takeEvents()
{
    Connection &c = *m_connection;
    while (xcb_generic_event_t *raw = xcb_poll_for_event(c.xcb)) {
        auto event = own(raw);
        const quint8 type = event->response_type & 0x7f;
        if (type == c.damageEvent) {
            const auto *damage = reinterpret_cast<const xcb_damage_notify_event_t *>(event.get());
            const QRect area(damage->area.x, damage->area.y, damage->area.width,
                             damage->area.height);
            if (!m_composited)
                m_pending -= area;
            else if (area.intersects(m_covered))
                m_damaged = true;
        } else if (type == XCB_UNMAP_NOTIFY || type == XCB_DESTROY_NOTIFY) {
            // Both start with the window told and the window concerned. Toolkits send a
            // synthetic unmap of their own window to the root (ICCCM's withdrawal); only the
            // server's own report means that the window is off the screen.
            const auto *unmap = reinterpret_cast<const xcb_unmap_notify_event_t *>(event.get());
            const bool synthetic = event->response_type & 0x80;
            if (!synthetic && unmap->event == c.root && unmap->window == m_top)
                m_gone = true;
        }
    }
}

} // namespace platform
