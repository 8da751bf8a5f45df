#include "X11CaptureBackend.h"

#include "MonitorGeometry.h"
#include "X11Connection.h"
#include "X11Pixels.h"
#include "XcbReply.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <array>
#include <xcb/xcb.h>

namespace imaging {

namespace {

void roundTrip(xcb_connection_t *connection)
{
    XcbReply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

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

} // namespace

X11CaptureBackend::X11CaptureBackend(std::shared_ptr<X11Connection> connection,
                                     QByteArray displayName, std::size_t bandBytes)
    : m_connection(std::move(connection)), m_displayName(std::move(displayName)),
      m_bandBytes(std::max<std::size_t>(bandBytes, 1))
{
}

X11CaptureBackend::~X11CaptureBackend() = default;

bool X11CaptureBackend::ensureConnection()
{
    if (m_connection && !m_connection->hasError())
        return true;
    m_connection = X11Connection::open(m_displayName.isEmpty() ? nullptr
                                                               : m_displayName.constData());
    return m_connection != nullptr;
}

bool X11CaptureBackend::usesShm() const
{
    return m_connection && m_connection->shmUsable();
}

int X11CaptureBackend::bandRows(std::size_t stride, int height) const
{
    const auto rows = static_cast<int>(std::min<std::size_t>(m_bandBytes / stride, 32767));
    if (rows >= 16)
        return rows / 16 * 16; // whole JPEG MCU rows
    return std::clamp(rows, 1, height);
}

Picture X11CaptureBackend::captureScreen()
{
    if (!ensureConnection() || !m_connection->supportedFormat())
        return {};
    xcb_connection_t *c = m_connection->get();

    // The root's current size (the connection's setup data goes stale when the screen is
    // resized); its reply arrives together with the monitors'.
    const auto geometryCookie = xcb_get_geometry(c, m_connection->root());
    const std::vector<Monitor> monitors = queryMonitors(*m_connection);
    XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    if (!geometry)
        return {};
    const ScreenRect screen = primaryScreenRect(geometry->width, geometry->height, monitors);

    QList<QRgb> palette;
    if (m_connection->isPalette()) {
        palette = readPalette(*m_connection);
        if (palette.isEmpty())
            return {};
    }

    const std::size_t stride =
        (static_cast<std::size_t>(screen.width) * m_connection->bitsPerPixel()
         + m_connection->scanlinePad() - 1)
        / m_connection->scanlinePad() * m_connection->scanlinePad() / 8;
    auto pixels = X11Pixels::request(m_connection, {screen.x, screen.y, screen.width, screen.height},
                                     std::move(palette), m_connection->shmUsable(),
                                     bandRows(std::max<std::size_t>(stride, 1), screen.height));
    if (!pixels)
        return {};
    return Picture(std::move(pixels));
}

void X11CaptureBackend::sync()
{
    // The toolkit's own connection first: its earlier requests (an unmap of the main window)
    // must have been processed before the screen is read.
    if (qGuiApp) {
        if (auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
            roundTrip(x11->connection());
    }
    if (m_connection && !m_connection->hasError())
        m_connection->roundTrip();
}

} // namespace imaging
