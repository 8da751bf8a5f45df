#pragma once
// PipedPixels: a picture of 32-bit XRGB pixels still on its way through a pipe (KWin's
// screenshot interface answers with the size and then writes the rows): handed out at the
// answer, so that the writers encode the rows already in while KWin writes the rest. The last
// row counts as in only once the pipe has ended with exactly the picture's length.

#include "PictureData.h"
#include "PipeReception.h"

#include <algorithm>
#include <memory>

namespace platform {

class PipedPixels final : public imaging::Picture::Data
{
public:
    // stride >= 4 * width; reception's limit at least height rows of stride bytes.
    PipedPixels(int width, int height, std::size_t stride,
                std::shared_ptr<const PipeReception> reception)
        : imaging::Picture::Data(imaging::PixelLayout::xrgb32(width, height, stride), {})
        , m_reception(std::move(reception))
    {
    }

    bool waitForRows(int rowEnd) const override
    {
        if (rowEnd < layout.height)
            return m_reception->waitFor(layout.stride * std::size_t(std::max(rowEnd, 0)));
        return m_reception->waitForEnd() == layout.byteCount();
    }
    bool transferNeedsACore() const override { return false; }
    const std::uint8_t *scanLine(int y) const override
    {
        return m_reception->data() + layout.stride * std::size_t(y);
    }

private:
    std::shared_ptr<const PipeReception> m_reception;
};

} // namespace platform
