#pragma once
// The pieces of the capture command's file names that need no window: the date-time text, the
// test for a taken counting-number candidate, and the free variant of a date-time name.

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

// base + extension when nothing of that name exists yet; otherwise the first free
// base + " (2)" + extension, base + " (3)" + extension, ... Returns the name without extension.
QString UnusedBaseName(const QString &base, const QString &extension);

} // namespace ui
