#include "FileNaming.h"

#include <QFileInfo>

namespace ui {

QString DateTimeText(const QDateTime &when, const QLocale &locale)
{
    // One format for date and time together: a time zone in the long time is then the one in
    // force on that date (summer time included), not today's.
    QString text = locale.toString(when, locale.dateFormat(QLocale::ShortFormat) + QLatin1Char(' ')
                                             + locale.timeFormat(QLocale::LongFormat));
    text.replace(QLatin1Char('/'), QLatin1Char('-'));
    text.replace(QLatin1Char(':'), QLatin1Char('-'));
    return text;
}

bool NormalFileExists(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

QString UnusedBaseName(const QString &base, const QString &extension)
{
    // Anything of that name blocks it, a folder too: the writer could not replace it.
    const auto taken = [&](const QString &name) { return QFileInfo::exists(name + extension); };
    if (!taken(base))
        return base;
    for (int copy = 2;; ++copy) {
        const QString name = base + QStringLiteral(" (%1)").arg(copy);
        if (!taken(name))
            return name;
    }
}

} // namespace ui
