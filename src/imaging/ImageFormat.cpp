#include "ImageFormat.h"

#include "AtomicFile.h"
#include "BmpWriter.h"
#include "JpegWriter.h"
#include "PictureData.h"
#include "PngWriter.h"
#include "SaveError.h"

#include <algorithm>
#include <new>

namespace imaging {

namespace {

// clang-format off
constexpr FormatRow Formats[] = {
    {ImageFormat::Jpeg, ".jpg", writeJpeg, true},
    {ImageFormat::Bmp,  ".bmp", writeBmp,  false},
    {ImageFormat::Png,  ".png", writePng,  false},
};
// clang-format on

const Picture::Data &validData(const Picture &picture)
{
    const auto &data = picture.data();
    if (!data || !data->layout.isValid())
        throw saveError(SaveStatus::InvalidParameter);
    return *data;
}

// names: empty to replace the file at path, else the names to claim (names(0) is path).
QString save(const Picture &picture, const QString &path, const NameSequence &names,
             ImageFormat format, std::uint8_t quality)
{
    const TransferCompletion completion(validData(picture));
    try {
        AtomicFile file(path);
        writePicture(picture, file, format, quality);
        if (names)
            return file.commitFirstFree(names);
        file.commit();
        return path;
    } catch (const std::bad_alloc &) {
        throw saveError(SaveStatus::OutOfMemory);
    }
}

} // namespace

std::span<const FormatRow> formatTable()
{
    return Formats;
}

const FormatRow &formatRow(ImageFormat format)
{
    const auto *row = std::find_if(std::begin(Formats), std::end(Formats),
                                   [format](const FormatRow &r) { return r.format == format; });
    return row != std::end(Formats) ? *row : Formats[0];
}

QString extension(ImageFormat format)
{
    return QLatin1String(formatRow(format).extension);
}

void writePicture(const Picture &picture, AtomicFile &file, ImageFormat format,
                  std::uint8_t quality)
{
    const Picture::Data &data = validData(picture);
    const TransferCompletion completion(data);
    try {
        formatRow(format).write(data, file, quality);
    } catch (const std::bad_alloc &) {
        throw saveError(SaveStatus::OutOfMemory);
    }
}

void savePicture(const Picture &picture, const QString &path, ImageFormat format,
                 std::uint8_t quality)
{
    save(picture, path, {}, format, quality);
}

QString savePicture(const Picture &picture, const NameSequence &names, ImageFormat format,
                    std::uint8_t quality)
{
    return save(picture, names(0), names, format, quality);
}

} // namespace imaging
