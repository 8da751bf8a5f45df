#pragma once
// The product's name and the application title made of it, which every box of the program
// carries as its caption (the window as well as a capture from the command line).

#include <QString>

namespace startup {

inline constexpr auto ProductName = "Vistarel Ombrix";

// The product name with its last word cut off, and further words while it is longer than 40
// characters ("Vistarel Ombrix" gives "Vistarel"). A name without a blank gives the empty text.
QString AppTitle(const QString &productName);

// Makes AppTitle(ProductName) the application's title: QGuiApplication::applicationDisplayName()
// answers it from then on, and boxes without a caption of their own take it. It is set as the
// application name, not as a display name: Qt on X11 appends a display name to every window
// caption ("Application Error — Vistarel"), which would change the program's own captions.
void SetAppTitle();

} // namespace startup
