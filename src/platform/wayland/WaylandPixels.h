#pragma once
// WaylandPixels: a Picture's pixels in a screencopy frame's wl_shm buffer, complete when made.
// Rows are read top-down whatever the frame's y_invert flag. When the last Picture lets go, the
// buffer goes back to its pool for the next capture.

#include "OutputCapture.h"
#include "PictureData.h"

#include <memory>

namespace platform {

class WaylandPixels final : public imaging::Picture::Data
{
public:
    WaylandPixels(OutputCapture::Frame frame, std::shared_ptr<ShmBufferPool> pool);
    ~WaylandPixels() override;

    bool waitForRows(int) const override { return true; }
    const std::uint8_t *scanLine(int y) const override;

private:
    std::unique_ptr<ShmBuffer> m_buffer;
    std::shared_ptr<ShmBufferPool> m_pool;
    bool m_yInverted = false;
};

} // namespace platform
