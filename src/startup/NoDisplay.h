#pragma once
// Where no window can be shown. NoDisplayExit, alive while the application object is made, turns
// Qt's abort when it can open no display into the program's own one-line message on standard
// error, naming what was tried, and exit status 1; Qt's own messages of that moment are held
// back, and passed on as they came once a display is found. On a platform that has no screen to
// show a box on (offscreen, minimal), UnshownDialogs stands in for the boxes: nothing would ever
// answer them.

#include "Dialogs.h"

#include <QtGlobal>

namespace startup {

class NoDisplayExit
{
public:
    NoDisplayExit();
    ~NoDisplayExit();
    NoDisplayExit(const NoDisplayExit &) = delete;
    NoDisplayExit &operator=(const NoDisplayExit &) = delete;

private:
    QtMessageHandler m_previous;
};

// Whether the running Qt platform has no screen a person sees.
bool showsNoWindows();

// Dialogs that show nothing: a message box is left out (an EchoingDialogs in front of these
// writes it to standard error), a prompt is answered with Cancel, a folder picker with nothing.
class UnshownDialogs final : public app::Dialogs
{
public:
    void showMessage(const QString &, const QString &, Icon) override {}
    std::optional<QString> askText(const QString &caption, const QString &message) override;
    QString chooseFolder(const QString &, const QString &) override { return {}; }
};

} // namespace startup
