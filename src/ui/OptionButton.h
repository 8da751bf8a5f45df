#pragma once
// An option button of the main window. Its group's exclusivity is kept by the window's handlers
// rather than by Qt, so that the program can switch every button of a group off. A click on a
// button that is already on leaves it on.

#include <QRadioButton>

namespace ui {

class OptionButton : public QRadioButton
{
public:
    explicit OptionButton(const QString &text, QWidget *parent = nullptr)
        : QRadioButton(text, parent)
    {
        setAutoExclusive(false);
    }

protected:
    void nextCheckState() override
    {
        if (!isChecked())
            setChecked(true);
    }
};

} // namespace ui
