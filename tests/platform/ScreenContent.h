#pragma once
// Known content for the screens of the capture tests: a pattern in the screen's own pixel format
// (smooth colours with fine detail), put on the root window, and the colours it stands for.

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRgb>
#include <vector>

namespace platform {
class X11Connection;
}

namespace testimaging {

struct ScreenPattern
{
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
    QByteArray pixels; // rows as the server stores them (its bits per pixel and padding)
    QImage colours;    // what each pixel shows, Format_RGB32
};

// The 256 colours installed for palette screens by installTestPalette().
QList<QRgb> testPalette();

// A pattern of width x height in the connection's root format; offset shifts its colours, so
// that different screen areas get different content.
ScreenPattern makePattern(const platform::X11Connection &screen, int width, int height,
                          int offset = 0);

// Draws pattern on the root window with its top-left corner at (x, y); waits until drawn.
void putOnRoot(const platform::X11Connection &screen, const ScreenPattern &pattern, int x = 0,
               int y = 0);

// Palette screens: creates a colormap holding testPalette() and installs it.
void installTestPalette(const platform::X11Connection &screen);

struct TestMonitor
{
    int x, y, width, height;
    bool primary;
};
// Replaces the screen's RandR monitors with these (RandR 1.5). Returns false if refused.
bool setMonitors(const platform::X11Connection &screen, const std::vector<TestMonitor> &monitors);

} // namespace testimaging
