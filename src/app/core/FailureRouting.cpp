#include "FailureRouting.h"

#include "UntrappedFailures.h"

#include <utility>

namespace app {

void FailureRouting::handle(const QString &where, const std::function<void()> &handler)
{
    if (m_trappedDepth == 0 && m_untrapped) {
        m_untrapped->run(where, handler);
        return;
    }
    try {
        handler();
    } catch (...) {
        if (m_trappedDepth == 0)
            throw;
        if (!m_pending)
            m_pending = std::current_exception();
    }
}

void FailureRouting::runTrapped(const std::function<void()> &change)
{
    ++m_trappedDepth;
    try {
        change();
    } catch (...) {
        if (--m_trappedDepth == 0)
            m_pending = nullptr;
        throw;
    }
    if (--m_trappedDepth == 0 && m_pending)
        std::rethrow_exception(std::exchange(m_pending, nullptr));
}

} // namespace app
