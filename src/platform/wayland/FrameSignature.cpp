#include "FrameSignature.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

// FNV-1a over 8-byte words: fast, and any change of a word changes the hash with near certainty.
constexpr std::uint64_t Prime = 0x100000001b3ull;
constexpr std::uint64_t Offset = 0xcbf29ce484222325ull;

std::uint64_t mix(std::uint64_t hash, const std::uint8_t *bytes, std::size_t count)
{
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        hash = (hash ^ word) * Prime;
    }
    if (i < count) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes + i, count - i);
        hash = (hash ^ word) * Prime;
    }
    return hash;
}

} // namespace

FrameSignature::FrameSignature(const std::uint8_t *bytes, const imaging::PixelLayout &layout)
    : m_width(layout.width)
    , m_height(layout.height)
    , m_columns((layout.width + TileSize - 1) / TileSize)
{
    const int rows = (layout.height + TileSize - 1) / TileSize;
    m_tiles.assign(static_cast<std::size_t>(m_columns) * static_cast<std::size_t>(rows), Offset);
    const auto pixelBytes = static_cast<std::size_t>(layout.bitsPerPixel / 8);
    const std::size_t tileBytes = pixelBytes * TileSize;
    const std::size_t rowBytes = pixelBytes * static_cast<std::size_t>(layout.width);
    for (int y = 0; y < layout.height; ++y) {
        const std::uint8_t *row = bytes + static_cast<std::size_t>(y) * layout.stride;
        std::uint64_t *tiles = m_tiles.data() + static_cast<std::size_t>(y / TileSize * m_columns);
        for (int column = 0; column < m_columns; ++column) {
            const std::size_t start = static_cast<std::size_t>(column) * tileBytes;
            tiles[column] = mix(tiles[column], row + start, std::min(tileBytes, rowBytes - start));
        }
    }
}

QRect FrameSignature::changedArea(const FrameSignature &other) const
{
    if (m_width != other.m_width || m_height != other.m_height)
        return QRect(0, 0, std::max(m_width, other.m_width), std::max(m_height, other.m_height));
    QRect changed;
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        if (m_tiles[i] == other.m_tiles[i])
            continue;
        const auto column = static_cast<int>(i % static_cast<std::size_t>(m_columns));
        const auto row = static_cast<int>(i / static_cast<std::size_t>(m_columns));
        changed |= QRect(column * TileSize, row * TileSize, TileSize, TileSize);
    }
    return changed & QRect(0, 0, m_width, m_height);
}

} // namespace platform
