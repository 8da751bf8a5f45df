#pragma once
// OrderedOutput: takes the pieces (bands) that several threads finish in any order and hands
// them to a writer in their order 0, 1, 2, ...: whichever thread finds the next piece ready
// writes it and those ready behind it, so only a few pieces are held at once. Written pieces
// are kept for reuse by buffer(). Once the writer throws, nothing more is written, failed()
// turns true and outcome() rethrows the exception.

#include "SaveError.h"

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace imaging {

template <class Piece> class OrderedOutput
{
public:
    // Called for one piece at a time, from whichever thread delivers; position counts from 0.
    using Write = std::function<void(int position, Piece &piece)>;

    OrderedOutput(int count, Write write)
        : m_ready(static_cast<std::size_t>(count))
        , m_write(std::move(write))
    {
    }

    // A written piece to reuse, or a new one.
    std::unique_ptr<Piece> buffer()
    {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_spare.empty()) {
                auto spare = std::move(m_spare.back());
                m_spare.pop_back();
                return spare;
            }
        }
        return std::make_unique<Piece>();
    }

    void deliver(int index, std::unique_ptr<Piece> piece)
    {
        std::unique_lock lock(m_mutex);
        m_ready[static_cast<std::size_t>(index)] = std::move(piece);
        if (m_writing)
            return;
        m_writing = true;
        while (!m_failed && m_next < static_cast<int>(m_ready.size()) &&
               m_ready[static_cast<std::size_t>(m_next)]) {
            auto next = std::move(m_ready[static_cast<std::size_t>(m_next)]);
            const int position = m_next;
            lock.unlock();
            try {
                m_write(position, *next);
            } catch (...) {
                lock.lock();
                m_failed = true;
                m_error = std::current_exception();
                break;
            }
            lock.lock();
            m_spare.push_back(std::move(next));
            ++m_next;
        }
        m_writing = false;
    }

    bool failed() const
    {
        const std::lock_guard lock(m_mutex);
        return m_failed;
    }

    // Once every thread has finished: rethrows the writer's exception (any failure of the work
    // after it followed from it), or returns the work's status.
    std::optional<SaveStatus> outcome(std::optional<SaveStatus> status) const
    {
        if (m_error)
            std::rethrow_exception(m_error);
        return status;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<Piece>> m_ready;
    std::vector<std::unique_ptr<Piece>> m_spare;
    int m_next = 0;
    bool m_writing = false;
    bool m_failed = false;
    std::exception_ptr m_error;
    Write m_write;
};

} // namespace imaging
