#pragma once
// The pieces of the capture command's file names that need no window: the date-time text, the
// test for a taken counting-number candidate, and the numbered copies of a date-time name.

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace ui {

// The date and time as the locale writes them (short date, one blank, long time without its
// time zone; the short date alone at midnight exactly), with every "/" and then every ":"
// turned into "-". No other character changes.
QString DateTimeText(const QDateTime &when, const QLocale &locale);

// True when path names an existing normal file (symbolic links followed). The name is taken
// literally: "*" and "?" are ordinary characters. Never throws.
bool NormalFileExists(const QString &path);

// Copy 1 of a date-time name is base itself, copy n > 1 is base + " (n)".
QString CopyName(const QString &base, int copy);

// The first copy whose name + extension nothing has yet (a folder takes a name too).
int UnusedCopy(const QString &base, const QString &extension);

} // namespace ui
