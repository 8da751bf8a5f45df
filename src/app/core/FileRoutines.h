#pragma once
// Small file-system routines of the start-up sequence.

#include <QString>

namespace app {

// The user's desktop folder followed by "/" (the home folder when the desktop folder does not
// exist). Throws core::Error 5 "Invalid procedure call or argument" when no path can be had.
QString DesktopFolderPath();

// The rule behind DesktopFolderPath, given the desktop folder the user's XDG directories name
// and the home folder: desktop + "/", or home + "/" when the desktop is no folder but home is.
// Throws core::Error 5 "Invalid procedure call or argument" when desktop is empty.
QString DesktopFolderPathFrom(const QString &desktop, const QString &home);

// True exactly when the path's modification time can be read. Never throws.
bool FileExists(const QString &path);

} // namespace app
