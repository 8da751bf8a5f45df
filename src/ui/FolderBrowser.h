#pragma once
// The folder browser behind the "..." button: a modal folder picker (folders only) shown
// through the replaceable dialogs, owned by the dialogs' parent window.

#include <QString>

namespace app {
class Dialogs;
}

namespace ui {

class FolderBrowser
{
public:
    explicit FolderBrowser(app::Dialogs &dialogs);

    // Opens the picker titled title, asked to start on startFolder (empty: the picker's own
    // choice), and returns the chosen folder's path; the empty text on Cancel or when the
    // answer is not an existing folder. Modal: returns when the picker closes.
    QString ShowFolderBrowser(const QString &title, const QString &startFolder);

private:
    app::Dialogs &m_dialogs;
};

} // namespace ui
