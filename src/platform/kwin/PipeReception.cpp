#include "PipeReception.h"

#include <cerrno>

#include <poll.h>
#include <unistd.h>

namespace platform {

PipeReception::PipeReception(int fd, std::size_t expected, std::size_t limit, int idleTimeoutMs,
                             Ended ended)
    : m_ended(std::move(ended))
    , m_thread(
          [this, fd, expected, limit, idleTimeoutMs] { read(fd, expected, limit, idleTimeoutMs); })
{
}

PipeReception::~PipeReception()
{
    m_thread.join();
}

bool PipeReception::waitFor(std::size_t bytes) const
{
    std::unique_lock lock(m_mutex);
    m_progress.wait(lock, [&] { return m_length >= bytes || m_finished; });
    return m_length >= bytes && !m_failed;
}

std::optional<std::size_t> PipeReception::waitForEnd() const
{
    std::unique_lock lock(m_mutex);
    m_progress.wait(lock, [&] { return m_finished; });
    return m_failed ? std::nullopt : std::optional(m_length);
}

void PipeReception::read(int fd, std::size_t expected, std::size_t limit, int idleTimeoutMs)
{
    // Mapped here, while the writer still prepares what it writes; never moved afterwards.
    PixelMemory memory(limit, expected);
    std::uint8_t *const data = memory.data();
    {
        std::lock_guard lock(m_mutex);
        m_memory = std::move(memory);
    }
    std::size_t length = 0;
    bool failed = !data;
    while (!failed) {
        pollfd readable{fd, POLLIN, 0};
        const int ready = poll(&readable, 1, idleTimeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            failed = true;
            break;
        }
        // At the limit, one byte more tells a writer that sends too much from one that ends.
        std::uint8_t beyond = 0;
        const ssize_t got =
            length == limit ? ::read(fd, &beyond, 1) : ::read(fd, data + length, limit - length);
        if (got == 0)
            break;
        if (got < 0) {
            failed = errno != EINTR && errno != EAGAIN;
            continue;
        }
        if (length == limit) {
            failed = true;
            break;
        }
        std::lock_guard lock(m_mutex);
        length += std::size_t(got);
        m_length = length;
        m_progress.notify_all();
    }
    close(fd);
    // Reported before the readers go on, so that a log of it comes before what they do next.
    if (m_ended)
        m_ended(failed ? std::nullopt : std::optional(length));
    std::lock_guard lock(m_mutex);
    m_finished = true;
    m_failed = failed;
    m_progress.notify_all();
}

} // namespace platform
