#pragma once
// PngDecoder: reads a screenshot PNG into pixels of 32-bit XRGB (the screen's usual layout)
// in memory of its own. Reads what desktop portals write: 8 bits per channel, RGB or RGBA, not
// interlaced; alpha is dropped (screenshots are opaque). decode() returns null for any other
// kind of PNG, and for a damaged or truncated file, so that the caller can try a general reader.
//
// Faster than a general reader in two ways. The compressed stream is inflated in one piece with
// libdeflate, two to thirty times as fast as zlib's streaming inflate on screen content. And
// the rows are unfiltered and converted inside the memory they were inflated into, which the
// caller may have mapped beforehand (memoryFor(), PixelMemory): no other buffer the size of
// the picture is touched.

#include "MappedPixels.h"
#include "PixelMemory.h"

#include <QSize>
#include <QString>

#include <memory>

namespace platform {

class PngDecoder
{
public:
    // The bytes decode() can use for a PNG of this size without mapping memory of its own.
    static std::size_t memoryFor(QSize size);

    // memory: prepared by the caller (memoryFor() of the expected size), or empty; decode() maps
    // its own when it is empty or too small.
    static std::shared_ptr<const MappedPixels> decode(const QString &path, PixelMemory memory);
};

} // namespace platform
