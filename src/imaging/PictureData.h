#pragma once
// Picture::Data: the pixels behind a Picture. The capture may still be filling them when the
// Picture is handed out (the X11 backend transfers the screen in horizontal bands); readers call
// waitForRows() before touching a row, which blocks until the rows above that line are in memory.
// Thread-safe: several encoder threads may wait and read at once. Destroying the Data releases
// the pixel memory (and any shared-memory segment) exactly once.

#include "Picture.h"
#include "PixelLayout.h"

#include <cstdint>

namespace imaging {

struct Picture::Data
{
    Data(const PixelLayout &pixelLayout, QList<QRgb> colours)
        : layout(pixelLayout)
        , palette(std::move(colours))
    {
    }
    virtual ~Data() = default;
    Data(const Data &) = delete;
    Data &operator=(const Data &) = delete;

    // Blocks until rows [0, rowEnd) are in memory. Returns false when the transfer of any of
    // them failed (their content is then undefined).
    virtual bool waitForRows(int rowEnd) const = 0;
    bool waitForAll() const { return waitForRows(layout.height); }

    // Whether the transfer still running takes a core of this machine that encoding beside it
    // would starve (an X server copying the screen); when false, every encoder thread may start
    // on the rows as they come.
    virtual bool transferNeedsACore() const { return true; }

    // The first byte of row y; only valid to read once waitForRows(y + 1) returned true.
    virtual const std::uint8_t *scanLine(int y) const = 0;

    const PixelLayout layout;
    const QList<QRgb> palette; // 256 entries for indexed layouts, else empty
};

// Makes a reader that leaves early (a failed save) still wait for the rest of the transfer, so
// that the screen is never read after its caller has gone on, e.g. to show its window again.
class TransferCompletion
{
public:
    explicit TransferCompletion(const Picture::Data &data)
        : m_data(data)
    {
    }
    ~TransferCompletion() { m_data.waitForAll(); }
    TransferCompletion(const TransferCompletion &) = delete;
    TransferCompletion &operator=(const TransferCompletion &) = delete;

private:
    const Picture::Data &m_data;
};

} // namespace imaging
