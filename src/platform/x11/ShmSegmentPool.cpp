#include "ShmSegmentPool.h"

namespace platform {

std::unique_ptr<ShmSegment> ShmSegmentPool::take(std::size_t size)
{
    std::unique_ptr<ShmSegment> segment;
    {
        const std::lock_guard lock(m_mutex);
        segment = std::move(m_spare);
    }
    // A segment far larger than needed (the screen got smaller) is not worth keeping.
    if (segment && segment->size() >= size && segment->size() - size <= size / 4)
        return segment;
    return nullptr;
}

void ShmSegmentPool::giveBack(std::unique_ptr<ShmSegment> segment)
{
    std::unique_ptr<ShmSegment> previous;
    const std::lock_guard lock(m_mutex);
    previous = std::move(m_spare);
    m_spare = std::move(segment);
}

void ShmSegmentPool::clear()
{
    std::unique_ptr<ShmSegment> previous;
    const std::lock_guard lock(m_mutex);
    previous = std::move(m_spare);
}

bool ShmSegmentPool::holdsSegment() const
{
    const std::lock_guard lock(m_mutex);
    return m_spare != nullptr;
}

} // namespace platform
