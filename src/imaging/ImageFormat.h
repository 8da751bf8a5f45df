#pragma once
// The file formats a capture can be written in. Each knows its file-name extension and its
// writer; a new format means a new writer, a value here and an option on the main window.

#include "NameSequence.h"
#include "Picture.h"

#include <QString>
#include <cstdint>

namespace imaging {

enum class ImageFormat { Jpeg, Bmp };

// ".jpg" or ".bmp": the extension the program gives files of the format.
QString extension(ImageFormat format);

// Writes picture to path in format, JPEG at quality (0 to 100; ignored by the other formats),
// through the format's writer (SaveJPG, SaveBMP). Throws core::Error as that writer does.
void savePicture(const Picture &picture, const QString &path, ImageFormat format,
                 std::uint8_t quality);

// The same, but never replacing a file: the picture goes to the first of names that nothing has
// at the moment of the rename (NameSequence). Returns that name.
QString savePicture(const Picture &picture, const NameSequence &names, ImageFormat format,
                    std::uint8_t quality);

} // namespace imaging
