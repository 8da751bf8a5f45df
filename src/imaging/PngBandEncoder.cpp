#include "PngBandEncoder.h"

#include "BandPool.h"
#include "DeflateBlocks.h"
#include "OrderedOutput.h"

#include <QByteArray>
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include <libdeflate.h>
#include <zlib.h>

namespace imaging {

namespace {

// About this many bytes of samples per band: small enough to follow the screen's transfer and
// keep both cores busy, large enough that the full flush between bands costs nothing to speak of.
constexpr std::size_t BandBytes = 384 * 1024;

// The PNG filters in use (Sub, Average and Paeth are not).
enum class Filter : std::uint8_t { None = 0, Up = 2 };

// One channel of a TrueColor layout.
struct Channel
{
    int shift = 0;
    int bits = 0;
    explicit Channel(std::uint32_t mask)
        : shift(mask ? std::countr_zero(mask) : 0)
        , bits(std::popcount(mask))
    {
    }
    // The value widened to `depth` bits by repeating its bits (5-bit 31 -> 255).
    std::uint32_t widened(std::uint32_t pixel, int depth) const
    {
        const std::uint32_t v = (pixel >> shift) & ((1u << bits) - 1u);
        if (bits >= depth)
            return v >> (bits - depth);
        std::uint32_t result = 0;
        int filled = 0;
        while (filled < depth) {
            result = (result << bits) | v;
            filled += bits;
        }
        return result >> (filled - depth);
    }
};

// How the picture's rows become PNG samples.
struct SampleFormat
{
    enum class Kind { Palette, Bgrx, Rgb8, Rgb16 };
    Kind kind = Kind::Bgrx;
    int bytesPerPixel = 3;
    std::size_t rowBytes = 0; // samples of one row, without the filter byte
    int depth = 8;
    std::uint8_t colourType = 2;
    Channel red{0}, green{0}, blue{0};

    explicit SampleFormat(const PixelLayout &layout)
        : red(layout.redMask)
        , green(layout.greenMask)
        , blue(layout.blueMask)
    {
        if (layout.isIndexed()) {
            kind = Kind::Palette;
            bytesPerPixel = 1;
            colourType = 3;
        } else if (layout.isXrgb32()) {
            kind = Kind::Bgrx;
        } else if (std::max({red.bits, green.bits, blue.bits}) <= 8) {
            kind = Kind::Rgb8;
        } else {
            kind = Kind::Rgb16;
            bytesPerPixel = 6;
            depth = 16;
        }
        rowBytes = static_cast<std::size_t>(layout.width) * static_cast<std::size_t>(bytesPerPixel);
    }

    // The significant bits of each channel, when fewer than the depth (an sBIT chunk).
    bool narrowerThanDepth() const
    {
        return (kind == Kind::Rgb8 || kind == Kind::Rgb16) &&
               (red.bits < depth || green.bits < depth || blue.bits < depth);
    }

    void convert(const std::uint8_t *row, int width, std::uint8_t *out) const
    {
        switch (kind) {
        case Kind::Palette:
            std::memcpy(out, row, static_cast<std::size_t>(width));
            return;
        case Kind::Bgrx: {
            // On a little-endian machine, each pixel as one word (0xXXRRGGBB), stored as four
            // bytes R, G, B and one that the next pixel overwrites; the last pixel byte by byte,
            // as nothing follows it.
            int x = 0;
            if constexpr (std::endian::native == std::endian::little) {
                for (; x + 1 < width; ++x) {
                    std::uint32_t pixel;
                    std::memcpy(&pixel, row, 4);
                    const std::uint32_t rgb = __builtin_bswap32(pixel) >> 8;
                    std::memcpy(out, &rgb, 4);
                    row += 4;
                    out += 3;
                }
            }
            for (; x < width; ++x) {
                out[0] = row[2];
                out[1] = row[1];
                out[2] = row[0];
                row += 4;
                out += 3;
            }
            return;
        }
        case Kind::Rgb8:
        case Kind::Rgb16:
            break;
        }
        const int pixelBytes = std::max(red.shift + red.bits, std::max(green.shift + green.bits,
                                                                       blue.shift + blue.bits)) > 16
                                   ? 4
                                   : 2;
        for (int x = 0; x < width; ++x) {
            std::uint32_t pixel = 0;
            if (pixelBytes == 2) {
                std::uint16_t p16;
                std::memcpy(&p16, row + 2 * x, 2);
                pixel = p16;
            } else {
                std::memcpy(&pixel, row + 4 * x, 4);
            }
            if (kind == Kind::Rgb8) {
                *out++ = static_cast<std::uint8_t>(red.widened(pixel, 8));
                *out++ = static_cast<std::uint8_t>(green.widened(pixel, 8));
                *out++ = static_cast<std::uint8_t>(blue.widened(pixel, 8));
            } else {
                for (const Channel *channel : {&red, &green, &blue}) {
                    const std::uint32_t v = channel->widened(pixel, 16);
                    *out++ = static_cast<std::uint8_t>(v >> 8);
                    *out++ = static_cast<std::uint8_t>(v);
                }
            }
        }
    }
};

// Up: each sample less the one above it, in place, from the band's last row upwards; rows holds
// the row above the band first. Written for the vectoriser.
void filterUp(std::uint8_t *rows, std::size_t rowCount, std::size_t stride, std::size_t n)
{
    for (std::size_t r = rowCount; r >= 1; --r) {
        std::uint8_t *cur = rows + r * stride;
        const std::uint8_t *above = cur - stride;
        for (std::size_t i = 0; i < n; ++i)
            cur[i] = static_cast<std::uint8_t>(cur[i] - above[i]);
    }
}

// How a band is filtered and compressed, chosen by measurement on photo-like, user-interface
// and mostly flat screens (docs/PERFORMANCE.md). What tells them apart is the share of bytes
// that the Up filter turns into zero:
//   - photo-like (under half): Up, then one block of literals. Matches find next to nothing in
//     such rows and cost several times the time;
//   - user interface (between): unfiltered, then the match finder. Letters and controls repeat
//     exactly, and any filter would hide the repeats from it;
//   - mostly flat (nearly all): Up, then the match finder. Unfiltered, each row's runs cost the
//     matches' bits again on every row (1.2x libpng's size); Up leaves them once and zeros
//     below, as small as Paeth and about three times faster.
struct BandMethod
{
    Filter filter;
    bool matches;
};

constexpr BandMethod PhotoMethod{Filter::Up, false};
constexpr BandMethod InterfaceMethod{Filter::None, true};
constexpr BandMethod FlatMethod{Filter::Up, true};
// A palette's indices have no order to predict from: as the user interface.
constexpr BandMethod PaletteMethod = InterfaceMethod;

// rows: the band's samples, stride bytes apart, with the row above it first (zeros for the top
// band).
BandMethod methodFor(const SampleFormat &format, const std::uint8_t *rows, std::size_t rowCount,
                     std::size_t stride)
{
    if (format.kind == SampleFormat::Kind::Palette)
        return PaletteMethod;
    const std::size_t n = format.rowBytes;
    std::size_t zeros = 0;
    for (std::size_t r = 1; r <= rowCount; ++r) {
        const std::uint8_t *cur = rows + r * stride, *above = cur - stride;
        std::size_t i = 0;
        // Eight bytes at a time: a byte's top bit set where the two differ, then counted.
        constexpr std::uint64_t Low7 = 0x7f7f7f7f7f7f7f7fu, Ones = 0x0101010101010101u;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t a, b;
            std::memcpy(&a, cur + i, 8);
            std::memcpy(&b, above + i, 8);
            const std::uint64_t x = a ^ b;
            const std::uint64_t same = ~(((x & Low7) + Low7) | x) & ~Low7;
            zeros += static_cast<std::size_t>(((same >> 7) * Ones) >> 56);
        }
        for (; i < n; ++i)
            zeros += cur[i] == above[i];
    }
    const double share = double(zeros) / double(rowCount * n);
    return share < 0.5 ? PhotoMethod : share < 0.97 ? InterfaceMethod : FlatMethod;
}

void putBigEndian(std::uint8_t *at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}

// A chunk: length, type, data, CRC over type and data.
QByteArray chunk(const char type[4], const QByteArray &data)
{
    QByteArray bytes(12 + data.size(), '\0');
    auto *out = reinterpret_cast<std::uint8_t *>(bytes.data());
    putBigEndian(out, static_cast<std::uint32_t>(data.size()));
    std::memcpy(out + 4, type, 4);
    std::memcpy(out + 8, data.constData(), static_cast<std::size_t>(data.size()));
    const auto crc = static_cast<std::uint32_t>(
        libdeflate_crc32(0, out + 4, 4 + static_cast<std::size_t>(data.size())));
    putBigEndian(out + 8 + data.size(), crc);
    return bytes;
}

QByteArray fileHeader(const PixelLayout &layout, const SampleFormat &format,
                      const QList<QRgb> &palette)
{
    QByteArray header("\x89PNG\r\n\x1a\n", 8);
    QByteArray ihdr(13, '\0');
    auto *p = reinterpret_cast<std::uint8_t *>(ihdr.data());
    putBigEndian(p, static_cast<std::uint32_t>(layout.width));
    putBigEndian(p + 4, static_cast<std::uint32_t>(layout.height));
    p[8] = static_cast<std::uint8_t>(format.depth);
    p[9] = format.colourType; // compression, filter and interlace methods stay 0
    header += chunk("IHDR", ihdr);
    if (format.narrowerThanDepth()) {
        const char bits[3] = {static_cast<char>(format.red.bits),
                              static_cast<char>(format.green.bits),
                              static_cast<char>(format.blue.bits)};
        header += chunk("sBIT", QByteArray(bits, 3));
    }
    if (format.kind == SampleFormat::Kind::Palette) {
        QByteArray plte;
        for (int i = 0; i < 256; ++i) {
            const QRgb colour = i < palette.size() ? palette[i] : qRgb(0, 0, 0);
            plte += static_cast<char>(qRed(colour));
            plte += static_cast<char>(qGreen(colour));
            plte += static_cast<char>(qBlue(colour));
        }
        header += chunk("PLTE", plte);
    }
    return header;
}

// One band's IDAT chunk, complete but for the Adler-32 that the joining adds at the end.
struct BandOutput
{
    Buffer<std::uint8_t> bytes; // the whole chunk
    std::size_t size = 0;
    std::uint32_t adler = 1; // of the band's uncompressed samples
    std::size_t sampleBytes = 0;
};

// One thread's compression of its bands, its match finder's tables kept from band to band.
class BandCompressor
{
public:
    // Compresses in into out's chunk: raw deflate ending in a full flush, or the final block
    // for the last band; the first band's chunk starts with the zlib header. rowBytes: of one
    // row of samples with its filter byte.
    void compress(const std::uint8_t *in, std::size_t size, const BandMethod &method,
                  std::size_t rowBytes, std::size_t pixelBytes, bool first, bool last,
                  BandOutput &out)
    {
        const std::size_t head = 8 + (first ? 2 : 0);
        const std::size_t bound = deflateBlockBound(size);
        std::uint8_t *chunkStart = out.bytes.reserve(head + bound + 4);
        if (first) {
            chunkStart[8] = 0x78; // deflate, 32 KiB window
            chunkStart[9] = 0x01; // fastest; header check bits (0x7801 % 31 == 0)
        }
        const std::size_t written =
            method.matches
                ? m_matcher.write(in, size, rowBytes, pixelBytes, last, chunkStart + head)
                : writeLiteralBlock(in, size, last, chunkStart + head);
        const std::size_t dataSize = head - 8 + written;
        putBigEndian(chunkStart, static_cast<std::uint32_t>(dataSize));
        std::memcpy(chunkStart + 4, "IDAT", 4);
        const auto crc =
            static_cast<std::uint32_t>(libdeflate_crc32(0, chunkStart + 4, 4 + dataSize));
        putBigEndian(chunkStart + 8 + dataSize, crc);
        out.size = 12 + dataSize;
        out.adler = static_cast<std::uint32_t>(libdeflate_adler32(1, in, size));
        out.sampleBytes = size;
    }

private:
    MatchBlockWriter m_matcher;
};

} // namespace

PngBandEncoder::PngBandEncoder(const Picture::Data &data)
    : m_data(data)
{
    const SampleFormat format(data.layout);
    m_bandRows = static_cast<int>(std::max<std::size_t>(1, BandBytes / (format.rowBytes + 1)));
    m_bandCount = std::max(1, (data.layout.height + m_bandRows - 1) / m_bandRows);
}

std::optional<SaveStatus> PngBandEncoder::encode(int threads, const Sink &sink)
{
    const PixelLayout &layout = m_data.layout;
    const SampleFormat format(layout);
    {
        const QByteArray header = fileHeader(layout, format, m_data.palette);
        const iovec buffer{const_cast<char *>(header.constData()),
                           static_cast<std::size_t>(header.size())};
        sink(&buffer, 1);
    }
    std::uint32_t adler = 1; // of the samples written so far
    OrderedOutput<BandOutput> output(m_bandCount, [&sink, &adler](int position, BandOutput &band) {
        adler = position == 0 ? band.adler
                              : static_cast<std::uint32_t>(adler32_combine(
                                    adler, band.adler, static_cast<z_off_t>(band.sampleBytes)));
        const iovec buffer{band.bytes.data(), band.size};
        sink(&buffer, 1);
    });
    BandPool pool(m_data, m_bandRows, m_bandCount, [&output] { return output.failed(); });
    const auto status = pool.run(threads, [&]() -> std::optional<SaveStatus> {
        BandCompressor compressor;
        // The band's samples, each row after its filter byte, after the row above the band:
        // filtering reads the row above.
        const std::size_t stride = format.rowBytes + 1;
        Buffer<std::uint8_t> samples;
        while (const auto band = pool.next()) {
            const int top = band->top, bottom = band->bottom;
            const auto rowCount = static_cast<std::size_t>(bottom - top);
            std::uint8_t *rows = samples.reserve((rowCount + 1) * stride) + 1;
            if (top == 0)
                std::fill_n(rows, format.rowBytes, std::uint8_t(0));
            else
                format.convert(m_data.scanLine(top - 1), layout.width, rows);
            for (int y = top; y < bottom; ++y)
                format.convert(m_data.scanLine(y), layout.width,
                               rows + static_cast<std::size_t>(y - top + 1) * stride);
            const BandMethod method = methodFor(format, rows, rowCount, stride);
            if (method.filter == Filter::Up)
                filterUp(rows, rowCount, stride, format.rowBytes);
            for (std::size_t r = 1; r <= rowCount; ++r)
                rows[r * stride - 1] = static_cast<std::uint8_t>(method.filter);
            std::unique_ptr<BandOutput> piece = output.buffer();
            compressor.compress(rows + stride - 1, rowCount * stride, method, stride,
                                static_cast<std::size_t>(format.bytesPerPixel), band->index == 0,
                                band->index == m_bandCount - 1, *piece);
            output.deliver(band->index, std::move(piece));
        }
        return std::nullopt;
    });
    if (const auto failure = output.outcome(status))
        return failure;
    // After every band: the stream's Adler-32 in an IDAT chunk of its own, and the end chunk.
    std::uint8_t adlerBytes[4];
    putBigEndian(adlerBytes, adler);
    const QByteArray end =
        chunk("IDAT", QByteArray(reinterpret_cast<const char *>(adlerBytes), 4)) +
        chunk("IEND", {});
    const iovec buffer{const_cast<char *>(end.constData()), static_cast<std::size_t>(end.size())};
    sink(&buffer, 1);
    return std::nullopt;
}

} // namespace imaging
