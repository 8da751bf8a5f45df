#pragma once
// The program's modal boxes, prompts and folder picker, made with Qt widgets. Each call blocks in
// the box's own event loop until the user closes it. The boxes are owned by the call that shows
// them; the parent window (Dialogs::parentWindow) is only borrowed.

#include "Dialogs.h"

namespace app {

class QtDialogs : public Dialogs
{
public:
    // A QMessageBox with the title, a warning icon or none, and a single OK button. The text is
    // shown as plain text; its CR LF and lone CR breaks are shown as line breaks.
    void showMessage(const QString &title, const QString &text, Icon icon) override;

    // A QInputDialog with the caption as its title, the message as its label, an empty field,
    // and OK and Cancel; the typed text on OK (possibly empty), nullopt on Cancel.
    std::optional<QString> askText(const QString &caption, const QString &message) override;

    // A QFileDialog that accepts folders only, titled with title, opening on startFolder when
    // that is not empty; the chosen folder's path (no trailing "/" except for the root), or the
    // empty text on Cancel.
    QString chooseFolder(const QString &title, const QString &startFolder) override;

    // The text a message box shows for a report text: CR LF and lone CR become LF.
    static QString displayText(const QString &text);
};

} // namespace app
