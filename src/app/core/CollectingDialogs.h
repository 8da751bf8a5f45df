#pragma once
// Dialogs that pass every call on to other dialogs and, while collecting, also keep each message
// box's "title: text" (line breaks as LF), as EchoingDialogs writes it: what a capture handed
// over from the command line reports back to it. Holds a reference to the dialogs, which must
// outlive it.

#include "Dialogs.h"

#include <QStringList>

namespace app {

class CollectingDialogs final : public Dialogs
{
public:
    explicit CollectingDialogs(Dialogs &shown)
        : m_shown(shown)
    {
    }

    void startCollecting();
    // The texts kept since startCollecting(); stops collecting.
    QStringList takeCollected();

    void showMessage(const QString &title, const QString &text, Icon icon) override;
    std::optional<QString> askText(const QString &caption, const QString &message) override
    {
        return m_shown.askText(caption, message);
    }
    QString chooseFolder(const QString &title, const QString &startFolder) override
    {
        return m_shown.chooseFolder(title, startFolder);
    }

    // "title: text" with CR LF and lone CR as LF.
    static QString plainLine(const QString &title, const QString &text);

private:
    Dialogs &m_shown;
    bool m_collecting = false;
    QStringList m_collected;
};

} // namespace app
