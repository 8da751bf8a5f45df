#include "JpegStripEncoder.h"

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <jerror.h>
#include <jpeglib.h>

namespace imaging {

namespace {

constexpr int McuRows = 16;          // 4:2:0 sampling: an MCU is 16 x 16 pixels
constexpr int PreferredStripRows = 64;

// libjpeg's output, grown with realloc so that running out of memory can be reported through
// libjpeg's own error path (no C++ exception may cross libjpeg's C frames).
struct OutputBuffer
{
    unsigned char *bytes = nullptr;
    std::size_t size = 0;
    std::size_t capacity = 0;
    ~OutputBuffer() { std::free(bytes); }
};

struct Destination
{
    jpeg_destination_mgr manager;
    OutputBuffer *buffer;
    std::size_t initialCapacity;
};

bool grow(OutputBuffer &buffer, std::size_t capacity)
{
    void *bigger = std::realloc(buffer.bytes, capacity);
    if (!bigger)
        return false;
    buffer.bytes = static_cast<unsigned char *>(bigger);
    buffer.capacity = capacity;
    return true;
}

void initDestination(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    if (!grow(*dest->buffer, dest->initialCapacity))
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    dest->manager.next_output_byte = dest->buffer->bytes;
    dest->manager.free_in_buffer = dest->buffer->capacity;
}

boolean emptyOutputBuffer(j_compress_ptr cinfo)
{
    // Called with the whole buffer full: keep it and hand out the new space behind it.
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    OutputBuffer &buffer = *dest->buffer;
    const std::size_t used = buffer.capacity;
    if (!grow(buffer, used * 2))
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    dest->manager.next_output_byte = buffer.bytes + used;
    dest->manager.free_in_buffer = buffer.capacity - used;
    return TRUE;
}

void termDestination(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    dest->buffer->size = dest->buffer->capacity - dest->manager.free_in_buffer;
}

struct ErrorManager
{
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void errorExit(j_common_ptr cinfo)
{
    auto *errors = reinterpret_cast<ErrorManager *>(cinfo->err);
    std::longjmp(errors->jump, 1);
}

void discardMessage(j_common_ptr) {}

struct StripJob
{
    const PixelLayout *layout;
    const QList<QRgb> *palette;
    std::uint8_t **rows;    // the strip's row pointers into the picture
    std::uint8_t *rgbRow;   // scratch row for formats libjpeg cannot take as they are
    int rowCount;
    int quality;
    unsigned restartInterval;
    OutputBuffer *output;
};

// Compresses one strip as a complete JPEG stream. Returns 0 or libjpeg's message code.
// Nothing in this frame has a destructor, so libjpeg's error exit may jump back here.
int compressStrip(const StripJob &job)
{
    jpeg_compress_struct cinfo{};
    ErrorManager errors{};
    Destination dest{};
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = errorExit;
    errors.manager.output_message = discardMessage;
    if (setjmp(errors.jump)) {
        const int code = errors.manager.msg_code;
        jpeg_destroy_compress(&cinfo);
        return code != 0 ? code : -1;
    }
    jpeg_create_compress(&cinfo);

    dest.manager.init_destination = initDestination;
    dest.manager.empty_output_buffer = emptyOutputBuffer;
    dest.manager.term_destination = termDestination;
    dest.buffer = job.output;
    dest.initialCapacity = static_cast<std::size_t>(job.layout->width) * job.rowCount / 2 + 4096;
    cinfo.dest = &dest.manager;

    const bool direct = job.layout->isXrgb32();
    cinfo.image_width = static_cast<JDIMENSION>(job.layout->width);
    cinfo.image_height = static_cast<JDIMENSION>(job.rowCount);
    cinfo.input_components = direct ? 4 : 3;
    cinfo.in_color_space = direct ? JCS_EXT_BGRX : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, job.quality, TRUE);
    cinfo.restart_interval = job.restartInterval;
    jpeg_start_compress(&cinfo, TRUE);

    if (direct) {
        while (cinfo.next_scanline < cinfo.image_height) {
            jpeg_write_scanlines(&cinfo, job.rows + cinfo.next_scanline,
                                 cinfo.image_height - cinfo.next_scanline);
        }
    } else {
        while (cinfo.next_scanline < cinfo.image_height) {
            job.layout->rowToRgb888(job.rows[cinfo.next_scanline], *job.palette, job.rgbRow);
            JSAMPROW row = job.rgbRow;
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return 0;
}

unsigned readBigEndian16(const unsigned char *p)
{
    return (static_cast<unsigned>(p[0]) << 8) | p[1];
}

const unsigned char RestartMarkers[8][2] = {{0xff, 0xd0}, {0xff, 0xd1}, {0xff, 0xd2},
                                             {0xff, 0xd3}, {0xff, 0xd4}, {0xff, 0xd5},
                                             {0xff, 0xd6}, {0xff, 0xd7}};
const unsigned char EndOfImage[2] = {0xff, 0xd9};

} // namespace

struct JpegStripEncoder::Strip
{
    OutputBuffer output;
    std::size_t scanStart = 0; // first byte of entropy-coded data
    std::size_t scanEnd = 0;   // one past its last byte (the EOI marker follows)
    std::size_t frameHeader = 0; // offset of the SOF marker
};

JpegStripEncoder::JpegStripEncoder(const Picture::Data &data, int quality)
    : m_data(data), m_quality(std::clamp(quality, 0, 100))
{
    const PixelLayout &layout = data.layout;
    const unsigned mcusPerRow = static_cast<unsigned>(layout.width + McuRows - 1) / McuRows;
    // A restart interval counts MCUs in 16 bits.
    const int maxMcuRows = static_cast<int>(std::max(1u, 65535u / std::max(1u, mcusPerRow)));
    m_stripRows = std::min(PreferredStripRows, maxMcuRows * McuRows);
    m_stripCount = std::max(1, (layout.height + m_stripRows - 1) / m_stripRows);
    m_restartInterval =
        m_stripCount > 1 ? static_cast<unsigned>(m_stripRows / McuRows) * mcusPerRow : 0;
    m_strips.resize(static_cast<std::size_t>(m_stripCount));
}

JpegStripEncoder::~JpegStripEncoder() = default;

std::optional<SaveStatus> JpegStripEncoder::encodeStrip(int index,
                                                        std::vector<std::uint8_t *> &rows,
                                                        std::vector<std::uint8_t> &rgbRow)
{
    const PixelLayout &layout = m_data.layout;
    const int top = index * m_stripRows;
    const int bottom = std::min(layout.height, top + m_stripRows);
    if (!m_data.waitForRows(bottom))
        return SaveStatus::GenericError;
    rows.clear();
    for (int y = top; y < bottom; ++y)
        rows.push_back(const_cast<std::uint8_t *>(m_data.scanLine(y)));

    auto strip = std::make_unique<Strip>();
    const StripJob job{&layout,      &m_data.palette, rows.data(),       rgbRow.data(),
                       bottom - top, m_quality,       m_restartInterval, &strip->output};
    const int code = compressStrip(job);
    if (code != 0)
        return code == JERR_OUT_OF_MEMORY ? SaveStatus::OutOfMemory : SaveStatus::GenericError;

    // Find the frame header and where the entropy-coded data start and end.
    const unsigned char *bytes = strip->output.bytes;
    const std::size_t size = strip->output.size;
    std::size_t pos = 2;
    while (pos + 4 <= size && bytes[pos] == 0xff) {
        const unsigned marker = bytes[pos + 1];
        const std::size_t length = readBigEndian16(bytes + pos + 2);
        if (marker >= 0xc0 && marker <= 0xc2)
            strip->frameHeader = pos;
        pos += 2 + length;
        if (marker == 0xda) {
            strip->scanStart = pos;
            break;
        }
    }
    if (strip->scanStart == 0 || strip->frameHeader == 0 || size < strip->scanStart + 2
        || bytes[size - 2] != 0xff || bytes[size - 1] != 0xd9)
        return SaveStatus::GenericError;
    strip->scanEnd = size - 2;
    m_strips[static_cast<std::size_t>(index)] = std::move(strip);
    return std::nullopt;
}

std::optional<SaveStatus> JpegStripEncoder::encode(int threads)
{
    std::atomic<int> next{0};
    std::atomic<int> failure{0};
    auto work = [&] {
        try {
            std::vector<std::uint8_t *> rows;
            rows.reserve(static_cast<std::size_t>(m_stripRows));
            std::vector<std::uint8_t> rgbRow(static_cast<std::size_t>(m_data.layout.width) * 3u);
            for (;;) {
                const int index = next.fetch_add(1);
                if (index >= m_stripCount || failure.load() != 0)
                    return;
                if (const auto status = encodeStrip(index, rows, rgbRow)) {
                    failure.store(static_cast<int>(*status));
                    return;
                }
            }
        } catch (const std::bad_alloc &) {
            failure.store(static_cast<int>(SaveStatus::OutOfMemory));
        } catch (...) {
            failure.store(static_cast<int>(SaveStatus::GenericError));
        }
    };

    const int helpers = std::clamp(threads, 1, m_stripCount) - 1;
    {
        std::vector<std::jthread> pool;
        pool.reserve(static_cast<std::size_t>(helpers));
        for (int i = 0; i < helpers; ++i)
            pool.emplace_back(work);
        work();
    }
    if (failure.load() != 0)
        return static_cast<SaveStatus>(failure.load());

    // The whole picture's height goes into the first strip's frame header (SOF: FF Cx, length,
    // precision, height).
    Strip &first = *m_strips.front();
    unsigned char *height = first.output.bytes + first.frameHeader + 5;
    height[0] = static_cast<unsigned char>((m_data.layout.height >> 8) & 0xff);
    height[1] = static_cast<unsigned char>(m_data.layout.height & 0xff);
    return std::nullopt;
}

std::vector<iovec> JpegStripEncoder::fileBuffers() const
{
    std::vector<iovec> buffers;
    buffers.reserve(m_strips.size() * 2 + 2);
    const Strip &first = *m_strips.front();
    buffers.push_back({first.output.bytes, first.scanStart});
    for (std::size_t i = 0; i < m_strips.size(); ++i) {
        const Strip &strip = *m_strips[i];
        buffers.push_back({strip.output.bytes + strip.scanStart, strip.scanEnd - strip.scanStart});
        if (i + 1 < m_strips.size())
            buffers.push_back({const_cast<unsigned char *>(RestartMarkers[i % 8]), 2});
    }
    buffers.push_back({const_cast<unsigned char *>(EndOfImage), 2});
    return buffers;
}

} // namespace imaging
