#include "EchoingDialogs.h"

#include <cstdio>

namespace app {

void EchoingDialogs::showMessage(const QString &title, const QString &text, Icon icon)
{
    // The report texts break lines with CR LF and CR CR, as the boxes show them.
    QString plain = text;
    plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    plain.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(title), qUtf8Printable(plain));
    std::fflush(stderr);
    m_shown.showMessage(title, text, icon);
}

std::optional<QString> EchoingDialogs::askText(const QString &caption, const QString &message)
{
    return m_shown.askText(caption, message);
}

QString EchoingDialogs::chooseFolder(const QString &title, const QString &startFolder)
{
    return m_shown.chooseFolder(title, startFolder);
}

} // namespace app
