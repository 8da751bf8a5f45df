#pragma once
// The error trap of a trapped handler. The handler is written as its table of numbered
// statements; each action returns the number of the statement to run next (Next: the following
// row of the table; Return: the handler ends). When an action throws anything, the report box
// shows the handler's location and the statement's number, and the handler resumes at the
// row's onFailure number (default: the following row). The handler always reaches its end.
//
//   trap.run({
//       {100, [&] { return m_capturing ? Trap::Return : Trap::Next; }},
//       {104, [&] { return FolderExists(folder) ? 106 : 180; }, /*onFailure*/ 106},
//   });

#include "ErrorReporter.h"

#include <QString>
#include <functional>
#include <vector>

namespace app {

class Trap
{
public:
    static constexpr int Next = -1;
    static constexpr int Return = 0;

    struct Statement
    {
        int number;
        std::function<int()> action;
        int onFailure = Next;
    };

    Trap(ErrorReporter &reporter, QString location);

    void run(const std::vector<Statement> &statements);

private:
    ErrorReporter &m_reporter;
    QString m_location;
};

} // namespace app
