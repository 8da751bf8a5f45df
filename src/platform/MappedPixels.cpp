#include "MappedPixels.h"

namespace platform {

MappedPixels::MappedPixels(int width, int height, std::size_t stride, PixelMemory memory)
    : imaging::Picture::Data(imaging::PixelLayout::xrgb32(width, height, stride), {})
    , m_memory(std::move(memory))
{
}

} // namespace platform
