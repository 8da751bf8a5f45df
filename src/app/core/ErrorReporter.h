#pragma once
// The error report box of the three trapped handlers, and the hook through which tests make a
// numbered statement fail.

#include "Dialogs.h"
#include "core/Addresses.h"

#include <QString>
#include <functional>

namespace app {

// Support address named in every report (set at build time).
using core::SupportAddress;

// The report text: description, CR LF, location, "at line ", number, CR CR, support sentence.
QString BuildErrorReport(const QString &location, const QString &description, int number);

class ErrorReporter
{
public:
    explicit ErrorReporter(Dialogs &dialogs);

    // Shows the report in a modal "Application Error" box with a warning icon and one OK button.
    void ShowErrorReport(const QString &location, const QString &description, int number);

    // Called before each numbered statement of a trapped handler; a probe that throws makes
    // that statement fail. Tests only.
    using StatementProbe = std::function<void(const QString &location, int number)>;
    void setStatementProbe(StatementProbe probe) { m_probe = std::move(probe); }
    const StatementProbe &statementProbe() const { return m_probe; }

private:
    Dialogs &m_dialogs;
    StatementProbe m_probe;
};

} // namespace app
