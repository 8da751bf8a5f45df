#pragma once
// Helpers for the tests on the sway fixture (VO_SWAY_FOLDER names the fixture's folder): the
// screen as grim sees it (the grim of $PATH, or the program VO_GRIM names, e.g. a testing root's
// grim), and sway's own commands.

#include <QImage>
#include <QStringList>

namespace waylandtools {

// The whole output (the named one, else all of them) as `grim -t ppm` sees it; a null image
// when grim fails.
QImage grimScreen(const QString &output = {});
// grimScreen() once two shots in a row agree (other programs have finished drawing).
QImage settledScreen();
// Runs swaymsg with the arguments on the fixture's sway; true when sway reports success.
bool swaymsg(const QStringList &arguments);
// Whether sway shows a window of that app id tiled (false: floating, or no such window).
bool isTiled(const QString &appId);
// Where two pictures differ: the bounding box and the number of pixels, for failure messages.
QString differences(const QImage &a, const QImage &b);

} // namespace waylandtools
