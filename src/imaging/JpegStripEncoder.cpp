#include "JpegStripEncoder.h"

#include "BandPool.h"
#include "OrderedOutput.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace imaging {

namespace {

constexpr int McuRows = 16; // 4:2:0 sampling: an MCU is 16 x 16 pixels
constexpr int PreferredStripRows = 64;

// One strip's complete JPEG stream. Grown with realloc, so that running out of memory is
// reported through libjpeg's own error path (no C++ exception may cross libjpeg's C frames).
struct StripOutput
{
    unsigned char *bytes = nullptr;
    std::size_t size = 0;
    std::size_t capacity = 0;
    std::size_t frameHeader = 0; // offset of the SOF marker
    std::size_t scanStart = 0;   // first byte of the entropy-coded data
    std::size_t scanEnd = 0;     // one past its last byte (the EOI marker follows)

    StripOutput() = default;
    StripOutput(const StripOutput &) = delete;
    StripOutput &operator=(const StripOutput &) = delete;
    ~StripOutput() { std::free(bytes); }

    bool grow(std::size_t wanted)
    {
        void *bigger = std::realloc(bytes, wanted);
        if (!bigger)
            return false;
        bytes = static_cast<unsigned char *>(bigger);
        capacity = wanted;
        return true;
    }

    // Finds the frame header and the entropy-coded data in the finished stream.
    bool locateScan()
    {
        frameHeader = scanStart = 0;
        std::size_t pos = 2;
        while (pos + 4 <= size && bytes[pos] == 0xff) {
            const unsigned marker = bytes[pos + 1];
            const std::size_t length = (std::size_t(bytes[pos + 2]) << 8) | bytes[pos + 3];
            if (marker >= 0xc0 && marker <= 0xc2)
                frameHeader = pos;
            pos += 2 + length;
            if (marker == 0xda) {
                scanStart = pos;
                break;
            }
        }
        if (scanStart == 0 || frameHeader == 0 || size < scanStart + 2 || bytes[size - 2] != 0xff ||
            bytes[size - 1] != 0xd9)
            return false;
        scanEnd = size - 2;
        return true;
    }
};

struct Destination
{
    jpeg_destination_mgr manager;
    StripOutput *output;
    std::size_t initialCapacity;
};

void initDestination(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    StripOutput &out = *dest->output;
    if (out.capacity < dest->initialCapacity && !out.grow(dest->initialCapacity))
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    out.size = 0;
    dest->manager.next_output_byte = out.bytes;
    dest->manager.free_in_buffer = out.capacity;
}

boolean emptyOutputBuffer(j_compress_ptr cinfo)
{
    // Called with the whole buffer full: keep it and hand out new space behind it.
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    StripOutput &out = *dest->output;
    const std::size_t used = out.capacity;
    if (!out.grow(used * 2))
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    dest->manager.next_output_byte = out.bytes + used;
    dest->manager.free_in_buffer = out.capacity - used;
    return TRUE;
}

void termDestination(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    dest->output->size = dest->output->capacity - dest->manager.free_in_buffer;
}

struct ErrorManager
{
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void errorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->jump, 1);
}

void discardMessage(j_common_ptr) {}

// One thread's libjpeg compressor, set up once and reused for every strip the thread encodes.
class Compressor
{
public:
    Compressor() = default;
    Compressor(const Compressor &) = delete;
    Compressor &operator=(const Compressor &) = delete;
    ~Compressor()
    {
        if (m_created)
            jpeg_destroy_compress(&m_cinfo);
    }

    // Returns 0 or libjpeg's message code. The setjmp frames below hold nothing with a
    // destructor, so libjpeg's error exit may jump back into them.
    int setUp(const PixelLayout &layout, int quality, unsigned restartInterval)
    {
        m_cinfo.err = jpeg_std_error(&m_errors.manager);
        m_errors.manager.error_exit = errorExit;
        m_errors.manager.output_message = discardMessage;
        if (setjmp(m_errors.jump))
            return failure();
        jpeg_create_compress(&m_cinfo);
        m_created = true;
        m_dest.manager.init_destination = initDestination;
        m_dest.manager.empty_output_buffer = emptyOutputBuffer;
        m_dest.manager.term_destination = termDestination;
        m_cinfo.dest = &m_dest.manager;
        m_direct = layout.isXrgb32();
        m_cinfo.image_width = static_cast<JDIMENSION>(layout.width);
        m_cinfo.image_height = 1;
        m_cinfo.input_components = m_direct ? 4 : 3;
        m_cinfo.in_color_space = m_direct ? JCS_EXT_BGRX : JCS_RGB;
        jpeg_set_defaults(&m_cinfo);
        jpeg_set_quality(&m_cinfo, quality, TRUE);
        m_cinfo.restart_interval = restartInterval;
        return 0;
    }

    // Compresses rowCount rows (row pointers into the picture) as one complete JPEG stream.
    int compress(std::uint8_t **rows, int rowCount, StripOutput &output, const PixelLayout &layout,
                 const QList<QRgb> &palette, std::uint8_t *rgbRow)
    {
        if (setjmp(m_errors.jump))
            return failure();
        m_dest.output = &output;
        m_dest.initialCapacity = static_cast<std::size_t>(layout.width) * rowCount / 2 + 4096;
        m_cinfo.image_height = static_cast<JDIMENSION>(rowCount);
        jpeg_start_compress(&m_cinfo, TRUE);
        while (m_cinfo.next_scanline < m_cinfo.image_height) {
            if (m_direct) {
                jpeg_write_scanlines(&m_cinfo, rows + m_cinfo.next_scanline,
                                     m_cinfo.image_height - m_cinfo.next_scanline);
            } else {
                layout.rowToRgb888(rows[m_cinfo.next_scanline], palette, rgbRow);
                JSAMPROW row = rgbRow;
                jpeg_write_scanlines(&m_cinfo, &row, 1);
            }
        }
        jpeg_finish_compress(&m_cinfo);
        return 0;
    }

private:
    int failure()
    {
        const int code = m_errors.manager.msg_code;
        if (m_created)
            jpeg_abort_compress(&m_cinfo);
        return code != 0 ? code : -1;
    }

    jpeg_compress_struct m_cinfo{};
    ErrorManager m_errors{};
    Destination m_dest{};
    bool m_created = false;
    bool m_direct = false;
};

const unsigned char RestartMarkers[8][2] = {{0xff, 0xd0}, {0xff, 0xd1}, {0xff, 0xd2}, {0xff, 0xd3},
                                            {0xff, 0xd4}, {0xff, 0xd5}, {0xff, 0xd6}, {0xff, 0xd7}};
const unsigned char EndOfImage[2] = {0xff, 0xd9};

SaveStatus statusOf(int libjpegCode)
{
    return libjpegCode == JERR_OUT_OF_MEMORY ? SaveStatus::OutOfMemory : SaveStatus::GenericError;
}

} // namespace

JpegStripEncoder::JpegStripEncoder(const Picture::Data &data, int quality)
    : m_data(data)
    , m_quality(std::clamp(quality, 0, 100))
{
    const PixelLayout &layout = data.layout;
    const unsigned mcusPerRow = static_cast<unsigned>(layout.width + McuRows - 1) / McuRows;
    // A restart interval counts MCUs in 16 bits.
    const int maxMcuRows = static_cast<int>(std::max(1u, 65535u / std::max(1u, mcusPerRow)));
    m_stripRows = std::min(PreferredStripRows, maxMcuRows * McuRows);
    m_stripCount = std::max(1, (layout.height + m_stripRows - 1) / m_stripRows);
    m_restartInterval =
        m_stripCount > 1 ? static_cast<unsigned>(m_stripRows / McuRows) * mcusPerRow : 0;
}

std::optional<SaveStatus> JpegStripEncoder::encode(int threads, const Sink &sink)
{
    const PixelLayout &layout = m_data.layout;
    const int height = layout.height;
    OrderedOutput<StripOutput> output(
        m_stripCount, [&sink, height](int position, StripOutput &strip) {
            iovec buffers[2];
            if (position == 0) {
                // The whole picture's height into the frame header (FF Cx, length, precision,
                // height).
                unsigned char *frameHeight = strip.bytes + strip.frameHeader + 5;
                frameHeight[0] = static_cast<unsigned char>((height >> 8) & 0xff);
                frameHeight[1] = static_cast<unsigned char>(height & 0xff);
                buffers[0] = {strip.bytes, strip.scanStart};
            } else {
                buffers[0] = {const_cast<unsigned char *>(RestartMarkers[(position - 1) % 8]), 2};
            }
            buffers[1] = {strip.bytes + strip.scanStart, strip.scanEnd - strip.scanStart};
            sink(buffers, 2);
        });
    BandPool pool(m_data, m_stripRows, m_stripCount, [&output] { return output.failed(); });
    const auto status = pool.run(threads, [&]() -> std::optional<SaveStatus> {
        Compressor compressor;
        if (const int code = compressor.setUp(layout, m_quality, m_restartInterval))
            return statusOf(code);
        std::vector<std::uint8_t *> rows(static_cast<std::size_t>(m_stripRows));
        std::vector<std::uint8_t> rgbRow(static_cast<std::size_t>(layout.width) * 3u);
        while (const auto band = pool.next()) {
            for (int y = band->top; y < band->bottom; ++y)
                rows[static_cast<std::size_t>(y - band->top)] =
                    const_cast<std::uint8_t *>(m_data.scanLine(y));
            std::unique_ptr<StripOutput> strip = output.buffer();
            const int code = compressor.compress(rows.data(), band->bottom - band->top, *strip,
                                                 layout, m_data.palette, rgbRow.data());
            if (code != 0 || !strip->locateScan())
                return statusOf(code);
            output.deliver(band->index, std::move(strip));
        }
        return std::nullopt;
    });
    if (const auto failure = output.outcome(status))
        return failure;
    const iovec end{const_cast<unsigned char *>(EndOfImage), 2};
    sink(&end, 1);
    return std::nullopt;
}

} // namespace imaging
