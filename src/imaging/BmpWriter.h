#pragma once
// SaveBMP: writes a Picture as an uncompressed Windows bitmap file (file header and
// BITMAPINFOHEADER, bottom-up rows; 8-bit with its palette for palette captures).
// Same replacement and failure rules as SaveJPG, with the same error number and text.

#include "NameSequence.h"
#include "Picture.h"

#include <core/Error.h>

#include <QString>

namespace imaging {

void SaveBMP(const Picture &picture, const QString &path);

// The same, but never replacing a file: the bitmap goes to the first of names that nothing has
// at the moment of the rename (NameSequence). Returns that name.
QString SaveBMP(const Picture &picture, const NameSequence &names);

} // namespace imaging
