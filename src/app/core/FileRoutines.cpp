#include "FileRoutines.h"

#include "core/Error.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace app {

namespace {

QString withSeparator(const QString &folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

bool isFolder(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

} // namespace

QString DesktopFolderPathFrom(const QString &desktop, const QString &home)
{
    if (desktop.isEmpty())
        throw core::Error(core::Error::InvalidArgument,
                          QStringLiteral("Invalid procedure call or argument"));
    // A desktop folder that is not there would be rejected by every capture; the home folder
    // is the nearest place that is.
    if (!isFolder(desktop) && isFolder(home))
        return withSeparator(home);
    return withSeparator(desktop);
}

QString DesktopFolderPath()
{
    return DesktopFolderPathFrom(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                                 QDir::homePath());
}

bool FileExists(const QString &path)
{
    try {
        // An empty name would make QFileInfo look at the current folder.
        return !path.isEmpty() && !path.contains(QChar(0)) &&
               QFileInfo(path).lastModified().isValid();
    } catch (...) {
        return false;
    }
}

} // namespace app
