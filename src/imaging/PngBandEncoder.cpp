#include "PngBandEncoder.h"

#include <QByteArray>
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <libdeflate.h>
#include <zlib.h>

namespace imaging {

namespace {

// About this many bytes of samples per band: small enough to follow the screen's transfer and
// keep both cores busy, large enough that the full flush between bands costs nothing to speak of.
constexpr std::size_t BandBytes = 384 * 1024;

enum class Filter : std::uint8_t { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };

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
        case Kind::Bgrx:
            for (int x = 0; x < width; ++x) {
                out[0] = row[2];
                out[1] = row[1];
                out[2] = row[0];
                row += 4;
                out += 3;
            }
            return;
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

// Without branches, so that the compiler turns the filter loop into vector code: encoding reads
// only the original samples, so no pixel depends on the one before it.
inline std::uint8_t paeth(int a, int b, int c)
{
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    const int bc = pb <= pc ? b : c;
    return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : bc);
}

// Filters one row of samples (prev: the row above, all zeros for the first) into out.
void filterRow(Filter filter, const std::uint8_t *cur, const std::uint8_t *prev, std::size_t n,
               int bpp, std::uint8_t *out)
{
    const auto step = static_cast<std::size_t>(bpp);
    switch (filter) {
    case Filter::None:
        std::memcpy(out, cur, n);
        return;
    case Filter::Sub:
        std::memcpy(out, cur, std::min(n, step));
        for (std::size_t i = step; i < n; ++i)
            out[i] = static_cast<std::uint8_t>(cur[i] - cur[i - step]);
        return;
    case Filter::Up:
        for (std::size_t i = 0; i < n; ++i)
            out[i] = static_cast<std::uint8_t>(cur[i] - prev[i]);
        return;
    case Filter::Average:
        for (std::size_t i = 0; i < n; ++i) {
            const int left = i >= step ? cur[i - step] : 0;
            out[i] = static_cast<std::uint8_t>(cur[i] - ((left + prev[i]) >> 1));
        }
        return;
    case Filter::Paeth:
        for (std::size_t i = 0; i < std::min(n, step); ++i)
            out[i] = static_cast<std::uint8_t>(cur[i] - prev[i]);
        for (std::size_t i = step; i < n; ++i)
            out[i] =
                static_cast<std::uint8_t>(cur[i] - paeth(cur[i - step], prev[i], prev[i - step]));
        return;
    }
}

// How a band is filtered and compressed, chosen by measurement on photo-like, user-interface
// and mostly flat screens (docs/PERFORMANCE.md). What tells them apart is the share of bytes
// that the Up filter turns into zero:
//   - photo-like (under half): Up, then zlib's run-length matching only. Longer matches find
//     next to nothing in such rows and cost three times the time;
//   - user interface (between): unfiltered, zlib level 1. Letters and controls repeat exactly,
//     and any filter would hide the repeats from the matcher;
//   - mostly flat (nearly all): Paeth, which also makes the runs beside vertical edges zero,
//     then run-length matching; level 1 left three times the bytes of libpng's level 6.
struct BandMethod
{
    Filter filter;
    int level;
    int strategy;
};

// Not a zlib strategy: the band goes out as one LiteralBlock.
constexpr int LiteralsOnly = -1;

constexpr BandMethod PhotoMethod{Filter::Up, 1, LiteralsOnly};
constexpr BandMethod InterfaceMethod{Filter::None, 1, Z_DEFAULT_STRATEGY};
constexpr BandMethod FlatMethod{Filter::Paeth, 1, Z_RLE};
// A palette's indices have no order to predict from: as the user interface.
constexpr BandMethod PaletteMethod = InterfaceMethod;

// rows: the band's samples with the row above it first (zeros for the top band).
BandMethod methodFor(const SampleFormat &format, const std::uint8_t *rows, std::size_t rowCount)
{
    if (format.kind == SampleFormat::Kind::Palette)
        return PaletteMethod;
    const std::size_t n = format.rowBytes;
    std::size_t zeros = 0;
    for (std::size_t r = 1; r <= rowCount; ++r) {
        const std::uint8_t *cur = rows + r * n, *above = cur - n;
        for (std::size_t i = 0; i < n; ++i)
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
    std::vector<std::uint8_t> bytes; // the whole chunk
    std::size_t size = 0;
    std::uint32_t adler = 1; // of the band's uncompressed samples
    std::size_t sampleBytes = 0;
};

// One deflate block of literals only, with a Huffman code made for its bytes (what zlib's
// Z_HUFFMAN_ONLY writes, at several times its speed): for photo-like rows, where matches find
// next to nothing. Ends in a full flush (an empty stored block), or is the final block.
class LiteralBlock
{
public:
    static std::size_t bound(std::size_t n) { return n * 2 + 1024; }

    // Writes the block of in[0, n) to out (bound(n) bytes); returns the bytes written.
    static std::size_t write(const std::uint8_t *in, std::size_t n, bool last, std::uint8_t *out)
    {
        std::uint32_t frequencies[4][257] = {};
        std::size_t i = 0;
        for (; i + 4 <= n; i += 4) {
            ++frequencies[0][in[i]];
            ++frequencies[1][in[i + 1]];
            ++frequencies[2][in[i + 2]];
            ++frequencies[3][in[i + 3]];
        }
        for (; i < n; ++i)
            ++frequencies[0][in[i]];
        std::uint32_t literal[257];
        for (int b = 0; b < 256; ++b)
            literal[b] =
                frequencies[0][b] + frequencies[1][b] + frequencies[2][b] + frequencies[3][b];
        literal[256] = 1;               // end of block
        std::uint8_t lengths[258] = {}; // 257 literal/length codes, then the one distance code
        codeLengths(literal, 257, 15, lengths);

        // The code lengths are sent as code-length symbols 0 to 15, one each.
        std::uint32_t lengthUse[19] = {};
        for (int k = 0; k < 258; ++k)
            ++lengthUse[lengths[k]];
        std::uint8_t lengthLengths[19] = {};
        codeLengths(lengthUse, 19, 7, lengthLengths);
        static constexpr int Order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                          11, 4,  12, 3, 13, 2, 14, 1, 15};
        int sent = 19;
        while (sent > 4 && lengthLengths[Order[sent - 1]] == 0)
            --sent;

        BitWriter bits(out);
        bits.put(last ? 1 : 0, 1);
        bits.put(2, 2); // dynamic Huffman codes
        bits.put(0, 5); // 257 literal/length codes
        bits.put(0, 5); // one distance code, unused (length 0)
        bits.put(static_cast<std::uint32_t>(sent - 4), 4);
        for (int k = 0; k < sent; ++k)
            bits.put(lengthLengths[Order[k]], 3);
        std::uint16_t lengthCodes[19];
        canonicalCodes(lengthLengths, 19, lengthCodes);
        for (int k = 0; k < 258; ++k)
            bits.put(lengthCodes[lengths[k]], lengthLengths[lengths[k]]);

        std::uint16_t codes[257];
        canonicalCodes(lengths, 257, codes);
        for (i = 0; i < n; ++i)
            bits.put(codes[in[i]], lengths[in[i]]);
        bits.put(codes[256], lengths[256]);
        if (!last) {
            bits.put(0, 3); // an empty stored block: byte-aligned, not final
            bits.alignToByte();
            bits.putBytes("\x00\x00\xff\xff", 4);
        }
        bits.alignToByte();
        return bits.size();
    }

private:
    class BitWriter
    {
    public:
        explicit BitWriter(std::uint8_t *out)
            : m_start(out)
            , m_out(out)
        {
        }
        // Up to 16 bits, least significant first.
        void put(std::uint32_t value, int count)
        {
            m_buffer |= std::uint64_t(value) << m_count;
            m_count += count;
            if (m_count >= 32) {
                const auto word = static_cast<std::uint32_t>(m_buffer);
                std::memcpy(m_out, &word, 4); // little-endian
                m_out += 4;
                m_buffer >>= 32;
                m_count -= 32;
            }
        }
        void alignToByte()
        {
            while (m_count > 0) {
                *m_out++ = static_cast<std::uint8_t>(m_buffer);
                m_buffer >>= 8;
                m_count = std::max(0, m_count - 8);
            }
            m_buffer = 0;
        }
        void putBytes(const char *bytes, std::size_t count)
        {
            std::memcpy(m_out, bytes, count);
            m_out += count;
        }
        std::size_t size() const { return static_cast<std::size_t>(m_out - m_start); }

    private:
        std::uint8_t *m_start;
        std::uint8_t *m_out;
        std::uint64_t m_buffer = 0;
        int m_count = 0;
    };

    // Huffman code lengths of at most maxLength bits for the symbols with a frequency; while the
    // tree would be deeper, the frequencies are halved (kept above zero) and it is built again.
    static void codeLengths(const std::uint32_t *frequency, int count, int maxLength,
                            std::uint8_t *lengths)
    {
        std::vector<std::uint32_t> weights(frequency, frequency + count);
        for (;;) {
            std::vector<std::pair<std::uint64_t, int>> nodes; // weight, node
            std::vector<int> parent;
            for (int k = 0; k < count; ++k) {
                lengths[k] = 0;
                if (weights[static_cast<std::size_t>(k)] > 0) {
                    nodes.push_back({weights[static_cast<std::size_t>(k)], k});
                }
            }
            parent.assign(static_cast<std::size_t>(count) * 2, -1);
            if (nodes.size() == 1) {
                lengths[nodes[0].second] = 1;
                return;
            }
            std::sort(nodes.begin(), nodes.end());
            // Two queues: the sorted leaves and the merged nodes, which come out in order.
            std::vector<std::pair<std::uint64_t, int>> merged;
            std::size_t leaf = 0, inner = 0;
            int next = count;
            const auto take = [&] {
                if (inner < merged.size() &&
                    (leaf >= nodes.size() || merged[inner].first < nodes[leaf].first))
                    return merged[inner++];
                return nodes[leaf++];
            };
            while ((nodes.size() - leaf) + (merged.size() - inner) > 1) {
                const auto a = take(), b = take();
                parent[static_cast<std::size_t>(a.second)] = next;
                parent[static_cast<std::size_t>(b.second)] = next;
                merged.push_back({a.first + b.first, next++});
            }
            int deepest = 0;
            for (const auto &[weight, k] : nodes) {
                int depth = 0;
                for (int at = k; parent[static_cast<std::size_t>(at)] >= 0;
                     at = parent[static_cast<std::size_t>(at)])
                    ++depth;
                lengths[k] = static_cast<std::uint8_t>(depth);
                deepest = std::max(deepest, depth);
            }
            if (deepest <= maxLength)
                return;
            for (std::uint32_t &w : weights)
                if (w > 0)
                    w = (w + 1) / 2;
        }
    }

    // Deflate's canonical codes for the lengths, bit-reversed for its least-significant-first
    // bit order.
    static void canonicalCodes(const std::uint8_t *lengths, int count, std::uint16_t *codes)
    {
        int perLength[16] = {};
        for (int k = 0; k < count; ++k)
            ++perLength[lengths[k]];
        perLength[0] = 0;
        int nextCode[16] = {};
        for (int bits = 1, code = 0; bits < 16; ++bits) {
            code = (code + perLength[bits - 1]) << 1;
            nextCode[bits] = code;
        }
        for (int k = 0; k < count; ++k) {
            const int length = lengths[k];
            codes[k] = 0;
            if (length == 0)
                continue;
            const int code = nextCode[length]++;
            int reversed = 0;
            for (int b = 0; b < length; ++b)
                reversed |= ((code >> b) & 1) << (length - 1 - b);
            codes[k] = static_cast<std::uint16_t>(reversed);
        }
    }
};

// One thread's deflate state, set up once and reset for every band it compresses.
class Deflater
{
public:
    Deflater() = default;
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;
    ~Deflater()
    {
        if (m_ready)
            deflateEnd(&m_stream);
    }

    bool setUp()
    {
        m_ready = deflateInit2(&m_stream, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        return m_ready;
    }

    // Compresses in into out's chunk: raw deflate ending in a full flush, or the final block
    // for the last band; the first band's chunk starts with the zlib header.
    bool compress(const std::vector<std::uint8_t> &in, const BandMethod &method, bool first,
                  bool last, BandOutput &out)
    {
        const bool literals = method.strategy == LiteralsOnly;
        if (!literals && (deflateReset(&m_stream) != Z_OK ||
                          deflateParams(&m_stream, method.level, method.strategy) != Z_OK))
            return false;
        const std::size_t head = 8 + (first ? 2 : 0);
        const std::size_t bound = literals
                                      ? LiteralBlock::bound(in.size())
                                      : deflateBound(&m_stream, static_cast<uLong>(in.size())) + 16;
        if (out.bytes.size() < head + bound + 4)
            out.bytes.resize(head + bound + 4);
        std::uint8_t *chunkStart = out.bytes.data();
        if (first) {
            chunkStart[8] = 0x78; // deflate, 32 KiB window
            chunkStart[9] = 0x01; // fastest; header check bits (0x7801 % 31 == 0)
        }
        std::size_t written = 0;
        if (literals) {
            written = LiteralBlock::write(in.data(), in.size(), last, chunkStart + head);
        } else {
            m_stream.next_in = const_cast<std::uint8_t *>(in.data());
            m_stream.avail_in = static_cast<uInt>(in.size());
            m_stream.next_out = chunkStart + head;
            m_stream.avail_out = static_cast<uInt>(bound);
            const int result = deflate(&m_stream, last ? Z_FINISH : Z_FULL_FLUSH);
            if (result != (last ? Z_STREAM_END : Z_OK) || m_stream.avail_in != 0)
                return false;
            written = bound - m_stream.avail_out;
        }
        const std::size_t dataSize = head - 8 + written;
        putBigEndian(chunkStart, static_cast<std::uint32_t>(dataSize));
        std::memcpy(chunkStart + 4, "IDAT", 4);
        const auto crc =
            static_cast<std::uint32_t>(libdeflate_crc32(0, chunkStart + 4, 4 + dataSize));
        putBigEndian(chunkStart + 8 + dataSize, crc);
        out.size = 12 + dataSize;
        out.adler = static_cast<std::uint32_t>(libdeflate_adler32(1, in.data(), in.size()));
        out.sampleBytes = in.size();
        return true;
    }

private:
    z_stream m_stream{};
    bool m_ready = false;
};

// Hands finished bands to the sink in picture order, combining their Adler-32s.
class OrderedOutput
{
public:
    OrderedOutput(int bands, const PngBandEncoder::Sink &sink)
        : m_ready(static_cast<std::size_t>(bands))
        , m_sink(sink)
    {
    }

    std::unique_ptr<BandOutput> buffer()
    {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_spare.empty()) {
                auto spare = std::move(m_spare.back());
                m_spare.pop_back();
                return spare;
            }
        }
        return std::make_unique<BandOutput>();
    }

    void deliver(int index, std::unique_ptr<BandOutput> band)
    {
        std::unique_lock lock(m_mutex);
        m_ready[static_cast<std::size_t>(index)] = std::move(band);
        if (m_writing)
            return;
        m_writing = true;
        while (!m_failed && m_next < static_cast<int>(m_ready.size()) &&
               m_ready[static_cast<std::size_t>(m_next)]) {
            auto next = std::move(m_ready[static_cast<std::size_t>(m_next)]);
            lock.unlock();
            try {
                m_adler = m_next == 0
                              ? next->adler
                              : static_cast<std::uint32_t>(adler32_combine(
                                    m_adler, next->adler, static_cast<z_off_t>(next->sampleBytes)));
                const iovec buffer{next->bytes.data(), next->size};
                m_sink(&buffer, 1);
            } catch (...) {
                lock.lock();
                m_failed = true;
                m_error = std::current_exception();
                break;
            }
            lock.lock();
            m_spare.push_back(std::move(next));
            ++m_next;
        }
        m_writing = false;
    }

    bool failed() const
    {
        const std::lock_guard lock(m_mutex);
        return m_failed;
    }

    // After every band: the stream's Adler-32 in an IDAT chunk of its own, and the end chunk.
    void finish()
    {
        if (m_error)
            std::rethrow_exception(m_error);
        std::uint8_t adler[4];
        putBigEndian(adler, m_adler);
        const QByteArray end =
            chunk("IDAT", QByteArray(reinterpret_cast<const char *>(adler), 4)) + chunk("IEND", {});
        const iovec buffer{const_cast<char *>(end.constData()),
                           static_cast<std::size_t>(end.size())};
        m_sink(&buffer, 1);
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<BandOutput>> m_ready;
    std::vector<std::unique_ptr<BandOutput>> m_spare;
    int m_next = 0;
    bool m_writing = false;
    bool m_failed = false;
    std::exception_ptr m_error;
    std::uint32_t m_adler = 1;
    const PngBandEncoder::Sink &m_sink;
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
    OrderedOutput output(m_bandCount, sink);
    std::atomic<int> next{0};
    std::atomic<int> failure{0};
    auto fail = [&](SaveStatus status) {
        int none = 0;
        failure.compare_exchange_strong(none, static_cast<int>(status));
    };
    auto work = [&] {
        try {
            Deflater deflater;
            if (!deflater.setUp()) {
                fail(SaveStatus::OutOfMemory);
                return;
            }
            // The band's samples, after the row above it: filtering reads the row above.
            std::vector<std::uint8_t> rows;
            std::vector<std::uint8_t> samples;
            for (;;) {
                const int index = next.fetch_add(1);
                if (index >= m_bandCount || failure.load() != 0 || output.failed())
                    return;
                const int top = index * m_bandRows;
                const int bottom = std::min(layout.height, top + m_bandRows);
                if (!m_data.waitForRows(bottom)) {
                    fail(SaveStatus::GenericError);
                    return;
                }
                const auto rowCount = static_cast<std::size_t>(bottom - top);
                rows.resize((rowCount + 1) * format.rowBytes);
                if (top == 0)
                    std::fill_n(rows.begin(), format.rowBytes, std::uint8_t(0));
                else
                    format.convert(m_data.scanLine(top - 1), layout.width, rows.data());
                for (int y = top; y < bottom; ++y)
                    format.convert(m_data.scanLine(y), layout.width,
                                   rows.data() +
                                       static_cast<std::size_t>(y - top + 1) * format.rowBytes);
                const BandMethod method = methodFor(format, rows.data(), rowCount);
                samples.resize(rowCount * (format.rowBytes + 1));
                std::uint8_t *out = samples.data();
                for (std::size_t r = 1; r <= rowCount; ++r) {
                    const std::uint8_t *cur = rows.data() + r * format.rowBytes;
                    *out++ = static_cast<std::uint8_t>(method.filter);
                    filterRow(method.filter, cur, cur - format.rowBytes, format.rowBytes,
                              format.bytesPerPixel, out);
                    out += format.rowBytes;
                }
                std::unique_ptr<BandOutput> band = output.buffer();
                if (!deflater.compress(samples, method, index == 0, index == m_bandCount - 1,
                                       *band)) {
                    fail(SaveStatus::GenericError);
                    return;
                }
                output.deliver(index, std::move(band));
            }
        } catch (const std::bad_alloc &) {
            fail(SaveStatus::OutOfMemory);
        } catch (...) {
            fail(SaveStatus::GenericError);
        }
    };

    // As the JPEG encoder: while the screen is still being transferred, this thread alone
    // encodes the bands as their rows arrive, and the helpers join once the transfer is complete.
    const int helpers = std::clamp(threads, 1, m_bandCount) - 1;
    {
        std::vector<std::jthread> pool;
        pool.reserve(static_cast<std::size_t>(helpers));
        for (int i = 0; i < helpers; ++i)
            pool.emplace_back([&] {
                m_data.waitForAll();
                work();
            });
        work();
    }
    if (failure.load() != 0 && !output.failed())
        return static_cast<SaveStatus>(failure.load());
    output.finish();
    return std::nullopt;
}

} // namespace imaging
