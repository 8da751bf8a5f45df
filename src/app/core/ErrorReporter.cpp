#include "ErrorReporter.h"

namespace app {

QString BuildErrorReport(const QString &location, const QString &description, int number)
{
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") +
           QString::number(number) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") +
           QString::fromUtf8(SupportAddress);
}

ErrorReporter::ErrorReporter(Dialogs &dialogs)
    : m_dialogs(dialogs)
{
}

void ErrorReporter::ShowErrorReport(const QString &location, const QString &description, int number)
{
    m_dialogs.showMessage(QStringLiteral("Application Error"),
                          BuildErrorReport(location, description, number), Dialogs::Icon::Warning);
}

} // namespace app
