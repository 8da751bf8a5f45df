#pragma once
// BmpHeader: the bytes in front of a Windows bitmap's pixels for a given PixelLayout: the
// 14-byte file header, a 40-byte BITMAPINFOHEADER for bottom-up rows, then either the 256-entry
// palette (8 bits per pixel) or the three BI_BITFIELDS channel masks (16 and 32 bits per pixel).
// Bit fields rather than BI_RGB for 32 bits: the fourth byte of each pixel is the screen's
// padding, which some readers would otherwise take for alpha.

#include "PixelLayout.h"

#include <QByteArray>
#include <cstdint>

namespace imaging {

struct BmpHeader
{
    QByteArray bytes;         // everything before the first pixel row; empty if too large
    std::size_t rowBytes = 0; // bytes per stored row, padded to 4
    std::uint64_t fileSize = 0;

    static BmpHeader build(const PixelLayout &layout, const QList<QRgb> &palette);
};

} // namespace imaging
