#include "Trap.h"

#include "Failure.h"

#include <QtGlobal>

namespace app {

Trap::Trap(ErrorReporter &reporter, QString location)
    : m_reporter(reporter)
    , m_location(std::move(location))
{
}

void Trap::run(const std::vector<Statement> &statements)
{
    auto indexOf = [&](int number) -> std::size_t {
        for (std::size_t i = 0; i < statements.size(); ++i) {
            if (statements[i].number == number)
                return i;
        }
        qCritical("Trap %s: no statement %d; the handler ends", qPrintable(m_location), number);
        return statements.size();
    };

    std::size_t i = 0;
    while (i < statements.size()) {
        const Statement &statement = statements[i];
        int next = Next;
        try {
            if (const auto &probe = m_reporter.statementProbe())
                probe(m_location, statement.number);
            next = statement.action ? statement.action() : Next;
        } catch (...) {
            const Failure failure = CurrentFailure();
            m_reporter.ShowErrorReport(m_location, failure.description, statement.number);
            next = statement.onFailure;
        }
        if (next == Return)
            break;
        i = next == Next ? i + 1 : indexOf(next);
    }
}

} // namespace app
