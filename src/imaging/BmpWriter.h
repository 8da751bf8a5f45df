#pragma once
// SaveBMP: writes a Picture as an uncompressed Windows bitmap file (file header and
// BITMAPINFOHEADER, bottom-up rows; 8-bit with its palette for palette captures), through the
// formats' one save path (ImageFormat.h), with SaveJPG's replacement and failure rules.

#include "NameSequence.h"
#include "Picture.h"

#include <core/Error.h>

#include <QString>
#include <cstdint>

namespace imaging {

class AtomicFile;

void SaveBMP(const Picture &picture, const QString &path);

// The same, but never replacing a file: the bitmap goes to the first of names that nothing has
// at the moment of the rename (NameSequence). Returns that name.
QString SaveBMP(const Picture &picture, const NameSequence &names);

// The BMP format's writer (FormatWriter; no quality): rows written straight from the picture's
// memory as they arrive.
void writeBmp(const Picture::Data &data, AtomicFile &file, std::uint8_t quality);

} // namespace imaging
