#include "ImageFormat.h"

#include "BmpWriter.h"
#include "JpegWriter.h"

namespace imaging {

QString extension(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Jpeg:
        return QStringLiteral(".jpg");
    case ImageFormat::Bmp:
        break;
    }
    return QStringLiteral(".bmp");
}

void savePicture(const Picture &picture, const QString &path, ImageFormat format,
                 std::uint8_t quality)
{
    switch (format) {
    case ImageFormat::Jpeg:
        SaveJPG(picture, path, quality);
        return;
    case ImageFormat::Bmp:
        break;
    }
    SaveBMP(picture, path);
}

QString savePicture(const Picture &picture, const NameSequence &names, ImageFormat format,
                    std::uint8_t quality)
{
    switch (format) {
    case ImageFormat::Jpeg:
        return SaveJPG(picture, names, quality);
    case ImageFormat::Bmp:
        break;
    }
    return SaveBMP(picture, names);
}

} // namespace imaging
