#pragma once
// JpegStripEncoder: encodes a Picture as one baseline JPEG stream, in horizontal strips on
// several threads. Every strip is compressed on its own with the same quantisation and Huffman
// tables and is exactly one restart interval long; the strips' entropy-coded data are joined
// with restart markers behind the first strip's headers (its frame height set to the whole
// picture's). Strips are taken top to bottom, so encoding follows a capture that is still
// arriving, and each finished strip goes to the sink as soon as those above it have gone, so
// only a few strips' output is held at once. Input rows are read in place: 32-bit pixels go to
// libjpeg as they are, other formats are expanded one row at a time.

#include "PictureData.h"
#include "SaveError.h"

#include <functional>
#include <optional>
#include <sys/uio.h>

namespace imaging {

class JpegStripEncoder
{
public:
    // Receives the file's bytes in order, from one thread at a time (not necessarily the
    // caller's). May throw; the exception then ends the encoding and leaves encode().
    using Sink = std::function<void(const iovec *buffers, int count)>;

    // quality: 0 to 100 as libjpeg's quality scale takes it (values above 100 act as 100).
    JpegStripEncoder(const Picture::Data &data, int quality);

    // Encodes the whole picture on up to `threads` threads (the caller's included), handing the
    // bytes to sink. Returns the failure's status, or nothing on success; rethrows what the sink
    // threw.
    std::optional<SaveStatus> encode(int threads, const Sink &sink);

private:
    const Picture::Data &m_data;
    int m_quality;
    int m_stripRows = 0;
    int m_stripCount = 0;
    unsigned m_restartInterval = 0;
};

} // namespace imaging
