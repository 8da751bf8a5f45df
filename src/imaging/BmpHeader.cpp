#include "BmpHeader.h"

namespace imaging {

namespace {
void put16(QByteArray &out, std::uint32_t v)
{
    out.append(static_cast<char>(v & 0xffu));
    out.append(static_cast<char>((v >> 8) & 0xffu));
}
void put32(QByteArray &out, std::uint32_t v)
{
    put16(out, v & 0xffffu);
    put16(out, v >> 16);
}

constexpr std::uint32_t FileHeaderSize = 14;
constexpr std::uint32_t InfoHeaderSize = 40;
constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_BITFIELDS = 3;
} // namespace

BmpHeader BmpHeader::build(const PixelLayout &layout, const QList<QRgb> &palette)
{
    BmpHeader header;
    if (!layout.isValid())
        return header;
    const bool indexed = layout.isIndexed();
    const std::uint32_t extra = indexed ? 256u * 4u : 3u * 4u;
    const std::uint32_t offset = FileHeaderSize + InfoHeaderSize + extra;
    const auto bits = static_cast<std::size_t>(layout.width) * layout.bitsPerPixel;
    header.rowBytes = (bits + 31u) / 32u * 4u;
    const std::uint64_t imageSize = static_cast<std::uint64_t>(header.rowBytes) * layout.height;
    header.fileSize = offset + imageSize;
    if (header.fileSize > 0xffffffffu)
        return header;

    QByteArray &out = header.bytes;
    out.reserve(offset);
    out.append("BM");
    put32(out, static_cast<std::uint32_t>(header.fileSize));
    put32(out, 0); // two reserved words
    put32(out, offset);

    put32(out, InfoHeaderSize);
    put32(out, static_cast<std::uint32_t>(layout.width));
    put32(out, static_cast<std::uint32_t>(layout.height)); // positive: bottom-up rows
    put16(out, 1);                                         // planes
    put16(out, static_cast<std::uint32_t>(layout.bitsPerPixel));
    put32(out, indexed ? BI_RGB : BI_BITFIELDS);
    put32(out, static_cast<std::uint32_t>(imageSize));
    put32(out, 0); // horizontal and vertical resolution: unspecified
    put32(out, 0);
    put32(out, indexed ? 256u : 0u); // colours used
    put32(out, 0);                   // colours important: all

    if (indexed) {
        for (int i = 0; i < 256; ++i) {
            const QRgb c = i < palette.size() ? palette[i] : qRgb(0, 0, 0);
            out.append(static_cast<char>(qBlue(c)));
            out.append(static_cast<char>(qGreen(c)));
            out.append(static_cast<char>(qRed(c)));
            out.append('\0');
        }
    } else {
        put32(out, layout.redMask);
        put32(out, layout.greenMask);
        put32(out, layout.blueMask);
    }
    return header;
}

} // namespace imaging
