#include "X11Connection.h"

#include "ShmSegment.h"
#include "XcbReply.h"

#include <bit>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace platform {

std::shared_ptr<X11Connection> X11Connection::open(const char *displayName)
{
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(displayName, &screenNumber);
    if (!connection)
        return nullptr;
    std::shared_ptr<X11Connection> result(new X11Connection);
    result->m_connection = connection;
    if (xcb_connection_has_error(connection))
        return nullptr;
    result->describeScreen(screenNumber);
    if (result->m_root == 0)
        return nullptr;
    result->probeShm();
    result->probeRandr();
    return result;
}

X11Connection::~X11Connection()
{
    m_pool.clear(); // its segment detaches through the connection
    xcb_disconnect(m_connection);
}

bool X11Connection::hasError() const
{
    return xcb_connection_has_error(m_connection) != 0;
}

void X11Connection::roundTrip() const
{
    platform::roundTrip(m_connection);
}

void X11Connection::describeScreen(int screenNumber)
{
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && it.rem > 0; ++i)
        xcb_screen_next(&it);
    if (it.rem <= 0)
        return;
    const xcb_screen_t *screen = it.data;
    m_root = screen->root;
    m_rootWidth = screen->width_in_pixels;
    m_rootHeight = screen->height_in_pixels;
    m_colormap = screen->default_colormap;

    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem > 0; xcb_format_next(&f)) {
        if (f.data->depth == screen->root_depth) {
            m_bitsPerPixel = f.data->bits_per_pixel;
            m_scanlinePad = f.data->scanline_pad;
        }
    }
    const xcb_visualtype_t *visual = nullptr;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem > 0 && !visual;
         xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem > 0; xcb_visualtype_next(&v)) {
            if (v.data->visual_id == screen->root_visual) {
                visual = v.data;
                break;
            }
        }
    }
    if (!visual)
        return;
    m_redMask = visual->red_mask;
    m_greenMask = visual->green_mask;
    m_blueMask = visual->blue_mask;
    const bool littleEndian = std::endian::native == std::endian::little &&
                              setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    switch (visual->_class) {
    case XCB_VISUAL_CLASS_STATIC_GRAY:
    case XCB_VISUAL_CLASS_GRAY_SCALE:
    case XCB_VISUAL_CLASS_STATIC_COLOR:
    case XCB_VISUAL_CLASS_PSEUDO_COLOR:
        // Only a 256-entry colormap is copied, as the palette of the picture.
        m_palette = true;
        m_supported = m_bitsPerPixel == 8 && visual->colormap_entries == 256;
        break;
    case XCB_VISUAL_CLASS_TRUE_COLOR:
    case XCB_VISUAL_CLASS_DIRECT_COLOR:
        m_supported = (m_bitsPerPixel == 16 || m_bitsPerPixel == 32) && littleEndian;
        break;
    default:
        break;
    }
    if (m_scanlinePad % 8 != 0)
        m_supported = false;
}

void X11Connection::probeShm()
{
    const xcb_query_extension_reply_t *extension =
        xcb_get_extension_data(m_connection, &xcb_shm_id);
    if (!extension || !extension->present)
        return;
    XcbReply<xcb_shm_query_version_reply_t> version(
        xcb_shm_query_version_reply(m_connection, xcb_shm_query_version(m_connection), nullptr));
    if (!version)
        return;
    // The server may still refuse to share memory, e.g. with a client on another machine.
    // Passed descriptors (version 1.2) first: their segments cost fewer page faults.
    const bool passesFds =
        version->major_version > 1 || (version->major_version == 1 && version->minor_version >= 2);
    if (passesFds && ShmSegment::create(m_connection, 4096, ShmSegment::Kind::PassedFd)) {
        m_shm = true;
        m_shmKind = ShmSegment::Kind::PassedFd;
        return;
    }
    m_shm = ShmSegment::create(m_connection, 4096, ShmSegment::Kind::SystemV) != nullptr;
    m_shmKind = ShmSegment::Kind::SystemV;
}

void X11Connection::probeRandr()
{
    const xcb_query_extension_reply_t *extension =
        xcb_get_extension_data(m_connection, &xcb_randr_id);
    if (!extension || !extension->present)
        return;
    XcbReply<xcb_randr_query_version_reply_t> version(xcb_randr_query_version_reply(
        m_connection, xcb_randr_query_version(m_connection, 1, 6), nullptr));
    if (version && version->major_version == 1)
        m_randrMinor = static_cast<int>(version->minor_version);
}

} // namespace platform
