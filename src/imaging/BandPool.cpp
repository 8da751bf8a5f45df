#include "BandPool.h"

#include <algorithm>
#include <new>
#include <thread>
#include <utility>
#include <vector>

namespace imaging {

int BandPool::machineThreads()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 2 : static_cast<int>(std::min(cores, 16u));
}

BandPool::BandPool(const Picture::Data &data, int bandRows, int bandCount,
                   std::function<bool()> stopped)
    : m_data(data)
    , m_bandRows(bandRows)
    , m_bandCount(bandCount)
    , m_stopped(std::move(stopped))
{
}

std::optional<BandPool::Band> BandPool::next()
{
    const int index = m_next.fetch_add(1);
    if (index >= m_bandCount || m_failure.load() != 0 || m_stopped())
        return std::nullopt;
    const int top = index * m_bandRows;
    const int bottom = std::min(m_data.layout.height, top + m_bandRows);
    if (!m_data.waitForRows(bottom)) {
        fail(SaveStatus::GenericError);
        return std::nullopt;
    }
    return Band{index, top, bottom};
}

void BandPool::fail(SaveStatus status)
{
    int none = 0;
    m_failure.compare_exchange_strong(none, static_cast<int>(status));
}

std::optional<SaveStatus> BandPool::run(int threads, const Work &work)
{
    const auto guarded = [&] {
        try {
            if (const auto status = work())
                fail(*status);
        } catch (const std::bad_alloc &) {
            fail(SaveStatus::OutOfMemory);
        } catch (...) {
            fail(SaveStatus::GenericError);
        }
    };
    const int helpers = std::clamp(threads, 1, m_bandCount) - 1;
    {
        std::vector<std::jthread> pool;
        pool.reserve(static_cast<std::size_t>(helpers));
        for (int i = 0; i < helpers; ++i)
            pool.emplace_back([&] {
                if (m_data.transferNeedsACore())
                    m_data.waitForAll();
                guarded();
            });
        guarded();
    }
    if (const int failure = m_failure.load())
        return static_cast<SaveStatus>(failure);
    return std::nullopt;
}

} // namespace imaging
