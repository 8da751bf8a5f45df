#include "PixelLayout.h"

#include <bit>
#include <cstring>

namespace imaging {

namespace {

// A channel mask decoded into shift and width, scaling any width to 8 bits by bit replication.
struct Channel
{
    int shift = 0;
    int bits = 0;

    explicit Channel(std::uint32_t mask)
    {
        if (mask != 0) {
            shift = std::countr_zero(mask);
            bits = std::popcount(mask);
        }
    }

    std::uint8_t expand(std::uint32_t pixel) const
    {
        if (bits == 0)
            return 0;
        std::uint32_t v = (pixel >> shift) & ((1u << bits) - 1u);
        if (bits >= 8)
            return static_cast<std::uint8_t>(v >> (bits - 8));
        // Repeat the value's bits until 8 are filled: 5-bit 31 -> 255, 6-bit 32 -> 130.
        std::uint32_t result = 0;
        int filled = 0;
        while (filled < 8) {
            result = (result << bits) | v;
            filled += bits;
        }
        return static_cast<std::uint8_t>(result >> (filled - 8));
    }
};

bool isContiguous(std::uint32_t mask)
{
    if (mask == 0)
        return false;
    const std::uint32_t shifted = mask >> std::countr_zero(mask);
    return (shifted & (shifted + 1u)) == 0;
}

} // namespace

bool PixelLayout::isValid() const
{
    if (width <= 0 || height <= 0 || width > 32767 || height > 32767)
        return false;
    if (bitsPerPixel != 8 && bitsPerPixel != 16 && bitsPerPixel != 32)
        return false;
    if (stride < static_cast<std::size_t>(width) * static_cast<std::size_t>(bitsPerPixel / 8))
        return false;
    if (bitsPerPixel == 8)
        return true;
    const std::uint32_t limit = bitsPerPixel == 16 ? 0xffffu : 0xffffffffu;
    for (std::uint32_t mask : {redMask, greenMask, blueMask}) {
        if (!isContiguous(mask) || (mask & ~limit) != 0)
            return false;
    }
    return (redMask & greenMask) == 0 && (redMask & blueMask) == 0 && (greenMask & blueMask) == 0;
}

void PixelLayout::rowToRgb888(const std::uint8_t *row, const QList<QRgb> &palette,
                              std::uint8_t *out) const
{
    if (bitsPerPixel == 8) {
        QRgb table[256] = {};
        const auto entries = std::min<qsizetype>(palette.size(), 256);
        for (qsizetype i = 0; i < entries; ++i)
            table[i] = palette[i];
        for (int x = 0; x < width; ++x) {
            const QRgb c = table[row[x]];
            *out++ = static_cast<std::uint8_t>(qRed(c));
            *out++ = static_cast<std::uint8_t>(qGreen(c));
            *out++ = static_cast<std::uint8_t>(qBlue(c));
        }
        return;
    }
    const Channel red(redMask), green(greenMask), blue(blueMask);
    for (int x = 0; x < width; ++x) {
        std::uint32_t pixel;
        if (bitsPerPixel == 16) {
            std::uint16_t p16;
            std::memcpy(&p16, row + 2 * x, 2);
            pixel = p16;
        } else {
            std::memcpy(&pixel, row + 4 * x, 4);
        }
        *out++ = red.expand(pixel);
        *out++ = green.expand(pixel);
        *out++ = blue.expand(pixel);
    }
}

} // namespace imaging
