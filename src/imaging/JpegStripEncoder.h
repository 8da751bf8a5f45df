#pragma once
// JpegStripEncoder: encodes a Picture as one baseline JPEG stream, in horizontal strips on
// several threads. Every strip is compressed on its own with the same quantisation and Huffman
// tables and is exactly one restart interval long; the strips' entropy-coded data are then
// joined with restart markers behind the first strip's headers (its frame height set to the
// whole picture's). Strips are taken top to bottom, so encoding follows a capture that is still
// arriving. Input rows are read in place: 32-bit pixels go to libjpeg as they are, other
// formats are expanded one row at a time.

#include "PictureData.h"
#include "SaveError.h"

#include <memory>
#include <optional>
#include <sys/uio.h>
#include <vector>

namespace imaging {

class JpegStripEncoder
{
public:
    // quality: 0 to 100 as libjpeg's quality scale takes it (values above 100 act as 100).
    JpegStripEncoder(const Picture::Data &data, int quality);
    ~JpegStripEncoder();
    JpegStripEncoder(const JpegStripEncoder &) = delete;
    JpegStripEncoder &operator=(const JpegStripEncoder &) = delete;

    // Encodes every strip on up to `threads` threads (the caller's included). Returns the
    // failure's status, or nothing on success.
    std::optional<SaveStatus> encode(int threads);

    // The finished file as buffers in order; valid while the encoder lives, after encode().
    std::vector<iovec> fileBuffers() const;

    int stripCount() const { return m_stripCount; }
    int stripRows() const { return m_stripRows; }

    struct Strip;

private:
    std::optional<SaveStatus> encodeStrip(int index, std::vector<std::uint8_t *> &rows,
                                          std::vector<std::uint8_t> &rgbRow);

    const Picture::Data &m_data;
    int m_quality;
    int m_stripRows = 0;
    int m_stripCount = 0;
    unsigned m_restartInterval = 0;
    std::vector<std::unique_ptr<Strip>> m_strips;
};

} // namespace imaging
