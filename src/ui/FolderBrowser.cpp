#include "FolderBrowser.h"

#include "Dialogs.h"

#include <QFileInfo>

namespace ui {

FolderBrowser::FolderBrowser(app::Dialogs &dialogs)
    : m_dialogs(dialogs)
{
}

QString FolderBrowser::ShowFolderBrowser(const QString &title, const QString &startFolder)
{
    QString chosen = m_dialogs.chooseFolder(title, startFolder);
    // A path never holds a NUL; whatever follows one is not part of it.
    const qsizetype nul = chosen.indexOf(QChar(u'\0'));
    if (nul >= 0)
        chosen.truncate(nul);
    if (chosen.isEmpty() || !QFileInfo(chosen).isDir())
        return {};
    return chosen;
}

} // namespace ui
