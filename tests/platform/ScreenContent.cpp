#include "ScreenContent.h"

#include "X11Connection.h"
#include "XcbReply.h"

#include <QByteArray>
#include <algorithm>
#include <bit>
#include <cstring>
#include <sys/uio.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

namespace testimaging {

namespace {

// A triangle wave 0..255..0 with a period of 510.
int wave(int v)
{
    const int t = v % 510;
    return t < 256 ? t : 509 - t;
}

// Smooth colours with a little fine detail.
QRgb sampleColour(int x, int y, int offset)
{
    const int detail = ((x * 7 + y * 13) % 5) - 2;
    return qRgb(qBound(0, wave(2 * (x + offset)) + detail, 255),
                qBound(0, wave(2 * y + offset) - detail, 255), wave(x + y + offset));
}

// Index into testPalette(): a smooth triangle wave, so neighbouring pixels get close colours.
int sampleIndex(int x, int y, int offset)
{
    return wave(x + y + offset);
}

// An 8-bit channel value placed in a channel mask of 5 to 10 bits.
std::uint32_t pack(int value, std::uint32_t mask)
{
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    const auto v = static_cast<std::uint32_t>(value);
    return ((bits >= 8 ? v << (bits - 8) : v >> (8 - bits)) << shift) & mask;
}

// A channel of 5 to 10 bits as 8 bits; shorter channels repeat their top bits below.
int expand(std::uint32_t pixel, std::uint32_t mask)
{
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    const std::uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8)
        return static_cast<int>(v >> (bits - 8));
    return static_cast<int>((v << (8 - bits)) | (v >> (2 * bits - 8)));
}

} // namespace

QList<QRgb> testPalette()
{
    QList<QRgb> palette;
    for (int i = 0; i < 256; ++i)
        palette.append(qRgb(i, 255 - i, i / 2 + 40));
    return palette;
}

ScreenPattern makePattern(const platform::X11Connection &screen, int width, int height, int offset)
{
    ScreenPattern pattern;
    pattern.width = width;
    pattern.height = height;
    const int bpp = screen.bitsPerPixel();
    const auto pad = static_cast<std::size_t>(screen.scanlinePad());
    pattern.stride =
        (static_cast<std::size_t>(width) * static_cast<std::size_t>(bpp) + pad - 1) / pad * pad / 8;
    pattern.pixels = QByteArray(static_cast<qsizetype>(pattern.stride) * height, '\0');
    pattern.colours = QImage(width, height, QImage::Format_RGB32);
    const QList<QRgb> palette = testPalette();
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<std::uint8_t *>(pattern.pixels.data()) +
                    static_cast<std::size_t>(y) * pattern.stride;
        auto *shown = reinterpret_cast<QRgb *>(pattern.colours.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if (screen.isPalette()) {
                const int index = sampleIndex(x, y, offset);
                row[x] = static_cast<std::uint8_t>(index);
                shown[x] = palette[index];
                continue;
            }
            const QRgb c = sampleColour(x, y, offset);
            const std::uint32_t pixel = pack(qRed(c), screen.redMask()) |
                                        pack(qGreen(c), screen.greenMask()) |
                                        pack(qBlue(c), screen.blueMask());
            std::memcpy(row + x * (bpp / 8), &pixel, static_cast<std::size_t>(bpp / 8));
            shown[x] = qRgb(expand(pixel, screen.redMask()), expand(pixel, screen.greenMask()),
                            expand(pixel, screen.blueMask()));
        }
    }
    return pattern;
}

void putOnRoot(const platform::X11Connection &screen, const ScreenPattern &pattern, int x, int y)
{
    xcb_connection_t *c = screen.get();
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, screen.root(), 0, nullptr);
    const auto depth = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root_depth;
    const std::size_t maxBytes = static_cast<std::size_t>(xcb_get_maximum_request_length(c)) * 4;
    const int rowsPerRequest =
        static_cast<int>(std::max<std::size_t>(1, (maxBytes - 64) / pattern.stride));
    for (int top = 0; top < pattern.height; top += rowsPerRequest) {
        const int rows = std::min(rowsPerRequest, pattern.height - top);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen.root(), gc,
                      static_cast<std::uint16_t>(pattern.width), static_cast<std::uint16_t>(rows),
                      static_cast<std::int16_t>(x), static_cast<std::int16_t>(y + top), 0, depth,
                      static_cast<std::uint32_t>(pattern.stride * static_cast<std::size_t>(rows)),
                      reinterpret_cast<const std::uint8_t *>(pattern.pixels.constData()) +
                          static_cast<std::size_t>(top) * pattern.stride);
    }
    xcb_free_gc(c, gc);
    screen.roundTrip();
}

void installTestPalette(const platform::X11Connection &screen)
{
    xcb_connection_t *c = screen.get();
    const xcb_screen_t *root = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_colormap_t colormap = xcb_generate_id(c);
    xcb_create_colormap(c, XCB_COLORMAP_ALLOC_ALL, colormap, root->root, root->root_visual);
    std::vector<xcb_coloritem_t> items;
    const QList<QRgb> palette = testPalette();
    for (int i = 0; i < 256; ++i) {
        const QRgb p = palette[i];
        items.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint16_t>(qRed(p) * 257),
                         static_cast<std::uint16_t>(qGreen(p) * 257),
                         static_cast<std::uint16_t>(qBlue(p) * 257),
                         XCB_COLOR_FLAG_RED | XCB_COLOR_FLAG_GREEN | XCB_COLOR_FLAG_BLUE, 0});
    }
    xcb_store_colors(c, colormap, static_cast<std::uint32_t>(items.size()), items.data());
    xcb_install_colormap(c, colormap);
    screen.roundTrip();
}

bool setMonitors(const platform::X11Connection &screen, const std::vector<TestMonitor> &monitors)
{
    xcb_connection_t *c = screen.get();
    platform::XcbReply<xcb_randr_get_monitors_reply_t> current(
        xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, screen.root(), 0), nullptr));
    if (!current)
        return false;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(current.get()); it.rem > 0;
         xcb_randr_monitor_info_next(&it))
        xcb_randr_delete_monitor(c, screen.root(), it.data->name);
    int number = 0;
    for (const TestMonitor &m : monitors) {
        const QByteArray name = "VO-TEST-" + QByteArray::number(++number);
        platform::XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.constData()),
            nullptr));
        if (!atom)
            return false;
        xcb_randr_monitor_info_t info{};
        info.name = atom->atom;
        info.primary = m.primary;
        info.automatic = 0;
        info.nOutput = 0;
        info.x = static_cast<std::int16_t>(m.x);
        info.y = static_cast<std::int16_t>(m.y);
        info.width = static_cast<std::uint16_t>(m.width);
        info.height = static_cast<std::uint16_t>(m.height);
        info.width_in_millimeters = static_cast<std::uint32_t>(m.width / 4);
        info.height_in_millimeters = static_cast<std::uint32_t>(m.height / 4);
        // Sent by hand: libxcb 1.15's generated xcb_randr_set_monitor() aborts on an assertion
        // about the request's length.
        struct
        {
            std::uint8_t major, minor;
            std::uint16_t length;
            xcb_window_t window;
        } header{0, XCB_RANDR_SET_MONITOR, 0, screen.root()};
        iovec parts[4];
        parts[2] = {&header, sizeof header};
        parts[3] = {&info, sizeof info};
        xcb_protocol_request_t request{2, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
        const xcb_void_cookie_t cookie{
            xcb_send_request(c, XCB_REQUEST_CHECKED, parts + 2, &request)};
        platform::XcbReply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
        if (error)
            return false;
    }
    return true;
}

} // namespace testimaging
