#pragma once
// DeflateBlocks: deflate blocks written by hand for the PNG bands, each with a Huffman code made
// for its own bytes (a dynamic block). A block either ends the stream (the final block) or is
// followed by an empty stored block, so that it ends byte-aligned and blocks written on their own
// join into one stream. Neither refers to bytes before its own input.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace imaging {

// Room that grows to what is asked of it, its contents left as they are: what is never written is
// never touched, and costs no memory. Growing does not keep the contents.
template <typename T> class Buffer
{
public:
    T *reserve(std::size_t count)
    {
        if (count > m_capacity) {
            m_data = std::make_unique_for_overwrite<T[]>(count);
            m_capacity = count;
        }
        return m_data.get();
    }
    T *data() const { return m_data.get(); }

private:
    std::unique_ptr<T[]> m_data;
    std::size_t m_capacity = 0;
};

// Room for the block of n bytes, for both writers.
std::size_t deflateBlockBound(std::size_t n);

// Literals only: for photo-like rows, where matches find next to nothing. Writes in[0, n) to out
// (deflateBlockBound(n) bytes); returns the bytes written.
std::size_t writeLiteralBlock(const std::uint8_t *in, std::size_t n, bool last, std::uint8_t *out);

// Literals and matches, for screen rows: greedy, each position trying the candidates that screens
// have (the pixel before, for runs; the row above, for repeated rows) and the last earlier place
// with the same four bytes. Matches are 4 to 258 bytes long and reach back at most 32 KiB, never
// before in. Keeps its tables between blocks: one per thread.
class MatchBlockWriter
{
public:
    MatchBlockWriter();

    // Writes in[0, n) to out (deflateBlockBound(n) bytes); returns the bytes written. rowBytes:
    // the distance to the same byte of the row above (0: none); pixelBytes: to the pixel before.
    std::size_t write(const std::uint8_t *in, std::size_t n, std::size_t rowBytes,
                      std::size_t pixelBytes, bool last, std::uint8_t *out);

private:
    std::vector<std::uint32_t> m_recent; // by hash of four bytes: base + position
    Buffer<std::uint32_t> m_symbols;     // a literal, or a match (length, distance)
    std::uint32_t m_base = 0;            // m_recent's position of this block's first byte
};

} // namespace imaging
