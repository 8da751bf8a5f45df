#pragma once
// Dialogs for a capture from the command line that starts without the toolkit's GUI: each
// message box's "title: text" goes to standard error at once, and the box itself is kept, to be
// shown by replay() once the GUI is up (after the capture, so that no window of the program is
// on the screen while it is taken). Prompts and pickers need the GUI from the start: asked here,
// they answer Cancel.

#include "Dialogs.h"

#include <QList>

namespace app {

class DeferredDialogs final : public Dialogs
{
public:
    void showMessage(const QString &title, const QString &text, Icon icon) override;
    std::optional<QString> askText(const QString &, const QString &) override
    {
        return std::nullopt;
    }
    QString chooseFolder(const QString &, const QString &) override { return {}; }

    bool hasMessages() const { return !m_messages.isEmpty(); }
    // Shows the kept boxes, in their order, on shown.
    void replay(Dialogs &shown);

private:
    struct Message
    {
        QString title;
        QString text;
        Icon icon;
    };
    QList<Message> m_messages;
};

} // namespace app
