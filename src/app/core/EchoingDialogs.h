#pragma once
// Dialogs that pass every call on to other dialogs and also write each message box's title and
// text to standard error, for a run from the command line whose caller reads that stream.
// Holds a reference to the dialogs, which must outlive it.

#include "Dialogs.h"

namespace app {

class EchoingDialogs final : public Dialogs
{
public:
    explicit EchoingDialogs(Dialogs &shown)
        : m_shown(shown)
    {
    }

    void showMessage(const QString &title, const QString &text, Icon icon) override;
    std::optional<QString> askText(const QString &caption, const QString &message) override;
    QString chooseFolder(const QString &title, const QString &startFolder) override;

private:
    Dialogs &m_shown;
};

} // namespace app
