#include "ShmFormat.h"

#include <wayland-client-protocol.h>

namespace platform {

namespace {

struct Masks
{
    int bitsPerPixel;
    std::uint32_t red;
    std::uint32_t green;
    std::uint32_t blue;
};

std::optional<Masks> masksOf(std::uint32_t format)
{
    switch (format) {
    case WL_SHM_FORMAT_ARGB8888:
    case WL_SHM_FORMAT_XRGB8888:
        return Masks{32, 0x00ff0000u, 0x0000ff00u, 0x000000ffu};
    case WL_SHM_FORMAT_ABGR8888:
    case WL_SHM_FORMAT_XBGR8888:
        return Masks{32, 0x000000ffu, 0x0000ff00u, 0x00ff0000u};
    case WL_SHM_FORMAT_RGBA8888:
    case WL_SHM_FORMAT_RGBX8888:
        return Masks{32, 0xff000000u, 0x00ff0000u, 0x0000ff00u};
    case WL_SHM_FORMAT_BGRA8888:
    case WL_SHM_FORMAT_BGRX8888:
        return Masks{32, 0x0000ff00u, 0x00ff0000u, 0xff000000u};
    case WL_SHM_FORMAT_ARGB2101010:
    case WL_SHM_FORMAT_XRGB2101010:
        return Masks{32, 0x3ff00000u, 0x000ffc00u, 0x000003ffu};
    case WL_SHM_FORMAT_ABGR2101010:
    case WL_SHM_FORMAT_XBGR2101010:
        return Masks{32, 0x000003ffu, 0x000ffc00u, 0x3ff00000u};
    case WL_SHM_FORMAT_RGB565:
        return Masks{16, 0xf800u, 0x07e0u, 0x001fu};
    case WL_SHM_FORMAT_BGR565:
        return Masks{16, 0x001fu, 0x07e0u, 0xf800u};
    case WL_SHM_FORMAT_ARGB1555:
    case WL_SHM_FORMAT_XRGB1555:
        return Masks{16, 0x7c00u, 0x03e0u, 0x001fu};
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<imaging::PixelLayout> layoutForShmFormat(std::uint32_t format, int width, int height,
                                                       std::size_t stride)
{
    const std::optional<Masks> masks = masksOf(format);
    if (!masks)
        return std::nullopt;
    imaging::PixelLayout layout;
    layout.width = width;
    layout.height = height;
    layout.bitsPerPixel = masks->bitsPerPixel;
    layout.stride = stride;
    layout.redMask = masks->red;
    layout.greenMask = masks->green;
    layout.blueMask = masks->blue;
    if (!layout.isValid())
        return std::nullopt;
    return layout;
}

} // namespace platform
