#include "X11CaptureBackend.h"

#include "MonitorGeometry.h"
#include "X11Connection.h"
#include "X11Pixels.h"
#include "XcbReply.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <system_error>
#include <xcb/xcb.h>

namespace platform {

namespace {

// The 256 colours of the colormap installed on the screen (the default one if none is listed).
QList<QRgb> readPalette(const X11Connection &connection)
{
    xcb_connection_t *c = connection.get();
    xcb_colormap_t colormap = connection.defaultColormap();
    XcbReply<xcb_list_installed_colormaps_reply_t> installed(xcb_list_installed_colormaps_reply(
        c, xcb_list_installed_colormaps(c, connection.root()), nullptr));
    if (installed && xcb_list_installed_colormaps_cmaps_length(installed.get()) > 0)
        colormap = xcb_list_installed_colormaps_cmaps(installed.get())[0];

    std::array<std::uint32_t, 256> pixels;
    for (std::uint32_t i = 0; i < pixels.size(); ++i)
        pixels[i] = i;
    XcbReply<xcb_query_colors_reply_t> colours(xcb_query_colors_reply(
        c, xcb_query_colors(c, colormap, pixels.size(), pixels.data()), nullptr));
    if (!colours || xcb_query_colors_colors_length(colours.get()) != 256)
        return {};
    QList<QRgb> palette;
    palette.reserve(256);
    const xcb_rgb_t *rgb = xcb_query_colors_colors(colours.get());
    for (int i = 0; i < 256; ++i)
        palette.append(qRgb(rgb[i].red >> 8, rgb[i].green >> 8, rgb[i].blue >> 8));
    return palette;
}

int bandRows(std::size_t bandBytes, std::size_t stride, int height)
{
    const auto rows = static_cast<int>(std::min<std::size_t>(bandBytes / stride, 32767));
    if (rows >= 16)
        return rows / 16 * 16; // whole JPEG MCU rows
    return std::clamp(rows, 1, height);
}

imaging::Picture capturePrimaryScreen(const std::shared_ptr<X11Connection> &connection,
                                      std::size_t bandBytes)
{
    if (!connection->supportedFormat())
        return {};
    xcb_connection_t *c = connection->get();

    // The root's current size (the connection's setup data goes stale when the screen is
    // resized); its reply arrives together with the monitors'.
    const auto geometryCookie = xcb_get_geometry(c, connection->root());
    const std::vector<Monitor> monitors = queryMonitors(*connection);
    XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    if (!geometry)
        return {};
    const ScreenRect screen = primaryScreenRect(geometry->width, geometry->height, monitors);

    QList<QRgb> palette;
    if (connection->isPalette()) {
        palette = readPalette(*connection);
        if (palette.isEmpty())
            return {};
    }

    const auto pad = static_cast<std::size_t>(connection->scanlinePad());
    const auto bits = static_cast<std::size_t>(screen.width) *
                      static_cast<std::size_t>(connection->bitsPerPixel());
    const std::size_t stride = (bits + pad - 1) / pad * pad / 8;
    auto pixels =
        X11Pixels::request(connection, {screen.x, screen.y, screen.width, screen.height},
                           std::move(palette), connection->shmUsable(),
                           bandRows(bandBytes, std::max<std::size_t>(stride, 1), screen.height));
    if (!pixels)
        return {};
    return imaging::Picture(std::move(pixels));
}

// One capture whose pixels are read once and then released: its segment goes to the
// connection's pool with both sides' pages in place. A page's first use by each process is what
// costs (a fault, and under some hypervisors a slower exit): the server writes every page, and
// this process reads one byte of each.
void prepareSegment(const std::shared_ptr<X11Connection> &connection,
                    std::size_t bandBytes) noexcept
try {
    const imaging::Picture picture = capturePrimaryScreen(connection, bandBytes);
    if (!picture.waitForPixels())
        return;
    const auto &data = *picture.data();
    const auto rowBytes = static_cast<std::size_t>(data.layout.width) *
                          static_cast<std::size_t>(data.layout.bitsPerPixel / 8);
    unsigned sum = 0;
    for (int y = 0; y < data.layout.height; ++y) {
        const auto *row = static_cast<const volatile std::uint8_t *>(data.scanLine(y));
        for (std::size_t x = 0; x < rowBytes; x += 4096)
            sum += row[x];
        sum += row[rowBytes - 1];
    }
    static_cast<void>(sum);
} catch (...) {
    // Out of memory: the first capture makes its segment itself, or fails in its own way.
}

} // namespace

X11CaptureBackend::X11CaptureBackend(std::shared_ptr<X11Connection> connection, Options options)
    : m_connection(std::move(connection))
    , m_options(std::move(options))
{
    m_options.bandBytes = std::max<std::size_t>(m_options.bandBytes, 1);
}

X11CaptureBackend::~X11CaptureBackend()
{
    waitUntilPrepared();
}

void X11CaptureBackend::waitUntilPrepared()
{
    if (m_preparation.valid())
        m_preparation.get();
}

void X11CaptureBackend::prepareForCapture()
{
    if (!m_options.prepareSegment)
        return;
    if (m_preparation.valid()) {
        if (m_preparation.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return; // still at work
        m_preparation.get();
    }
    if (!m_connection || m_connection->hasError() || !m_connection->shmUsable() ||
        m_connection->segmentPool().holdsSegment())
        return;
    try {
        m_preparation =
            std::async(std::launch::async, prepareSegment, m_connection, m_options.bandBytes);
    } catch (const std::system_error &) {
        // No thread to be had: the first capture makes its segment itself.
    }
}

void X11CaptureBackend::releasePreparation()
{
    waitUntilPrepared();
    if (m_connection)
        m_connection->segmentPool().clear();
}

bool X11CaptureBackend::holdsPreparedSegment()
{
    waitUntilPrepared();
    return m_connection && m_connection->segmentPool().holdsSegment();
}

bool X11CaptureBackend::ensureConnection()
{
    if (m_connection && !m_connection->hasError())
        return true;
    m_connection = X11Connection::open(
        m_options.displayName.isEmpty() ? nullptr : m_options.displayName.constData());
    return m_connection != nullptr;
}

bool X11CaptureBackend::usesShm() const
{
    return m_connection && m_connection->shmUsable();
}

imaging::Picture X11CaptureBackend::captureScreen()
{
    waitUntilPrepared();
    if (!ensureConnection())
        return {};
    return capturePrimaryScreen(m_connection, m_options.bandBytes);
}

void X11CaptureBackend::sync()
{
    // The toolkit's own connection first: its earlier requests (an unmap of the main window)
    // must have been processed before the screen is read.
    if (m_options.toolkitSync)
        m_options.toolkitSync();
    if (m_connection && !m_connection->hasError())
        m_connection->roundTrip();
}

} // namespace platform
