#include "PixelMemory.h"

#include <algorithm>
#include <utility>

#include <sys/mman.h>
#include <unistd.h>

namespace platform {

PixelMemory::PixelMemory(std::size_t bytes, std::size_t prepared)
{
    if (bytes == 0)
        return;
    prepared = std::min(prepared, bytes);
    void *mapping = mmap(
        nullptr, bytes, PROT_READ | PROT_WRITE,
        MAP_PRIVATE | MAP_ANONYMOUS | (prepared == bytes ? MAP_POPULATE : MAP_NORESERVE), -1, 0);
    if (mapping == MAP_FAILED)
        return;
    m_data = static_cast<std::uint8_t *>(mapping);
    m_size = bytes;
    // Under a hypervisor's shadow page tables even a page mapped ahead is slow at its first
    // write (some 6 us a page here): take that here, on the preparing thread, too.
    const long page = sysconf(_SC_PAGESIZE);
    for (std::size_t at = 0; at < prepared; at += static_cast<std::size_t>(page))
        static_cast<volatile std::uint8_t *>(mapping)[at] = 0;
}

PixelMemory::~PixelMemory()
{
    if (m_data)
        munmap(m_data, m_size);
}

PixelMemory::PixelMemory(PixelMemory &&other) noexcept
    : m_data(std::exchange(other.m_data, nullptr))
    , m_size(std::exchange(other.m_size, 0))
{
}

PixelMemory &PixelMemory::operator=(PixelMemory &&other) noexcept
{
    if (this != &other) {
        if (m_data)
            munmap(m_data, m_size);
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

} // namespace platform
