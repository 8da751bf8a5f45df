#pragma once
// FrameSignature: a frame reduced to one hash per 16x16 tile, to tell where two frames of the
// same output differ without keeping the first frame's pixels. Rows are taken as stored (a
// y-inverted frame gives a y-inverted signature; compare frames of one kind).

#include "PixelLayout.h"

#include <QRect>

#include <cstdint>
#include <vector>

namespace platform {

class FrameSignature
{
public:
    static constexpr int TileSize = 16;

    FrameSignature() = default;
    // bytes: layout.height rows of layout.stride bytes.
    FrameSignature(const std::uint8_t *bytes, const imaging::PixelLayout &layout);

    bool isNull() const { return m_tiles.empty(); }

    // The bounding box, in pixels, of the tiles whose content differs (whole tiles, clipped to
    // the frame); the whole frame when the two are of different sizes.
    QRect changedArea(const FrameSignature &other) const;

private:
    int m_width = 0;
    int m_height = 0;
    int m_columns = 0;
    std::vector<std::uint64_t> m_tiles;
};

} // namespace platform
