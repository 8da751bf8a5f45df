#pragma once
// ShmBuffer: a wl_buffer over memory this process shares with the compositor (an anonymous
// memfd, mapped here, handed to the compositor through wl_shm). The destructor destroys the
// wl_buffer and unmaps the memory; it may run on any thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

struct wl_buffer;

namespace platform {

class WaylandConnection;

class ShmBuffer
{
public:
    struct Spec
    {
        std::uint32_t format = 0; // wl_shm format
        int width = 0;
        int height = 0;
        std::size_t stride = 0;

        std::size_t byteCount() const { return stride * static_cast<std::size_t>(height); }
        bool operator==(const Spec &) const = default;
    };

    // nullptr when the memory cannot be had or spec is unusable.
    static std::unique_ptr<ShmBuffer> create(std::shared_ptr<WaylandConnection> connection,
                                             const Spec &spec);
    ~ShmBuffer();
    ShmBuffer(const ShmBuffer &) = delete;
    ShmBuffer &operator=(const ShmBuffer &) = delete;

    const Spec &spec() const { return m_spec; }
    wl_buffer *buffer() const { return m_buffer; }
    const std::uint8_t *bytes() const { return m_bytes; }

    // Reads one byte of every page, so that the pages are in place before a time-critical read.
    void touchPages() const;

private:
    ShmBuffer() = default;

    std::shared_ptr<WaylandConnection> m_connection;
    Spec m_spec;
    wl_buffer *m_buffer = nullptr;
    std::uint8_t *m_bytes = nullptr;
};

// Keeps released buffers for the next frames of the same spec: a fresh buffer costs a page fault
// per page on both sides, far more than a copy into pages already in place. The capture
// command has one in use at a time (the settler's frames, then the picture); up to two are
// kept for a caller that still holds a picture while the settler copies frames. Thread-safe.
class ShmBufferPool
{
public:
    static constexpr std::size_t Capacity = 2;

    explicit ShmBufferPool(std::shared_ptr<WaylandConnection> connection)
        : m_connection(std::move(connection))
    {
    }

    // A kept buffer of that spec, or a new one (nullptr when none can be made).
    std::unique_ptr<ShmBuffer> take(const ShmBuffer::Spec &spec);
    // Keeps buffer for reuse; beyond the capacity, or when its spec differs from the kept ones
    // (the output changed), the oldest kept buffers are freed.
    void giveBack(std::unique_ptr<ShmBuffer> buffer);
    std::size_t keptBuffers() const;
    void clear();

private:
    std::shared_ptr<WaylandConnection> m_connection;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<ShmBuffer>> m_spares; // oldest first
};

} // namespace platform
