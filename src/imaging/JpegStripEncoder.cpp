#include "JpegStripEncoder.h"

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
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

// Hands finished strips to the sink in picture order and recycles their buffers.
class OrderedOutput
{
public:
    OrderedOutput(int strips, int pictureHeight, const JpegStripEncoder::Sink &sink)
        : m_ready(static_cast<std::size_t>(strips))
        , m_height(pictureHeight)
        , m_sink(sink)
    {
    }

    std::unique_ptr<StripOutput> buffer()
    {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_spare.empty()) {
                auto spare = std::move(m_spare.back());
                m_spare.pop_back();
                return spare;
            }
        }
        return std::make_unique<StripOutput>();
    }

    // Takes strip index; whichever thread finds the next strip in order ready writes it out.
    void deliver(int index, std::unique_ptr<StripOutput> strip)
    {
        std::unique_lock lock(m_mutex);
        m_ready[static_cast<std::size_t>(index)] = std::move(strip);
        if (m_writing)
            return;
        m_writing = true;
        while (!m_failed && m_next < static_cast<int>(m_ready.size()) &&
               m_ready[static_cast<std::size_t>(m_next)]) {
            auto next = std::move(m_ready[static_cast<std::size_t>(m_next)]);
            const int position = m_next;
            lock.unlock();
            try {
                write(position, *next);
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

    // After every strip: the end marker, or the sink's exception.
    void finish()
    {
        if (m_error)
            std::rethrow_exception(m_error);
        const iovec end{const_cast<unsigned char *>(EndOfImage), 2};
        m_sink(&end, 1);
    }

private:
    void write(int position, StripOutput &strip)
    {
        iovec buffers[2];
        if (position == 0) {
            // The whole picture's height into the frame header (FF Cx, length, precision, height).
            unsigned char *height = strip.bytes + strip.frameHeader + 5;
            height[0] = static_cast<unsigned char>((m_height >> 8) & 0xff);
            height[1] = static_cast<unsigned char>(m_height & 0xff);
            buffers[0] = {strip.bytes, strip.scanStart};
        } else {
            buffers[0] = {const_cast<unsigned char *>(RestartMarkers[(position - 1) % 8]), 2};
        }
        buffers[1] = {strip.bytes + strip.scanStart, strip.scanEnd - strip.scanStart};
        m_sink(buffers, 2);
    }

    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<StripOutput>> m_ready;
    std::vector<std::unique_ptr<StripOutput>> m_spare;
    int m_next = 0;
    bool m_writing = false;
    bool m_failed = false;
    std::exception_ptr m_error;
    int m_height;
    const JpegStripEncoder::Sink &m_sink;
};

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
    OrderedOutput output(m_stripCount, layout.height, sink);
    std::atomic<int> next{0};
    std::atomic<int> failure{0};
    auto fail = [&](SaveStatus status) {
        int none = 0;
        failure.compare_exchange_strong(none, static_cast<int>(status));
    };
    auto work = [&] {
        try {
            Compressor compressor;
            if (const int code = compressor.setUp(layout, m_quality, m_restartInterval)) {
                fail(code == JERR_OUT_OF_MEMORY ? SaveStatus::OutOfMemory
                                                : SaveStatus::GenericError);
                return;
            }
            std::vector<std::uint8_t *> rows(static_cast<std::size_t>(m_stripRows));
            std::vector<std::uint8_t> rgbRow(static_cast<std::size_t>(layout.width) * 3u);
            for (;;) {
                const int index = next.fetch_add(1);
                if (index >= m_stripCount || failure.load() != 0 || output.failed())
                    return;
                const int top = index * m_stripRows;
                const int bottom = std::min(layout.height, top + m_stripRows);
                if (!m_data.waitForRows(bottom)) {
                    fail(SaveStatus::GenericError);
                    return;
                }
                for (int y = top; y < bottom; ++y) {
                    rows[static_cast<std::size_t>(y - top)] =
                        const_cast<std::uint8_t *>(m_data.scanLine(y));
                }
                std::unique_ptr<StripOutput> strip = output.buffer();
                const int code = compressor.compress(rows.data(), bottom - top, *strip, layout,
                                                     m_data.palette, rgbRow.data());
                if (code != 0 || !strip->locateScan()) {
                    fail(code == JERR_OUT_OF_MEMORY ? SaveStatus::OutOfMemory
                                                    : SaveStatus::GenericError);
                    return;
                }
                output.deliver(index, std::move(strip));
            }
        } catch (const std::bad_alloc &) {
            fail(SaveStatus::OutOfMemory);
        } catch (...) {
            fail(SaveStatus::GenericError);
        }
    };

    // While the screen is still being transferred, the display server needs a core: this thread
    // alone encodes the strips as their rows arrive, and the helpers join once the transfer is
    // complete (at once for a complete picture). With every thread busy from the start, the
    // server's copy was starved and the whole took longer than transfer and encoding in turn.
    const int helpers = std::clamp(threads, 1, m_stripCount) - 1;
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
