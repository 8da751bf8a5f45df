#pragma once
// Checks shared by the imaging tests: reading a file back through ImageMagick, comparing
// pictures, PSNR, and listing what a save left in a folder.

#include <QImage>
#include <QString>
#include <QStringList>

namespace testimaging {

// The file decoded by ImageMagick's convert, as Format_RGB32 (depth 16: Format_RGBX64); a null
// image if it failed.
QImage readWithImageMagick(const QString &path, int depth = 8);

// ImageMagick's name for the file's channels, e.g. "srgb" (no alpha) or "srgba".
QString imageMagickChannels(const QString &path);

// Peak signal-to-noise ratio over R, G, B of two images of the same size, in dB.
double psnr(const QImage &a, const QImage &b);

// Number of pixels whose colour differs; with bits < 8 only the top bits of each channel count
// (for 16-bit screens, where readers expand 5 or 6 bits to 8 in their own ways).
qsizetype differingPixels(const QImage &a, const QImage &b, int redBits = 8, int greenBits = 8,
                          int blueBits = 8);

// Every entry of folder, hidden ones included.
QStringList folderEntries(const QString &folder);

} // namespace testimaging
