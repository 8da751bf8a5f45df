#pragma once
// Where a failure of an untrapped control handler goes. Outside a trapped statement it is
// reported through UntrappedFailures (when set; otherwise thrown back to whoever changed the
// control). Inside runTrapped() it is kept, and thrown once the trapped statement's change has
// run, so that the caller's trap reports it with its own statement number. Either way nothing
// passes through Qt's code. Holds a non-owning pointer to the UntrappedFailures.

#include <QString>
#include <exception>
#include <functional>

namespace app {

class UntrappedFailures;

class FailureRouting
{
public:
    void setUntrappedFailures(UntrappedFailures *failures) { m_untrapped = failures; }

    // Runs a control's handler, named by where (e.g. "Form1.Text1_Change").
    void handle(const QString &where, const std::function<void()> &handler);

    // Runs change, a trapped statement that sets controls; rethrows the first failure of a
    // handler that the change set off, after the change has run.
    void runTrapped(const std::function<void()> &change);

private:
    UntrappedFailures *m_untrapped = nullptr;
    int m_trappedDepth = 0;       // runTrapped() calls under way
    std::exception_ptr m_pending; // the first handler failure inside them
};

} // namespace app
