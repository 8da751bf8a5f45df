#pragma once
// The wl_shm buffer formats a screencopy frame may come in, as Picture pixel layouts. wl_shm
// formats name their channels from the most significant bit of a little-endian pixel word, so
// XRGB8888 is the usual X11 and BMP layout (blue in the first byte). Formats without a layout
// here (24-bit, planar, 16 bits per channel) give nullopt.

#include "PixelLayout.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace platform {

std::optional<imaging::PixelLayout> layoutForShmFormat(std::uint32_t format, int width, int height,
                                                       std::size_t stride);

} // namespace platform
