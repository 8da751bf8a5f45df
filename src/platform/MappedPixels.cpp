#include "MappedPixels.h"

namespace platform {

MappedPixels::MappedPixels(int width, int height, std::size_t stride, PixelMemory memory)
    : imaging::Picture::Data(
          imaging::PixelLayout{width, height, 32, stride, 0xff0000u, 0xff00u, 0xffu}, {})
    , m_memory(std::move(memory))
{
}

} // namespace platform
