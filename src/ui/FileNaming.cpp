#include "FileNaming.h"

#include <QFileInfo>

namespace ui {

namespace {

// The time format without its time-zone field ("t", with the brackets that hold it alone) and
// the blanks or comma that set it off; order, separators, quoted text and AM/PM stay.
QString withoutTimeZone(const QString &format)
{
    const auto isSeparator = [](QChar c) { return c.isSpace() || c == QLatin1Char(','); };
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == QLatin1Char('\'')) {
            quoted = !quoted;
            continue;
        }
        if (quoted || format[i] != QLatin1Char('t'))
            continue;
        qsizetype start = i, end = i;
        while (end < format.size() && format[end] == QLatin1Char('t'))
            ++end;
        if (start > 0 && end < format.size() &&
            ((format[start - 1] == QLatin1Char('(') && format[end] == QLatin1Char(')')) ||
             (format[start - 1] == QLatin1Char('[') && format[end] == QLatin1Char(']')))) {
            --start;
            ++end;
        }
        if (end == format.size()) {
            while (start > 0 && isSeparator(format[start - 1]))
                --start;
        } else {
            while (end < format.size() && isSeparator(format[end]))
                ++end;
        }
        return withoutTimeZone(format.left(start) + format.mid(end));
    }
    return format;
}

} // namespace

QString DateTimeText(const QDateTime &when, const QLocale &locale)
{
    // The general date-time form leaves the time out at midnight exactly.
    const QTime time = when.time();
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0)
        format += QLatin1Char(' ') + withoutTimeZone(locale.timeFormat(QLocale::LongFormat));
    QString text = locale.toString(when, format);
    text.replace(QLatin1Char('/'), QLatin1Char('-'));
    text.replace(QLatin1Char(':'), QLatin1Char('-'));
    // Locale data since CLDR 42 (Qt 6.5 on) puts a narrow no-break space before AM/PM: a name
    // nobody can type. It stays the ordinary blank it was, whatever Qt the program runs on.
    text.replace(QChar(0x202F), QLatin1Char(' '));
    return text;
}

bool NormalFileExists(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

QString CopyName(const QString &base, int copy)
{
    return copy <= 1 ? base : base + QStringLiteral(" (%1)").arg(copy);
}

int UnusedCopy(const QString &base, const QString &extension)
{
    // Anything of that name blocks it, a folder too: the writer could not replace it.
    int copy = 1;
    while (QFileInfo::exists(CopyName(base, copy) + extension))
        ++copy;
    return copy;
}

} // namespace ui
