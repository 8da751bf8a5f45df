#pragma once
// PngBandEncoder: encodes a Picture as one PNG stream, its rows compressed in horizontal bands on
// several threads. Each band's rows are converted to PNG samples, filtered and deflated on their
// own (raw deflate ending in a full flush, the last band in the final block), so the bands'
// outputs joined in order are one valid zlib stream; its Adler-32 is combined from the bands'.
// Each band goes out as one IDAT chunk, its CRC computed by the thread that compressed it.
// Bands are taken top to bottom, so encoding follows a capture that is still arriving, and each
// finished band goes to the sink as soon as those above it have gone.

#include "PictureData.h"
#include "SaveError.h"

#include <functional>
#include <optional>
#include <sys/uio.h>

namespace imaging {

class PngBandEncoder
{
public:
    // Receives the file's bytes in order, from one thread at a time (not necessarily the
    // caller's). May throw; the exception then ends the encoding and leaves encode().
    using Sink = std::function<void(const iovec *buffers, int count)>;

    explicit PngBandEncoder(const Picture::Data &data);

    // Encodes the whole picture on up to `threads` threads (the caller's included), handing the
    // bytes to sink. Returns the failure's status, or nothing on success; rethrows what the sink
    // threw.
    std::optional<SaveStatus> encode(int threads, const Sink &sink);

private:
    const Picture::Data &m_data;
    int m_bandRows = 0;
    int m_bandCount = 0;
};

} // namespace imaging
