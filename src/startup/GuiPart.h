#pragma once
// The program's GUI part: everything that needs Qt Gui, Qt Widgets or Qt D-Bus, in a library of
// the program's own that the executable loads (GuiModule) only when it needs it: for the window,
// the notification of a written file, and, in a capture from the command line, for a box, the
// name prompt, KDE's route or a desktop interface on the session bus. The executable itself runs
// on Qt Core, so that a capture from the command line starts quickly. The library makes one
// GuiPart (vo_make_gui_part); its owner deletes it before the process ends or never.

#include "DesktopParts.h"
#include "Dialogs.h"

#include <QString>

namespace startup {

class GuiPart
{
public:
    // The boxes of the started GUI: shown (on a platform that shows no windows, nothing is shown
    // and a prompt answers Cancel), and the same with each box's text on standard error too.
    struct Dialogs
    {
        app::Dialogs &shown;
        app::Dialogs &echoed;
    };

    virtual ~GuiPart() = default;

    // The program without arguments: the main window, until it is closed. The exit status.
    virtual int runWindow(int &argc, char **argv) = 0;

    // The notification of path, a file written by a capture from the command line, kept until it
    // is closed. The exit status.
    virtual int notifyWritten(int &argc, char **argv, const QString &path) = 0;

    // Starts the toolkit's GUI, once (later calls give the same); no QCoreApplication may exist
    // then. Without a display to show it on: the program's one-line message and exit 1. The
    // application object stays until the GuiPart is deleted.
    virtual Dialogs startGui(int &argc, char **argv) = 0;

    // The capture routes' parts of the toolkit and the session bus (call after startGui(), or
    // for busBackend alone before it).
    virtual platform::DesktopParts desktopParts() = 0;
};

} // namespace startup

// The library's one entry: a new GuiPart, owned by the caller.
extern "C" startup::GuiPart *vo_make_gui_part();
