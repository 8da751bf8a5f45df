#pragma once
// What the capture command works for: the user's choices, read afresh where each statement
// uses them, and the window that steps aside while the screen is captured. The main window is
// one; the saved choices of a capture from the command line (no window) are the other.

#include "ImageFormat.h"
#include "NamingMode.h"

#include <QString>

class QWindow;

namespace ui {

class CaptureClient
{
public:
    virtual ~CaptureClient() = default;

    virtual QString folder() const = 0;
    virtual QString prefix() const = 0;
    virtual NamingMode namingMode() const = 0;
    virtual imaging::ImageFormat imageFormat() const = 0;
    virtual int jpegQuality() const = 0;

    // The mouse-pointer value over the window: 11 (hourglass) while a capture runs, then 0.
    virtual void setMousePointer(int value) = 0;

    // The window that would be in the picture: shown now, or null.
    virtual QWindow *shownWindow() const = 0;
    // Hides that window for the capture, and brings it back afterwards.
    virtual void stepAside() = 0;
    virtual void comeBack() = 0;
};

} // namespace ui
