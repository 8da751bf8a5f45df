#include "PngReader.h"

#include "MappedPixels.h"

#include <QFile>
#include <QImageReader>

#include <libdeflate.h>
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The kind of PNG the desktops' portals write (8-bit RGB or RGBA, not interlaced, in sRGB) is
// read here in one piece: the file into memory with every chunk's checksum checked, the pixels
// inflated at once by libdeflate (which checks the stream's own checksum, and that it fills the
// rows exactly), then unfiltered row by row and converted to XRGB. zlib's inflate, which libpng
// uses, copies a run of repeated pixels byte by byte, and a plain screen is mostly such runs.
// Any other kind, a gamma other than sRGB's, a transparent colour, an unknown critical chunk or
// anything that does not check out is left to libpng, which reads every kind and says why it
// refuses a file. The output is libpng's, byte for byte.

std::uint32_t bigEndian(const std::uint8_t *at)
{
    return std::uint32_t(at[0]) << 24 | std::uint32_t(at[1]) << 16 | std::uint32_t(at[2]) << 8 |
           std::uint32_t(at[3]);
}

// A file's bytes (not cleared first: each is read into place).
struct FileBytes
{
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t size = 0;
};

// The whole of a regular file, or nothing when it cannot be read or is larger than limit.
FileBytes fileBytes(const QString &path, std::size_t limit)
{
    FileBytes bytes;
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return bytes;
    struct stat status = {};
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
        std::size_t(status.st_size) <= limit) {
        const auto size = std::size_t(status.st_size);
        bytes.data.reset(new (std::nothrow) std::uint8_t[size]);
        while (bytes.data && bytes.size < size) {
            const ssize_t got = ::read(fd, bytes.data.get() + bytes.size, size - bytes.size);
            if (got <= 0)
                break;
            bytes.size += std::size_t(got);
        }
    }
    close(fd);
    return bytes;
}

// Reverses the row's filter in place: row (bytes of one line, after its filter byte) against
// the line above, prior (zeros above the first). Bpp: bytes per pixel. False for an unknown
// filter.
template <std::size_t Bpp>
bool unfilter(std::uint8_t filter, std::uint8_t *row, const std::uint8_t *prior, std::size_t n)
{
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (std::size_t i = Bpp; i < n; ++i)
            row[i] = std::uint8_t(row[i] + row[i - Bpp]);
        return true;
    case 2:
        for (std::size_t i = 0; i < n; ++i)
            row[i] = std::uint8_t(row[i] + prior[i]);
        return true;
    case 3:
        for (std::size_t i = 0; i < Bpp; ++i)
            row[i] = std::uint8_t(row[i] + (prior[i] >> 1));
        for (std::size_t i = Bpp; i < n; ++i)
            row[i] = std::uint8_t(row[i] + ((unsigned(row[i - Bpp]) + prior[i]) >> 1));
        return true;
    case 4:
        for (std::size_t i = 0; i < Bpp; ++i)
            row[i] = std::uint8_t(row[i] + prior[i]);
        for (std::size_t i = Bpp; i < n; ++i) {
            const int a = row[i - Bpp], b = prior[i], c = prior[i - Bpp];
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            row[i] = std::uint8_t(row[i] + predicted);
        }
        return true;
    default:
        return false;
    }
}

// The rows of filtered (height lines of a filter byte and width * Bpp bytes), unfiltered and
// written as XRGB into pixels (stride width * 4). filtered may lie in pixels' own memory at or
// after where the rows are written (see readPortalPng()): each line is unfiltered into a row
// of its own before its pixels are written.
template <std::size_t Bpp>
bool unfilterRows(const std::uint8_t *filtered, std::uint8_t *pixels, std::size_t width,
                  std::size_t height)
{
    const std::size_t lineBytes = width * Bpp;
    std::vector<std::uint8_t> rows(2 * lineBytes, 0);
    std::uint8_t *row = rows.data(), *prior = rows.data() + lineBytes;
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t *line = filtered + y * (lineBytes + 1);
        std::memcpy(row, line + 1, lineBytes);
        if (!unfilter<Bpp>(line[0], row, prior, lineBytes))
            return false;
        std::uint8_t *out = pixels + y * width * 4;
        for (std::size_t x = 0; x < width; ++x) {
            out[4 * x] = row[Bpp * x + 2];
            out[4 * x + 1] = row[Bpp * x + 1];
            out[4 * x + 2] = row[Bpp * x];
            out[4 * x + 3] = Bpp == 4 ? row[Bpp * x + 3] : 0xff;
        }
        std::swap(row, prior);
    }
    return true;
}

struct Decompressor
{
    libdeflate_decompressor *decompressor = libdeflate_alloc_decompressor();
    ~Decompressor() { libdeflate_free_decompressor(decompressor); }
    Decompressor() = default;
    Decompressor(const Decompressor &) = delete;
    Decompressor &operator=(const Decompressor &) = delete;
};

// The kind portals write, read here in one piece; null when left to libpng.
std::shared_ptr<const MappedPixels> readPortalPng(const QString &path, PixelMemory &memory)
{
    // Large enough for a picture of MaxPixels pixels and some more than its raw samples.
    const FileBytes bytesRead = fileBytes(path, std::size_t(1) << 31);
    const std::uint8_t *const file = bytesRead.data.get();
    const std::size_t fileSize = bytesRead.size;
    static constexpr std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (fileSize < 8 + 25 || std::memcmp(file, signature, 8) != 0)
        return nullptr;
    std::size_t width = 0, height = 0, bpp = 0;
    std::vector<std::pair<std::size_t, std::size_t>> idat; // offset and length of each IDAT
    bool ended = false;
    for (std::size_t at = 8; !ended;) {
        if (fileSize - at < 12)
            return nullptr;
        const std::size_t length = bigEndian(&file[at]);
        if (length > fileSize - at - 12)
            return nullptr;
        const std::uint8_t *type = &file[at + 4], *data = &file[at + 8];
        if (libdeflate_crc32(0, type, 4 + length) != bigEndian(data + length))
            return nullptr;
        const auto is = [type](const char *name) { return std::memcmp(type, name, 4) == 0; };
        if (at == 8) {
            // IHDR: 8-bit RGB (2) or RGBA (6), compression and filter method 0, not interlaced.
            if (!is("IHDR") || length != 13 || data[8] != 8 || (data[9] != 2 && data[9] != 6) ||
                data[10] != 0 || data[11] != 0 || data[12] != 0)
                return nullptr;
            width = bigEndian(data);
            height = bigEndian(data + 4);
            bpp = data[9] == 6 ? 4 : 3;
            if (width == 0 || height == 0 || width > PngReader::MaxPixels ||
                height > PngReader::MaxPixels || width * height > PngReader::MaxPixels)
                return nullptr;
        } else if (is("IDAT")) {
            if (!idat.empty() && idat.back().first + idat.back().second + 12 != at + 8)
                return nullptr; // IDAT chunks must follow one another
            idat.emplace_back(at + 8, length);
        } else if (is("IEND")) {
            ended = true;
        } else if (is("gAMA")) {
            // The gamma of sRGB (1/2.2), as libpng takes it: any other is converted there.
            if (length != 4 || bigEndian(data) != 45455)
                return nullptr;
        } else if (is("tRNS") || is("cHRM") || is("iCCP") ||
                   (!is("PLTE") && (type[0] & 0x20) == 0)) {
            // a transparent colour, primaries or a colour profile, or a critical chunk not
            // known here
            return nullptr;
        }
        at += 12 + length;
    }
    if (idat.empty())
        return nullptr;
    // The filtered lines are inflated into the end of the picture's own memory, and the pixels
    // written from its start: line y lies at or after where row y + 1 of the pixels begins, so
    // no line is overwritten before it has been read.
    const std::size_t stride = width * 4, lines = height * (1 + width * bpp);
    const std::size_t bytes = std::max(stride * height, lines);
    if (memory.size() < bytes)
        memory = PixelMemory(bytes);
    if (!memory.data())
        return nullptr;
    std::vector<std::uint8_t> joined;
    const std::uint8_t *compressed = &file[idat.front().first];
    std::size_t compressedBytes = idat.front().second;
    if (idat.size() > 1) {
        for (const auto &[offset, length] : idat)
            joined.insert(joined.end(), file + offset, file + offset + length);
        compressed = joined.data();
        compressedBytes = joined.size();
    }
    std::uint8_t *filtered = memory.data() + memory.size() - lines;
    std::size_t inflated = 0;
    const Decompressor decompressor;
    if (!decompressor.decompressor ||
        libdeflate_zlib_decompress(decompressor.decompressor, compressed, compressedBytes, filtered,
                                   lines, &inflated) != LIBDEFLATE_SUCCESS ||
        inflated != lines)
        return nullptr;
    const bool unfiltered = bpp == 4 ? unfilterRows<4>(filtered, memory.data(), width, height)
                                     : unfilterRows<3>(filtered, memory.data(), width, height);
    if (!unfiltered)
        return nullptr;
    return std::make_shared<const MappedPixels>(int(width), int(height), stride, std::move(memory));
}

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
    // A byte more per row: readPortalPng() inflates an RGBA file's filtered lines (a filter byte
    // and four bytes a pixel) into the same memory.
    return size.isEmpty() ? 0 : (std::size_t(size.width()) * 4 + 1) * std::size_t(size.height());
}

imaging::Picture PngReader::read(const QString &path, PixelMemory memory, QString *failure)
{
    QString why;
    try {
        if (auto pixels = readPortalPng(path, memory))
            return imaging::Picture(std::move(pixels));
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
