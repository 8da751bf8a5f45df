#include "PngDecoder.h"

#include <QFile>

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <sys/mman.h>

namespace platform {

namespace {

constexpr std::uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// Larger pictures than this (64 K x 16 K) are left to the general reader.
constexpr std::size_t MaxPixels = std::size_t(1) << 30;

std::uint32_t bigEndian(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

// The PNG file, mapped read-only with its pages in place.
class MappedFile
{
public:
    explicit MappedFile(const QString &path)
        : m_file(path)
    {
        if (!m_file.open(QIODevice::ReadOnly) || m_file.size() <= 0)
            return;
        m_size = static_cast<std::size_t>(m_file.size());
        void *mapping =
            mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, m_file.handle(), 0);
        if (mapping != MAP_FAILED)
            m_data = static_cast<const std::uint8_t *>(mapping);
    }
    ~MappedFile()
    {
        if (m_data)
            munmap(const_cast<std::uint8_t *>(m_data), m_size);
    }
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    const std::uint8_t *data() const { return m_data; }
    std::size_t size() const { return m_data ? m_size : 0; }

private:
    QFile m_file;
    const std::uint8_t *m_data = nullptr;
    std::size_t m_size = 0;
};

struct Header
{
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::size_t channels = 0; // 3 (RGB) or 4 (RGBA)
    std::size_t rowBytes() const { return width * channels; }
};

std::optional<Header> readHeader(const std::uint8_t *ihdr, std::uint32_t length)
{
    if (length != 13)
        return std::nullopt;
    Header header;
    header.width = bigEndian(ihdr);
    header.height = bigEndian(ihdr + 4);
    const std::uint8_t depth = ihdr[8], colourType = ihdr[9];
    const bool plain =
        ihdr[10] == 0 && ihdr[11] == 0 && ihdr[12] == 0; // deflate, filters, no Adam7
    if (depth != 8 || !plain || header.width == 0 || header.height == 0 ||
        std::size_t(header.width) * header.height > MaxPixels)
        return std::nullopt;
    if (colourType == 2)
        header.channels = 3;
    else if (colourType == 6)
        header.channels = 4;
    else
        return std::nullopt;
    return header;
}

// Where the inflated rows go in the memory: far enough behind the start that writing the
// converted row y never reaches the filtered rows after it (one filter byte and rowBytes each).
std::size_t filteredOffset(const Header &header)
{
    const std::size_t out = std::size_t(header.width) * 4, in = header.rowBytes() + 1;
    return out > in ? (out - in) * header.height : 0;
}

std::size_t filteredBytes(const Header &header)
{
    return (header.rowBytes() + 1) * header.height;
}

std::uint8_t paeth(std::uint8_t a, std::uint8_t b, std::uint8_t c)
{
    const int p = int(a) + int(b) - int(c);
    const int pa = std::abs(p - int(a)), pb = std::abs(p - int(b)), pc = std::abs(p - int(c));
    if (pa <= pb && pa <= pc)
        return a;
    return pb <= pc ? b : c;
}

#if defined(__SSE2__)
// The Paeth filter a pixel at a time, its channels side by side in 16-bit lanes: each pixel's
// predictor depends on the one to its left, so the row cannot be taken wider than that.
template <std::size_t N>
void unfilterPaeth(const std::uint8_t *in, const std::uint8_t *previous, std::uint8_t *out,
                   std::size_t bytes)
{
    const auto load = [](const std::uint8_t *p) {
        std::uint32_t v = 0;
        std::memcpy(&v, p, N);
        return _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(v)), _mm_setzero_si128());
    };
    const auto absolute = [](__m128i v) {
        return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
    };
    const auto select = [](__m128i mask, __m128i yes, __m128i no) {
        return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
    };
    __m128i left = _mm_setzero_si128(), upperLeft = _mm_setzero_si128();
    for (std::size_t i = 0; i < bytes; i += N) {
        const __m128i up = load(previous + i);
        // With p = left + up - upperLeft, its distances to left, up and upperLeft:
        const __m128i toLeft = _mm_sub_epi16(up, upperLeft);
        const __m128i toUp = _mm_sub_epi16(left, upperLeft);
        const __m128i pa = absolute(toLeft), pb = absolute(toUp);
        const __m128i pc = absolute(_mm_add_epi16(toLeft, toUp));
        const __m128i smallest = _mm_min_epi16(_mm_min_epi16(pa, pb), pc);
        const __m128i predictor = select(_mm_cmpeq_epi16(smallest, pa), left,
                                         select(_mm_cmpeq_epi16(smallest, pb), up, upperLeft));
        left = _mm_and_si128(_mm_add_epi16(load(in + i), predictor), _mm_set1_epi16(0xff));
        const auto pixel = std::uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(left, left)));
        std::memcpy(out + i, &pixel, N);
        upperLeft = up;
    }
}
#endif

// Undoes one row's filter into out, from its filtered bytes and the previous unfiltered row
// (zeros above the first). N: bytes per pixel.
template <std::size_t N>
bool unfilter(std::uint8_t filter, const std::uint8_t *__restrict in,
              const std::uint8_t *__restrict previous, std::uint8_t *__restrict out,
              std::size_t bytes)
{
    switch (filter) {
    case 0:
        std::memcpy(out, in, bytes);
        return true;
    case 1:
        std::memcpy(out, in, N);
        for (std::size_t i = N; i < bytes; ++i)
            out[i] = std::uint8_t(in[i] + out[i - N]);
        return true;
    case 2:
        for (std::size_t i = 0; i < bytes; ++i)
            out[i] = std::uint8_t(in[i] + previous[i]);
        return true;
    case 3:
        for (std::size_t i = 0; i < N; ++i)
            out[i] = std::uint8_t(in[i] + (previous[i] >> 1));
        for (std::size_t i = N; i < bytes; ++i)
            out[i] = std::uint8_t(in[i] + ((unsigned(out[i - N]) + previous[i]) >> 1));
        return true;
    case 4:
#if defined(__SSE2__)
        unfilterPaeth<N>(in, previous, out, bytes);
        return true;
#endif
        for (std::size_t i = 0; i < N; ++i)
            out[i] = std::uint8_t(in[i] + previous[i]);
        for (std::size_t i = N; i < bytes; i += N)
            for (std::size_t c = 0; c < N; ++c)
                out[i + c] = std::uint8_t(
                    in[i + c] + paeth(out[i + c - N], previous[i + c], previous[i + c - N]));
        return true;
    default:
        return false;
    }
}

// One row of R, G, B (and A) bytes as 32-bit XRGB pixels.
template <std::size_t N>
void toXrgb(const std::uint8_t *__restrict rgb, std::uint8_t *__restrict out, std::size_t width)
{
    for (std::size_t x = 0; x < width; ++x, rgb += N) {
        const std::uint32_t pixel =
            0xff000000u | std::uint32_t(rgb[0]) << 16 | std::uint32_t(rgb[1]) << 8 | rgb[2];
        std::memcpy(out + 4 * x, &pixel, 4);
    }
}

// Unfilters every row and writes it as XRGB at the start of memory, row y at y * 4 * width.
template <std::size_t N>
bool convertRows(const Header &header, std::uint8_t *memory, const std::uint8_t *filtered)
{
    const std::size_t bytes = header.rowBytes();
    std::vector<std::uint8_t> rows(2 * bytes, 0); // the previous row and this one, unfiltered
    std::uint8_t *previous = rows.data(), *current = rows.data() + bytes;
    for (std::size_t y = 0; y < header.height; ++y) {
        const std::uint8_t *in = filtered + y * (bytes + 1);
        if (!unfilter<N>(in[0], in + 1, previous, current, bytes))
            return false;
        toXrgb<N>(current, memory + y * header.width * 4, header.width);
        std::swap(previous, current);
    }
    return true;
}

} // namespace

std::size_t PngDecoder::memoryFor(QSize size)
{
    if (size.isEmpty())
        return 0;
    const Header rgba{std::uint32_t(size.width()), std::uint32_t(size.height()), 4};
    // Room behind the rows for the compressed stream of a busy screen, which libdeflate needs
    // in one piece while the file has it in chunks.
    return filteredOffset(rgba) + filteredBytes(rgba) + filteredBytes(rgba) / 2;
}

std::shared_ptr<const MappedPixels> PngDecoder::decode(const QString &path, PixelMemory memory)
{
    const MappedFile file(path);
    const std::uint8_t *data = file.data();
    const std::size_t size = file.size();
    if (size < sizeof Signature || std::memcmp(data, Signature, sizeof Signature) != 0)
        return nullptr;

    // The chunks: the header first, then the compressed stream in one or more IDAT chunks.
    std::optional<Header> header;
    std::vector<std::pair<const std::uint8_t *, std::size_t>> idat;
    std::size_t compressed = 0;
    for (std::size_t at = sizeof Signature; at + 12 <= size;) {
        const std::uint32_t length = bigEndian(data + at);
        const std::uint8_t *type = data + at + 4;
        if (length > size - at - 12)
            return nullptr;
        const std::uint8_t *content = data + at + 8;
        if (std::memcmp(type, "IHDR", 4) == 0)
            header = readHeader(content, length);
        else if (std::memcmp(type, "IDAT", 4) == 0) {
            idat.emplace_back(content, length);
            compressed += length;
        } else if (std::memcmp(type, "PLTE", 4) == 0 || std::memcmp(type, "tRNS", 4) == 0)
            return nullptr; // colours the general reader knows what to do with
        else if (std::memcmp(type, "IEND", 4) == 0)
            break;
        at += 12 + std::size_t(length);
    }
    if (!header || idat.empty())
        return nullptr;

    const std::size_t offset = filteredOffset(*header);
    const std::size_t filtered = filteredBytes(*header);
    const std::size_t needed = offset + filtered + (idat.size() > 1 ? compressed : 0);
    if (memory.size() < needed)
        memory = PixelMemory(needed);
    if (!memory.data())
        return nullptr;

    const std::uint8_t *stream = idat.front().first;
    if (idat.size() > 1) {
        std::uint8_t *joined = memory.data() + offset + filtered;
        for (const auto &[chunk, length] : idat) {
            std::memcpy(joined, chunk, length);
            joined += length;
        }
        stream = memory.data() + offset + filtered;
    }
    std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor *)> inflater(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    // Exactly the filtered rows, or the file is damaged.
    if (!inflater ||
        libdeflate_zlib_decompress(inflater.get(), stream, compressed, memory.data() + offset,
                                   filtered, nullptr) != LIBDEFLATE_SUCCESS)
        return nullptr;

    const bool converted = header->channels == 4
                               ? convertRows<4>(*header, memory.data(), memory.data() + offset)
                               : convertRows<3>(*header, memory.data(), memory.data() + offset);
    if (!converted)
        return nullptr;
    const auto width = int(header->width);
    return std::make_shared<const MappedPixels>(width, int(header->height), std::size_t(width) * 4,
                                                std::move(memory));
}

} // namespace platform
