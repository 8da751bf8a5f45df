#pragma once
// SaveJPG: encodes a Picture as a JPEG file at the given quality (0 to 100, higher is better),
// through the formats' one save path (ImageFormat.h): replaced atomically, nothing left behind
// on a failure. Throws core::Error number 5 with "Cannot save the image. GDI+ Error:" followed
// directly by a nonzero status: 1 encoder failure or the picture's transfer from the screen
// failed, 2 empty picture, 3 out of memory, 7 other I/O failure (disk full, name too long, ...),
// 10 folder missing, 12 access denied. Waits for a capture still arriving, also when it fails.

#include "NameSequence.h"
#include "Picture.h"

#include <core/Error.h>

#include <QString>
#include <cstdint>

namespace imaging {

class AtomicFile;

void SaveJPG(const Picture &picture, const QString &path, std::uint8_t quality);

// The same, but never replacing a file: the JPEG goes to the first of names that nothing has at
// the moment of the rename (NameSequence). Returns that name.
QString SaveJPG(const Picture &picture, const NameSequence &names, std::uint8_t quality);

// The JPEG format's writer (FormatWriter): strips encoded on several threads as rows arrive.
void writeJpeg(const Picture::Data &data, AtomicFile &file, std::uint8_t quality);

} // namespace imaging
