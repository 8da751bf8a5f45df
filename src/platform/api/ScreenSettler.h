#pragma once
// Makes sure a window that was just hidden is really gone from the screen before a capture:
// the display shows what the window covered, repainted by whoever owns it. prepare() is called
// while the window is still shown, waitUntilRepainted() after it was hidden and the display
// server has processed the unmap. The wait processes window events (so this program's own
// windows repaint too) and is bounded: by limit(), or by a longer bound of the settler's own
// where a compositor animates the window away.

#include <chrono>

class QWindow;

namespace platform {

class ScreenSettler
{
public:
    virtual ~ScreenSettler() = default;

    // Notes the screen area the top-level window covers, its frame included.
    virtual void prepare(const QWindow &window) = 0;

    // Returns once that area shows its repainted content again, or after limit().
    virtual void waitUntilRepainted() = 0;

    std::chrono::milliseconds limit() const { return m_limit; }
    void setLimit(std::chrono::milliseconds limit) { m_limit = limit; }

private:
    std::chrono::milliseconds m_limit{50};
};

} // namespace platform
