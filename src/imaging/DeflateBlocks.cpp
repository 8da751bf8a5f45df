#include "DeflateBlocks.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

namespace imaging {

namespace {

constexpr std::size_t Window = 32768;
constexpr std::size_t MinMatch = 4;
constexpr std::size_t MaxMatch = 258;
constexpr int HashBits = 15;
constexpr int LiteralCodes = 286; // literals, end of block, 29 length codes
constexpr int DistanceCodes = 30;
constexpr int EndOfBlock = 256;

// Writes bits least significant first, four bytes at a time.
class BitWriter
{
public:
    explicit BitWriter(std::uint8_t *out)
        : m_start(out)
        , m_out(out)
    {
    }
    // Up to 32 bits; value has no bits above count.
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
    // Ends the block: the final one as it is; any other followed by an empty stored block, which
    // leaves the stream byte-aligned for the next block written on its own.
    std::size_t finish(bool last)
    {
        if (!last) {
            put(0, 3); // not final, stored
            alignToByte();
            static constexpr std::uint8_t Empty[4] = {0x00, 0x00, 0xff, 0xff};
            std::memcpy(m_out, Empty, 4);
            m_out += 4;
        }
        alignToByte();
        return static_cast<std::size_t>(m_out - m_start);
    }

private:
    std::uint8_t *m_start;
    std::uint8_t *m_out;
    std::uint64_t m_buffer = 0;
    int m_count = 0;
};

// Huffman code lengths of at most maxLength bits for the symbols with a frequency; while the
// tree would be deeper, the frequencies are halved (kept above zero) and it is built again.
void codeLengths(const std::uint32_t *frequency, int count, int maxLength, std::uint8_t *lengths)
{
    std::vector<std::uint32_t> weights(frequency, frequency + count);
    for (;;) {
        std::vector<std::pair<std::uint64_t, int>> nodes; // weight, node
        for (int k = 0; k < count; ++k) {
            lengths[k] = 0;
            if (weights[static_cast<std::size_t>(k)] > 0)
                nodes.push_back({weights[static_cast<std::size_t>(k)], k});
        }
        if (nodes.size() == 1) {
            lengths[nodes[0].second] = 1;
            return;
        }
        std::vector<int> parent(static_cast<std::size_t>(count) * 2, -1);
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

// Deflate's canonical codes for the lengths, bit-reversed for its least-significant-first order.
void canonicalCodes(const std::uint8_t *lengths, int count, std::uint16_t *codes)
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

// The block's codes: literal/length and distance code lengths from the frequencies, written as
// a dynamic block's header (code lengths run-length coded), and the canonical codes to use.
struct BlockCodes
{
    std::uint8_t literalLengths[LiteralCodes] = {};
    std::uint8_t distanceLengths[DistanceCodes] = {};
    std::uint16_t literalCodes[LiteralCodes] = {};
    std::uint16_t distanceCodes[DistanceCodes] = {};

    BlockCodes(const std::uint32_t *literalUse, const std::uint32_t *distanceUse)
    {
        codeLengths(literalUse, LiteralCodes, 15, literalLengths);
        codeLengths(distanceUse, DistanceCodes, 15, distanceLengths);
        canonicalCodes(literalLengths, LiteralCodes, literalCodes);
        canonicalCodes(distanceLengths, DistanceCodes, distanceCodes);
    }

    void writeHeader(BitWriter &bits, bool last) const
    {
        int literalCount = LiteralCodes, distanceCount = DistanceCodes;
        while (literalCount > 257 && literalLengths[literalCount - 1] == 0)
            --literalCount;
        while (distanceCount > 1 && distanceLengths[distanceCount - 1] == 0)
            --distanceCount;
        std::uint8_t all[LiteralCodes + DistanceCodes];
        std::memcpy(all, literalLengths, static_cast<std::size_t>(literalCount));
        std::memcpy(all + literalCount, distanceLengths, static_cast<std::size_t>(distanceCount));
        const int total = literalCount + distanceCount;

        // Code-length symbols: 0 to 15 as they are, 16 repeats the previous 3 to 6 times, 17 and
        // 18 give 3 to 10 and 11 to 138 zeros.
        struct Token
        {
            std::uint8_t symbol, extra;
        };
        Token tokens[LiteralCodes + DistanceCodes];
        int tokenCount = 0;
        std::uint32_t use[19] = {};
        const auto token = [&](int symbol, int extra) {
            tokens[tokenCount++] = {static_cast<std::uint8_t>(symbol),
                                    static_cast<std::uint8_t>(extra)};
            ++use[symbol];
        };
        for (int i = 0; i < total;) {
            const std::uint8_t value = all[i];
            int run = 1;
            while (i + run < total && all[i + run] == value)
                ++run;
            i += run;
            if (value == 0) {
                for (; run >= 11; run -= std::min(run, 138))
                    token(18, std::min(run, 138) - 11);
                if (run >= 3) {
                    token(17, run - 3);
                    run = 0;
                }
            } else {
                token(value, 0);
                --run;
                for (; run >= 3; run -= std::min(run, 6))
                    token(16, std::min(run, 6) - 3);
            }
            for (; run > 0; --run)
                token(value, 0);
        }
        std::uint8_t lengthLengths[19];
        codeLengths(use, 19, 7, lengthLengths);
        std::uint16_t lengthCodes[19];
        canonicalCodes(lengthLengths, 19, lengthCodes);
        static constexpr int Order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                          11, 4,  12, 3, 13, 2, 14, 1, 15};
        int sent = 19;
        while (sent > 4 && lengthLengths[Order[sent - 1]] == 0)
            --sent;

        bits.put(last ? 1 : 0, 1);
        bits.put(2, 2); // dynamic Huffman codes
        bits.put(static_cast<std::uint32_t>(literalCount - 257), 5);
        bits.put(static_cast<std::uint32_t>(distanceCount - 1), 5);
        bits.put(static_cast<std::uint32_t>(sent - 4), 4);
        for (int k = 0; k < sent; ++k)
            bits.put(lengthLengths[Order[k]], 3);
        static constexpr int ExtraBits[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                              0, 0, 0, 0, 0, 0, 2, 3, 7};
        for (int k = 0; k < tokenCount; ++k) {
            const Token t = tokens[k];
            bits.put(lengthCodes[t.symbol], lengthLengths[t.symbol]);
            if (ExtraBits[t.symbol])
                bits.put(t.extra, ExtraBits[t.symbol]);
        }
    }
};

// Deflate's length and distance codes: for each length 3 to 258, its code (0 to 28, sent as
// 257 + code) and extra bits; for each distance, found through distanceCode().
struct CodeTables
{
    std::uint8_t lengthCode[MaxMatch + 1] = {};
    std::uint8_t lengthExtraBits[29] = {};
    std::uint16_t lengthBase[29] = {};
    std::uint8_t distanceExtraBits[DistanceCodes] = {};
    std::uint16_t distanceBase[DistanceCodes] = {}; // less one: of distance - 1
    std::uint8_t distanceCodeOf[512] = {};          // distance - 1 below 256, then by its 128s

    CodeTables()
    {
        int length = 3;
        for (int code = 0; code < 28; ++code) {
            lengthExtraBits[code] = static_cast<std::uint8_t>(code < 8 ? 0 : (code - 4) / 4);
            lengthBase[code] = static_cast<std::uint16_t>(length);
            for (int k = 0; k < (1 << lengthExtraBits[code]); ++k)
                lengthCode[length++] = static_cast<std::uint8_t>(code);
        }
        lengthBase[28] = 258;
        lengthCode[258] = 28;
        int distance = 0;
        for (int code = 0; code < DistanceCodes; ++code) {
            distanceExtraBits[code] = static_cast<std::uint8_t>(code < 4 ? 0 : (code - 2) / 2);
            distanceBase[code] = static_cast<std::uint16_t>(distance);
            for (int k = 0; k < (1 << distanceExtraBits[code]); ++k, ++distance) {
                if (distance < 256)
                    distanceCodeOf[distance] = static_cast<std::uint8_t>(code);
                else if (distance % 128 == 0)
                    distanceCodeOf[256 + (distance >> 7)] = static_cast<std::uint8_t>(code);
            }
        }
    }
    // Of distance - 1 (0 to 32767).
    int distanceCode(std::uint32_t distanceLess1) const
    {
        return distanceLess1 < 256 ? distanceCodeOf[distanceLess1]
                                   : distanceCodeOf[256 + (distanceLess1 >> 7)];
    }
};

const CodeTables &tables()
{
    static const CodeTables instance;
    return instance;
}

inline std::uint32_t load32(const std::uint8_t *at)
{
    std::uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

inline std::uint64_t load64(const std::uint8_t *at)
{
    std::uint64_t v;
    std::memcpy(&v, at, 8);
    return v;
}

// How far at and earlier agree, knowing the first MinMatch bytes do, up to room bytes.
inline std::size_t matchLength(const std::uint8_t *at, const std::uint8_t *earlier,
                               std::size_t room)
{
    std::size_t length = MinMatch;
    while (length + 8 <= room) {
        const std::uint64_t difference = load64(at + length) ^ load64(earlier + length);
        if (difference) {
            // The first differing byte: the lowest in memory, wherever the machine keeps it.
            const int bits = std::endian::native == std::endian::little
                                 ? std::countr_zero(difference)
                                 : std::countl_zero(difference);
            return length + static_cast<std::size_t>(bits / 8);
        }
        length += 8;
    }
    while (length < room && at[length] == earlier[length])
        ++length;
    return length;
}

constexpr std::uint32_t MatchFlag = 0x80000000u;

} // namespace

std::size_t deflateBlockBound(std::size_t n)
{
    return n * 2 + 1024;
}

std::size_t writeLiteralBlock(const std::uint8_t *in, std::size_t n, bool last, std::uint8_t *out)
{
    std::uint32_t frequencies[4][256] = {};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        ++frequencies[0][in[i]];
        ++frequencies[1][in[i + 1]];
        ++frequencies[2][in[i + 2]];
        ++frequencies[3][in[i + 3]];
    }
    for (; i < n; ++i)
        ++frequencies[0][in[i]];
    std::uint32_t literalUse[LiteralCodes] = {};
    for (int b = 0; b < 256; ++b)
        literalUse[b] =
            frequencies[0][b] + frequencies[1][b] + frequencies[2][b] + frequencies[3][b];
    literalUse[EndOfBlock] = 1;
    const std::uint32_t distanceUse[DistanceCodes] = {};
    const BlockCodes codes(literalUse, distanceUse);

    BitWriter bits(out);
    codes.writeHeader(bits, last);
    for (i = 0; i < n; ++i)
        bits.put(codes.literalCodes[in[i]], codes.literalLengths[in[i]]);
    bits.put(codes.literalCodes[EndOfBlock], codes.literalLengths[EndOfBlock]);
    return bits.finish(last);
}

MatchBlockWriter::MatchBlockWriter()
    : m_recent(std::size_t(1) << HashBits, 0)
    , m_base(Window + 1)
{
}

std::size_t MatchBlockWriter::write(const std::uint8_t *in, std::size_t n, std::size_t rowBytes,
                                    std::size_t pixelBytes, bool last, std::uint8_t *out)
{
    const CodeTables &table = tables();
    // Positions of earlier blocks lie more than a window before this block's first byte, so the
    // distance check alone keeps matches inside the block.
    if (std::uint64_t(m_base) + n + 2 * Window + 2 > 0xffffffffu) {
        std::fill(m_recent.begin(), m_recent.end(), 0u);
        m_base = Window + 1;
    }
    if (rowBytes > Window)
        rowBytes = 0;
    if (pixelBytes == 0 || pixelBytes > Window)
        pixelBytes = 1;
    std::uint32_t *const symbols = m_symbols.reserve(n + 1), *symbol = symbols;
    std::uint32_t *recent = m_recent.data();
    std::uint32_t literalUse[LiteralCodes] = {};
    std::uint32_t distanceUse[DistanceCodes] = {};

    std::size_t p = 0;
    const std::size_t matchEnd = n >= MinMatch ? n - MinMatch + 1 : 0;
    while (p < matchEnd) {
        const std::uint32_t current = load32(in + p);
        const std::size_t room = std::min(MaxMatch, n - p);
        std::size_t bestLength = 0, bestDistance = 0;
        const auto consider = [&](std::size_t distance) {
            const std::size_t length = matchLength(in + p, in + p - distance, room);
            if (length > bestLength) {
                bestLength = length;
                bestDistance = distance;
            }
        };
        // The pixel before first: at the same length, its distance takes no extra bits.
        if (p >= pixelBytes && load32(in + p - pixelBytes) == current)
            consider(pixelBytes);
        if (bestLength < room && rowBytes && p >= rowBytes && load32(in + p - rowBytes) == current)
            consider(rowBytes);
        if (bestLength < room) {
            const std::uint32_t hash = (current * 2654435761u) >> (32 - HashBits);
            const std::uint32_t here = m_base + static_cast<std::uint32_t>(p);
            const std::uint32_t distance = here - recent[hash];
            recent[hash] = here;
            if (distance - 1 < Window && distance != bestDistance &&
                load32(in + p - distance) == current)
                consider(distance);
        }
        if (bestLength >= MinMatch) {
            const auto lengthLess3 = static_cast<std::uint32_t>(bestLength - 3);
            const auto distanceLess1 = static_cast<std::uint32_t>(bestDistance - 1);
            *symbol++ = MatchFlag | (lengthLess3 << 16) | distanceLess1;
            ++literalUse[257 + table.lengthCode[bestLength]];
            ++distanceUse[table.distanceCode(distanceLess1)];
            p += bestLength;
        } else {
            *symbol++ = in[p];
            ++literalUse[in[p]];
            ++p;
        }
    }
    for (; p < n; ++p) {
        *symbol++ = in[p];
        ++literalUse[in[p]];
    }
    literalUse[EndOfBlock] = 1;
    m_base += static_cast<std::uint32_t>(n + Window + 1);

    const BlockCodes codes(literalUse, distanceUse);
    // Each length's code with its extra bits, ready to send.
    std::uint32_t lengthBits[MaxMatch + 1];
    std::uint8_t lengthBitCount[MaxMatch + 1];
    for (std::size_t length = 3; length <= MaxMatch; ++length) {
        const int code = table.lengthCode[length];
        const int huffmanLength = codes.literalLengths[257 + code];
        lengthBits[length] =
            codes.literalCodes[257 + code] |
            (static_cast<std::uint32_t>(length - table.lengthBase[code]) << huffmanLength);
        lengthBitCount[length] =
            static_cast<std::uint8_t>(huffmanLength + table.lengthExtraBits[code]);
    }

    BitWriter bits(out);
    codes.writeHeader(bits, last);
    for (const std::uint32_t *s = symbols; s != symbol; ++s) {
        const std::uint32_t value = *s;
        if (!(value & MatchFlag)) {
            bits.put(codes.literalCodes[value], codes.literalLengths[value]);
            continue;
        }
        const std::uint32_t length = ((value >> 16) & 0xff) + 3, distanceLess1 = value & 0xffff;
        bits.put(lengthBits[length], lengthBitCount[length]);
        const int code = table.distanceCode(distanceLess1);
        const int huffmanLength = codes.distanceLengths[code];
        bits.put(codes.distanceCodes[code] |
                     ((distanceLess1 - table.distanceBase[code]) << huffmanLength),
                 huffmanLength + table.distanceExtraBits[code]);
    }
    bits.put(codes.literalCodes[EndOfBlock], codes.literalLengths[EndOfBlock]);
    return bits.finish(last);
}

} // namespace imaging
