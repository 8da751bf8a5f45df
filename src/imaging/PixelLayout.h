#pragma once
// PixelLayout: how a Picture's rows are laid out in memory, in the screen's own format.
// Formats: 8 bits per pixel with a 256-entry palette, or 16/32 bits per pixel TrueColor given by
// channel masks (little-endian pixel words). Plain value type; no pixels are owned here.

#include <QList>
#include <QRgb>
#include <cstddef>
#include <cstdint>

namespace imaging {

struct PixelLayout
{
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;   // 8, 16 or 32
    std::size_t stride = 0; // bytes from one row to the next
    std::uint32_t redMask = 0;
    std::uint32_t greenMask = 0;
    std::uint32_t blueMask = 0;

    // 32 bits per pixel with red, green, blue in bytes 2, 1, 0 (the usual X11 and BMP layout).
    static PixelLayout xrgb32(int width, int height, std::size_t stride)
    {
        return {width, height, 32, stride, 0xff0000u, 0xff00u, 0xffu};
    }

    bool isIndexed() const { return bitsPerPixel == 8; }
    // Whether the layout is xrgb32's.
    bool isXrgb32() const
    {
        return bitsPerPixel == 32 && redMask == 0xff0000u && greenMask == 0xff00u &&
               blueMask == 0xffu;
    }
    std::size_t byteCount() const { return stride * static_cast<std::size_t>(height); }

    // A layout the writers and toImage() can handle: sane size, stride and masks.
    bool isValid() const;

    // Converts one row (width pixels) to packed 8-bit R, G, B triplets in out (3 * width bytes).
    // palette is used for indexed layouts; missing entries read as black.
    void rowToRgb888(const std::uint8_t *row, const QList<QRgb> &palette, std::uint8_t *out) const;
};

} // namespace imaging
