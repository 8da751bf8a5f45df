#include "ShmBuffer.h"

#include "WaylandConnection.h"

#include <wayland-client.h>

#include <limits>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {

namespace {

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

std::unique_ptr<ShmBuffer> ShmBuffer::create(std::shared_ptr<WaylandConnection> connection,
                                             const Spec &spec)
{
    const std::size_t size = spec.byteCount();
    if (!connection || !connection->shm() || spec.width <= 0 || spec.height <= 0 || size == 0 ||
        size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) ||
        spec.stride > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return nullptr;
    const FileDescriptor fd(::memfd_create("vistarel-ombrix-screencopy", MFD_CLOEXEC));
    if (fd.get() < 0 || ::ftruncate(fd.get(), static_cast<off_t>(size)) != 0)
        return nullptr;
    void *address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (address == MAP_FAILED)
        return nullptr;

    std::unique_ptr<ShmBuffer> buffer(new ShmBuffer);
    buffer->m_connection = std::move(connection);
    buffer->m_spec = spec;
    buffer->m_bytes = static_cast<std::uint8_t *>(address);
    wl_shm_pool *pool =
        wl_shm_create_pool(buffer->m_connection->shm(), fd.get(), static_cast<std::int32_t>(size));
    buffer->m_buffer = wl_shm_pool_create_buffer(
        pool, 0, spec.width, spec.height, static_cast<std::int32_t>(spec.stride), spec.format);
    // The buffer keeps the pool's memory; the pool object itself is no longer needed.
    wl_shm_pool_destroy(pool);
    if (!buffer->m_buffer)
        return nullptr;
    return buffer;
}

ShmBuffer::~ShmBuffer()
{
    if (m_buffer)
        wl_buffer_destroy(m_buffer);
    if (m_bytes) {
        ::munmap(m_bytes, m_spec.byteCount());
    }
    if (m_connection)
        wl_display_flush(m_connection->display());
}

void ShmBuffer::touchPages() const
{
    const std::size_t size = m_spec.byteCount();
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    unsigned sum = 0;
    const volatile std::uint8_t *bytes = m_bytes;
    for (std::size_t offset = 0; offset < size; offset += page)
        sum += bytes[offset];
    static_cast<void>(sum);
}

std::unique_ptr<ShmBuffer> ShmBufferPool::take(const ShmBuffer::Spec &spec)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_spares.empty() && m_spares.back()->spec() == spec) {
            std::unique_ptr<ShmBuffer> buffer = std::move(m_spares.back());
            m_spares.pop_back();
            return buffer;
        }
    }
    return ShmBuffer::create(m_connection, spec);
}

void ShmBufferPool::giveBack(std::unique_ptr<ShmBuffer> buffer)
{
    if (!buffer)
        return;
    std::vector<std::unique_ptr<ShmBuffer>> freed; // freed outside the lock
    std::lock_guard lock(m_mutex);
    if (!m_spares.empty() && m_spares.front()->spec() != buffer->spec())
        freed.swap(m_spares);
    m_spares.push_back(std::move(buffer));
    while (m_spares.size() > Capacity) {
        freed.push_back(std::move(m_spares.front()));
        m_spares.erase(m_spares.begin());
    }
}

void ShmBufferPool::clear()
{
    std::vector<std::unique_ptr<ShmBuffer>> freed;
    std::lock_guard lock(m_mutex);
    freed.swap(m_spares);
}

std::size_t ShmBufferPool::keptBuffers() const
{
    std::lock_guard lock(m_mutex);
    return m_spares.size();
}

} // namespace platform
