#include "WaylandPixels.h"

namespace platform {

WaylandPixels::WaylandPixels(OutputCapture::Frame frame, std::shared_ptr<ShmBufferPool> pool)
    : Data(frame.layout, {})
    , m_buffer(std::move(frame.buffer))
    , m_pool(std::move(pool))
    , m_yInverted(frame.yInverted)
{
}

WaylandPixels::~WaylandPixels()
{
    if (m_pool)
        m_pool->giveBack(std::move(m_buffer));
}

const std::uint8_t *WaylandPixels::scanLine(int y) const
{
    const int row = m_yInverted ? layout.height - 1 - y : y;
    return m_buffer->bytes() + static_cast<std::size_t>(row) * layout.stride;
}

} // namespace platform
