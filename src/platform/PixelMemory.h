#pragma once
// PixelMemory: an anonymous private mapping whose pages are in place and written once from the
// start, so that writing a picture into it takes no page fault. On this kind of machine
// the first touch of a page costs 15 to 45 us, as much as decoding the picture itself, so the
// desktop backends map the memory on a second thread while the desktop is still taking the
// screenshot. Empty (data() null) when nothing could be mapped. Movable, not copyable; unmaps
// once.

#include <cstddef>
#include <cstdint>

namespace platform {

class PixelMemory
{
public:
    PixelMemory() = default;
    explicit PixelMemory(std::size_t bytes)
        : PixelMemory(bytes, bytes)
    {
    }
    // Maps bytes but writes only the first `prepared` of them now; the rest take their pages at
    // their first write, and pages never written take nothing from the machine. For memory that
    // must not move while it fills up to a size not known in advance.
    PixelMemory(std::size_t bytes, std::size_t prepared);
    ~PixelMemory();
    PixelMemory(PixelMemory &&other) noexcept;
    PixelMemory &operator=(PixelMemory &&other) noexcept;
    PixelMemory(const PixelMemory &) = delete;
    PixelMemory &operator=(const PixelMemory &) = delete;

    std::uint8_t *data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    std::uint8_t *m_data = nullptr;
    std::size_t m_size = 0;
};

} // namespace platform
