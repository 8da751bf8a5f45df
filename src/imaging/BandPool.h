#pragma once
// BandPool: shares a picture's horizontal bands, taken top to bottom, among an encoder's threads.
// While an X server is still copying the screen, it needs a core: the caller's thread alone
// encodes the bands as their rows arrive, and the helpers join once the transfer is complete (at
// once for a complete picture). With every thread busy from the start, the server's copy was
// starved and the whole took longer than transfer and encoding in turn. A transfer that needs no
// core of its own (Picture::Data::transferNeedsACore(): KWin's pipe) has every thread from the
// start. The first failure stops every thread before its next band; bad_alloc counts as
// OutOfMemory, any other exception from the work as GenericError.

#include "PictureData.h"
#include "SaveError.h"

#include <atomic>
#include <functional>
#include <optional>

namespace imaging {

class BandPool
{
public:
    // The threads an encoder may use: the machine's cores (2 when unknown), at most 16.
    static int machineThreads();

    // stopped: asked before each band; true ends the work without a failure of the pool's own.
    BandPool(const Picture::Data &data, int bandRows, int bandCount, std::function<bool()> stopped);

    struct Band
    {
        int index;
        int top;    // first row
        int bottom; // one past the last row
    };

    // The next band not yet taken, once its rows have arrived; nothing when every band is taken,
    // the work has failed or stopped, or the rows never arrive (a GenericError).
    std::optional<Band> next();

    // Runs work on up to `threads` threads (the caller's included, at most one per band); each
    // call takes bands from next() until it gives nothing, or returns a failure. Returns the
    // first failure, or nothing.
    using Work = std::function<std::optional<SaveStatus>()>;
    std::optional<SaveStatus> run(int threads, const Work &work);

private:
    void fail(SaveStatus status);

    const Picture::Data &m_data;
    int m_bandRows;
    int m_bandCount;
    std::function<bool()> m_stopped;
    std::atomic<int> m_next{0};
    std::atomic<int> m_failure{0};
};

} // namespace imaging
