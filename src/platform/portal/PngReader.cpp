#include "PngReader.h"

#include "MappedPixels.h"

#include <QFile>
#include <QImageReader>

#include <png.h>

#include <memory>

namespace platform {

namespace {

// libpng's simplified reader with its file, released on every path.
struct PngImage
{
    png_image image{};

    PngImage() { image.version = PNG_IMAGE_VERSION; }
    ~PngImage() { png_image_free(&image); }
    PngImage(const PngImage &) = delete;
    PngImage &operator=(const PngImage &) = delete;

    QString message() const { return QString::fromLatin1(image.message); }
};

// The pixels through libpng, or null with why.
std::shared_ptr<const MappedPixels> readWithLibpng(const QString &path, PixelMemory memory,
                                                   QString &failure)
{
    PngImage png;
    const QByteArray file = QFile::encodeName(path);
    if (!png_image_begin_read_from_file(&png.image, file.constData())) {
        failure = png.message();
        return nullptr;
    }
    const std::size_t width = png.image.width, height = png.image.height;
    if (width == 0 || height == 0 || width * height > PngReader::MaxPixels) {
        failure =
            QStringLiteral("%1x%2 pixels are more than a screenshot has").arg(width).arg(height);
        return nullptr;
    }
    // Blue, green, red, alpha in memory: 32-bit XRGB on this little-endian machine; an opaque
    // file's alpha is 255, and an alpha channel is not multiplied into the colours.
    png.image.format = PNG_FORMAT_BGRA;
    // A 16-bit file without gamma (ImageMagick 7 writes none) holds sRGB values, as every other
    // reader takes them; libpng would otherwise take them as linear and brighten the picture.
    png.image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    const std::size_t stride = width * 4;
    if (memory.size() < stride * height)
        memory = PixelMemory(stride * height);
    if (!memory.data()) {
        failure = QStringLiteral("no memory for %1x%2 pixels").arg(width).arg(height);
        return nullptr;
    }
    if (!png_image_finish_read(&png.image, nullptr, memory.data(), png_int_32(stride), nullptr)) {
        failure = png.message();
        return nullptr;
    }
    return std::make_shared<const MappedPixels>(int(width), int(height), stride, std::move(memory));
}

} // namespace

std::size_t PngReader::memoryFor(QSize size)
{
    return size.isEmpty() ? 0 : std::size_t(size.width()) * std::size_t(size.height()) * 4;
}

imaging::Picture PngReader::read(const QString &path, PixelMemory memory, QString *failure)
{
    QString why;
    try {
        if (auto pixels = readWithLibpng(path, std::move(memory), why))
            return imaging::Picture(std::move(pixels));
        QImageReader reader(path);
        reader.setAutoTransform(false);
        const QImage image = reader.read();
        if (!image.isNull())
            return imaging::Picture::fromImage(image);
    } catch (const std::bad_alloc &) {
        why = QStringLiteral("out of memory");
    }
    if (failure)
        *failure = why;
    return {};
}

} // namespace platform
