#pragma once
// ShmSegmentPool: keeps one released shared-memory segment of a connection for the next capture.
// A fresh segment costs a page fault per 4 KiB page on both sides (the X server's first write,
// this process's first read), which for a 4K screen is far slower than the transfer itself; a
// segment that both sides have already touched is reused instead. Thread-safe: a picture may be
// released on any thread.

#include "ShmSegment.h"

#include <memory>
#include <mutex>

namespace platform {

class ShmSegmentPool
{
public:
    // A kept segment of at least size bytes (and not much larger), else nullptr.
    std::unique_ptr<ShmSegment> take(std::size_t size);
    // Keeps segment for reuse, replacing any segment kept before.
    void giveBack(std::unique_ptr<ShmSegment> segment);
    // Frees the kept segment.
    void clear();
    bool holdsSegment() const;

private:
    mutable std::mutex m_mutex;
    std::unique_ptr<ShmSegment> m_spare;
};

} // namespace platform
