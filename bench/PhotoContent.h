#pragma once
// Busy, photo-like test content for the benchmark: smooth multi-scale colour fields, soft shapes
// and fine grain, and a way to put it on an X11 root window (24/32-bit TrueColor screens).

#include <QImage>
#include <QString>

namespace bench {

// A deterministic 32-bit picture of the given size.
QImage photoContent(int width, int height);

// Draws image (Format_RGB32) on the root window of $DISPLAY at (0, 0). Returns false on failure.
bool putOnRootWindow(const QImage &image);

} // namespace bench
