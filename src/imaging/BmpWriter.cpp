#include "BmpWriter.h"

#include "AtomicFile.h"
#include "BmpHeader.h"
#include "ImageFormat.h"
#include "PictureData.h"
#include "SaveError.h"

#include <algorithm>
#include <vector>

namespace imaging {

namespace {

// Rows are written straight from the picture's memory as they arrive from the screen: each band
// of rows lands at its place in the bottom-up file with one positioned gathered write.
constexpr int RowsPerWrite = 64;

void writeRows(AtomicFile &file, const Picture::Data &data, const BmpHeader &header)
{
    const PixelLayout &layout = data.layout;
    static const char zeros[4] = {};
    const std::size_t fromPicture = std::min(header.rowBytes, layout.stride);
    const std::size_t padding = header.rowBytes - fromPicture; // only if the screen pads less
    std::vector<iovec> buffers;
    buffers.reserve(RowsPerWrite * 2);

    for (int top = 0; top < layout.height; top += RowsPerWrite) {
        const int bottom = std::min(layout.height, top + RowsPerWrite); // exclusive
        if (!data.waitForRows(bottom))
            throw saveError(SaveStatus::GenericError);
        buffers.clear();
        for (int y = bottom - 1; y >= top; --y) {
            buffers.push_back({const_cast<std::uint8_t *>(data.scanLine(y)), fromPicture});
            if (padding > 0)
                buffers.push_back({const_cast<char *>(zeros), padding});
        }
        const auto rowInFile = static_cast<off_t>(layout.height - bottom);
        const off_t offset = static_cast<off_t>(header.bytes.size()) +
                             rowInFile * static_cast<off_t>(header.rowBytes);
        file.writeAt(offset, buffers.data(), static_cast<int>(buffers.size()));
    }
}

} // namespace

void writeBmp(const Picture::Data &data, AtomicFile &file, std::uint8_t)
{
    const BmpHeader header = BmpHeader::build(data.layout, data.palette);
    if (header.bytes.isEmpty())
        throw saveError(SaveStatus::InvalidParameter);
    iovec head{const_cast<char *>(header.bytes.constData()),
               static_cast<std::size_t>(header.bytes.size())};
    file.writeAt(0, &head, 1);
    writeRows(file, data, header);
}

void SaveBMP(const Picture &picture, const QString &path)
{
    savePicture(picture, path, ImageFormat::Bmp, 0);
}

QString SaveBMP(const Picture &picture, const NameSequence &names)
{
    return savePicture(picture, names, ImageFormat::Bmp, 0);
}

} // namespace imaging
