#pragma once
// The three kinds of screen content the PNG figures are measured on: photo-like (PhotoContent),
// text and user interface (windows, menus, lines of text in several fonts, buttons, icons), and
// mostly flat (a plain desktop with a few windows of solid colour). Deterministic.

#include <QImage>

namespace bench {

QImage userInterfaceContent(int width, int height);
QImage flatContent(int width, int height);

} // namespace bench
