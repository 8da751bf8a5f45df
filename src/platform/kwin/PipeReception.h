#pragma once
// PipeReception: what a desktop writes into a pipe, read on a thread of its own until the writer
// closes it, into memory that never moves: it is reserved for the largest length allowed, and
// its pages for the expected length are written ahead on that thread. Others can therefore use
// the bytes already in while the rest is still coming (KWin answers with the picture's size and
// then writes its pixels). Thread-safe.

#include "PixelMemory.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace platform {

class PipeReception
{
public:
    // Called on the reading thread once the pipe has ended: the length received, or nothing
    // when the reading failed (no memory, more than the limit, a read error, or nothing came
    // for the idle time-out).
    using Ended = std::function<void(std::optional<std::size_t> length)>;

    // Takes fd (closed once the reading ends) and starts reading it.
    PipeReception(int fd, std::size_t expected, std::size_t limit, int idleTimeoutMs,
                  Ended ended = {});
    // Waits for the reading to end (the writer's close, or the idle time-out).
    ~PipeReception();
    PipeReception(const PipeReception &) = delete;
    PipeReception &operator=(const PipeReception &) = delete;

    // Blocks until the first `bytes` bytes are in; false when the pipe ended before them or the
    // reading failed.
    bool waitFor(std::size_t bytes) const;
    // Blocks until the pipe has ended; what ended() is given.
    std::optional<std::size_t> waitForEnd() const;
    // The received bytes; valid to read as far as a waitFor() or waitForEnd() said.
    const std::uint8_t *data() const { return m_memory.data(); }

private:
    void read(int fd, std::size_t expected, std::size_t limit, int idleTimeoutMs);

    PixelMemory m_memory; // written by the reading thread before its first report
    Ended m_ended;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_progress;
    std::size_t m_length = 0;
    bool m_finished = false;
    bool m_failed = false;
    std::thread m_thread;
};

} // namespace platform
