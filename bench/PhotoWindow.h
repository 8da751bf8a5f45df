#pragma once
// The window of photo-like content that stands for another program in the Wayland benches: a
// bench program started once more with --photo runs photoWindowMain(). It prints "ready" on
// standard output once it has drawn itself at least 1920 pixels wide (and the compositor had a
// moment to show it), and ends when its standard input closes. fullScreen asks for the whole
// screen (GNOME, KWin); otherwise the compositor places it (sway tiles it over the output).
// content draws the window at its size in pixels (photo-like unless given).

#include <QImage>

namespace bench {

using ContentMaker = QImage (*)(int width, int height);

int photoWindowMain(int argc, char *argv[], bool fullScreen, ContentMaker content = nullptr);

} // namespace bench
