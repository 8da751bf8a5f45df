#pragma once
// PngReader: reads the PNG file a desktop portal hands over into a picture of 32-bit XRGB pixels
// (the screen's usual layout), straight into memory the caller may have mapped while the portal
// worked (memoryFor(), PixelMemory); alpha is dropped (screenshots are opaque). The kind the
// portals write (8-bit RGB or RGBA, not interlaced) is inflated with libdeflate and unfiltered
// here; libpng's simplified API reads every other kind, and any file that does not check out
// there. A file libpng refuses goes to Qt's general reader.
//
// The file may lie (it can sit in /tmp): a damaged, truncated or oversized one gives a null
// picture and a reason, never a crash. Pictures over MaxPixels are refused before any memory is
// mapped for them.

#include "Picture.h"
#include "PixelMemory.h"

#include <QSize>
#include <QString>

#include <cstddef>

namespace platform {

class PngReader
{
public:
    // The largest picture read: 2^28 pixels, 1 GiB of memory (eight 8K screens).
    static constexpr std::size_t MaxPixels = std::size_t(1) << 28;

    // The bytes read() can use for a PNG of this size without mapping memory of its own (a byte
    // a row more than its pixels: the filtered rows are inflated into the same memory).
    static std::size_t memoryFor(QSize size);

    // memory: prepared by the caller (memoryFor() of the expected size), or empty; read() maps
    // its own when it is empty or too small. A null picture when the file cannot be read, with
    // why in failure (if given). Never throws.
    static imaging::Picture read(const QString &path, PixelMemory memory,
                                 QString *failure = nullptr);
};

} // namespace platform
