#pragma once
// The file formats a capture can be written in, as one table: each row names its format, the
// extension the program gives its files, its writer and whether the JPG quality applies to it.
// Every writer goes through one save path (savePicture): the picture's rows are written into an
// AtomicFile beside the target, which is then put in place over the target or under the first
// free of a sequence of names. A new format is a row here, its writer, and an option on the
// main window.
//
// Failures throw the writers' save error (core::Error 5, "Cannot save the image. GDI+ Error:"
// and a status: SaveError.h). A save waits for a capture still arriving, also when it fails.

#include "NameSequence.h"
#include "Picture.h"

#include <QString>
#include <cstdint>
#include <span>

namespace imaging {

class AtomicFile;

enum class ImageFormat { Jpeg, Bmp, Png };

// Writes the picture's pixels (a valid layout; rows may still be arriving) into file in the
// format, at quality when the format uses one. Throws the save error, or std::bad_alloc.
using FormatWriter = void (*)(const Picture::Data &data, AtomicFile &file, std::uint8_t quality);

struct FormatRow
{
    ImageFormat format;
    const char *extension; // with its dot: ".jpg"
    FormatWriter write;
    bool usesQuality; // the JPG quality (0 to 100, higher is better) applies
};

// Every format, in the order of the Format options.
std::span<const FormatRow> formatTable();
const FormatRow &formatRow(ImageFormat format);

// ".jpg", ".bmp" or ".png": the extension the program gives files of the format.
QString extension(ImageFormat format);

// Writes picture to path in format (quality: see FormatRow), replacing a file of that name
// atomically: the old file stays intact when the save fails, and no temporary file is left.
void savePicture(const Picture &picture, const QString &path, ImageFormat format,
                 std::uint8_t quality);

// The same, but never replacing a file: the picture goes to the first of names that nothing has
// at the moment of the rename (NameSequence). Returns that name.
QString savePicture(const Picture &picture, const NameSequence &names, ImageFormat format,
                    std::uint8_t quality);

// The two halves of a save, for a save prepared ahead (PendingSave): writes picture in format
// into file, a temporary file that the caller then commits (or drops).
void writePicture(const Picture &picture, AtomicFile &file, ImageFormat format,
                  std::uint8_t quality);

} // namespace imaging
