#pragma once
// SavePNG: writes a Picture as a PNG file with exactly the screen's pixels, through the formats'
// one save path (ImageFormat.h), with SaveJPG's replacement and failure rules.
//   - palette screens: an 8-bit palette image with the screen's 256 colours;
//   - 24/32-bit screens: 8-bit RGB; 16-bit screens: 8-bit RGB widened by bit replication, with
//     an sBIT chunk naming the screen's 5-6-5 bits;
//   - channels over 8 bits (30-bit screens): 16-bit RGB widened by bit replication, with sBIT;
//   - never an alpha channel: no screen layout here has one.

#include "NameSequence.h"
#include "Picture.h"

#include <QString>
#include <cstdint>

namespace imaging {

class AtomicFile;

void SavePNG(const Picture &picture, const QString &path);

// The same, but never replacing a file: the PNG goes to the first of names that nothing has at
// the moment of the rename (NameSequence). Returns that name.
QString SavePNG(const Picture &picture, const NameSequence &names);

// The PNG format's writer (FormatWriter; no quality): rows compressed in bands on several
// threads as they arrive from the screen (PngBandEncoder).
void writePng(const Picture::Data &data, AtomicFile &file, std::uint8_t quality);

} // namespace imaging
