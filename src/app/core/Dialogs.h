#pragma once
// Every modal box, prompt and picker the program shows goes through this interface, so that
// tests replace it with a recorder and never block on a real modal dialog.

#include <QString>
#include <optional>

class QWidget;

namespace app {

class Dialogs
{
public:
    enum class Icon { None, Warning };

    virtual ~Dialogs() = default;

    // A modal message box with a single OK button.
    virtual void showMessage(const QString &title, const QString &text, Icon icon) = 0;

    // A modal text prompt with OK and Cancel and an empty entry field; nullopt on Cancel.
    virtual std::optional<QString> askText(const QString &caption, const QString &message) = 0;

    // A modal folder picker (folders only) that opens on startFolder (empty: the picker's own
    // choice); the chosen folder's path, or the empty text on Cancel.
    virtual QString chooseFolder(const QString &title, const QString &startFolder) = 0;

    // The window that owns the boxes (may be null).
    void setParentWindow(QWidget *parent) { m_parent = parent; }
    QWidget *parentWindow() const { return m_parent; }

private:
    QWidget *m_parent = nullptr;
};

} // namespace app
