#include "X11Pixels.h"

#include "X11Connection.h"

#include <algorithm>
#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace platform {

X11Pixels::X11Pixels(const imaging::PixelLayout &pixelLayout, QList<QRgb> colours)
    : imaging::Picture::Data(pixelLayout, std::move(colours))
{
}

std::shared_ptr<const X11Pixels> X11Pixels::request(std::shared_ptr<X11Connection> connection,
                                                    const Rect &rect, QList<QRgb> palette,
                                                    bool useShm, int bandRows)
{
    imaging::PixelLayout layout;
    layout.width = rect.width;
    layout.height = rect.height;
    layout.bitsPerPixel = connection->bitsPerPixel();
    const auto pad = static_cast<std::size_t>(connection->scanlinePad());
    // The server's own row length for this width (its scanline padding).
    layout.stride =
        (static_cast<std::size_t>(rect.width) * layout.bitsPerPixel + pad - 1) / pad * pad / 8;
    if (!connection->isPalette()) {
        layout.redMask = connection->redMask();
        layout.greenMask = connection->greenMask();
        layout.blueMask = connection->blueMask();
    }
    if (!layout.isValid() || bandRows <= 0)
        return nullptr;

    std::shared_ptr<X11Pixels> pixels(new X11Pixels(layout, std::move(palette)));
    pixels->m_bandRows = bandRows;
    pixels->m_connection = connection;
    xcb_connection_t *c = connection->get();
    if (useShm) {
        pixels->m_segment = connection->segmentPool().take(layout.byteCount());
        if (!pixels->m_segment)
            pixels->m_segment = ShmSegment::create(c, layout.byteCount(), connection->shmKind());
        useShm = pixels->m_segment != nullptr; // else (no shared memory left) plain GetImage
    }
    const int bands = (layout.height + bandRows - 1) / bandRows;
    pixels->m_bands.resize(static_cast<std::size_t>(bands));
    for (int i = 0; i < bands; ++i) {
        const int top = i * bandRows;
        const auto rows = static_cast<std::uint16_t>(std::min(bandRows, layout.height - top));
        const auto x = static_cast<std::int16_t>(rect.x);
        const auto y = static_cast<std::int16_t>(rect.y + top);
        const auto width = static_cast<std::uint16_t>(rect.width);
        Band &band = pixels->m_bands[static_cast<std::size_t>(i)];
        if (useShm) {
            const std::size_t offset = static_cast<std::size_t>(top) * layout.stride;
            band.sequence = xcb_shm_get_image(c, connection->root(), x, y, width, rows, ~0u,
                                              XCB_IMAGE_FORMAT_Z_PIXMAP, pixels->m_segment->id(),
                                              static_cast<std::uint32_t>(offset))
                                .sequence;
            band.rows = pixels->m_segment->bytes() + offset;
        } else {
            band.sequence = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, connection->root(), x, y,
                                          width, rows, ~0u)
                                .sequence;
        }
    }
    xcb_flush(c);
    return pixels;
}

X11Pixels::~X11Pixels()
{
    for (Band &band : m_bands) {
        if (!band.done)
            xcb_discard_reply(m_connection->get(), band.sequence);
    }
    // Requests still pending on the connection come before any later request that reuses the
    // segment, so it can go back to the pool at once.
    if (m_segment && !m_failed && !m_connection->hasError())
        m_connection->segmentPool().giveBack(std::move(m_segment));
}

bool X11Pixels::completeBand(Band &band) const
{
    xcb_connection_t *c = m_connection->get();
    const auto index = static_cast<int>(&band - m_bands.data());
    const int rows = std::min(m_bandRows, layout.height - index * m_bandRows);
    const std::size_t needed = layout.stride * static_cast<std::size_t>(rows);
    xcb_generic_error_t *rawError = nullptr;
    bool ok = false;
    if (m_segment) {
        XcbReply<xcb_shm_get_image_reply_t> reply(
            xcb_shm_get_image_reply(c, xcb_shm_get_image_cookie_t{band.sequence}, &rawError));
        ok = reply && reply->size >= needed;
    } else {
        XcbReply<xcb_get_image_reply_t> reply(
            xcb_get_image_reply(c, xcb_get_image_cookie_t{band.sequence}, &rawError));
        if (reply && static_cast<std::size_t>(xcb_get_image_data_length(reply.get())) >= needed) {
            band.rows = xcb_get_image_data(reply.get());
            band.reply.reset(reply.release());
            ok = true;
        }
    }
    XcbReply<xcb_generic_error_t> error(rawError);
    band.done = true;
    return ok && !error;
}

bool X11Pixels::waitForRows(int rowEnd) const
{
    if (rowEnd <= 0)
        return true;
    const int lastBand = (std::min(rowEnd, layout.height) - 1) / m_bandRows;
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_failed)
            return false;
        if (m_completed > lastBand)
            return true;
        if (m_fetching) {
            m_bandDone.wait(lock);
            continue;
        }
        // This thread collects the next band's reply; others wait for it without the lock.
        m_fetching = true;
        Band &band = m_bands[static_cast<std::size_t>(m_completed)];
        lock.unlock();
        const bool ok = completeBand(band);
        lock.lock();
        m_fetching = false;
        if (ok)
            ++m_completed;
        else
            m_failed = true;
        m_bandDone.notify_all();
    }
}

const std::uint8_t *X11Pixels::scanLine(int y) const
{
    const Band &band = m_bands[static_cast<std::size_t>(y / m_bandRows)];
    return band.rows + static_cast<std::size_t>(y % m_bandRows) * layout.stride;
}

} // namespace platform
