#include "CollectingDialogs.h"

namespace app {

QString CollectingDialogs::plainLine(const QString &title, const QString &text)
{
    QString plain = text;
    plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    plain.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return title + QLatin1String(": ") + plain;
}

void CollectingDialogs::startCollecting()
{
    m_collected.clear();
    m_collecting = true;
}

QStringList CollectingDialogs::takeCollected()
{
    m_collecting = false;
    return std::exchange(m_collected, {});
}

void CollectingDialogs::showMessage(const QString &title, const QString &text, Icon icon)
{
    if (m_collecting)
        m_collected.append(plainLine(title, text));
    m_shown.showMessage(title, text, icon);
}

} // namespace app
