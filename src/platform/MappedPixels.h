#pragma once
// MappedPixels: a finished picture of 32-bit XRGB pixels (the screen's usual layout) in a
// PixelMemory of its own, rows stride bytes apart from its start. What the portal's PNG reader
// and KWin's screenshot interface hand on.

#include "PictureData.h"
#include "PixelMemory.h"

namespace platform {

class MappedPixels final : public imaging::Picture::Data
{
public:
    // memory must hold height rows of stride bytes, stride >= 4 * width.
    MappedPixels(int width, int height, std::size_t stride, PixelMemory memory);

    bool waitForRows(int) const override { return true; }
    const std::uint8_t *scanLine(int y) const override
    {
        return m_memory.data() + layout.stride * static_cast<std::size_t>(y);
    }

private:
    PixelMemory m_memory;
};

} // namespace platform
