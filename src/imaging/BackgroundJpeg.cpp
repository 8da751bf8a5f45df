#include "BackgroundJpeg.h"

#include "JpegWriter.h"
#include "PictureData.h"
#include "SaveError.h"

#include <system_error>

namespace imaging {

BackgroundJpeg::BackgroundJpeg(Picture picture, QString path, std::uint8_t quality) noexcept
    : m_picture(std::move(picture))
    , m_path(std::move(path))
    , m_quality(quality)
{
    try {
        m_worker = std::thread([this] { encode(); });
    } catch (const std::system_error &) {
        // No thread to be had: finished() encodes on the caller's.
    }
}

BackgroundJpeg::~BackgroundJpeg()
{
    if (m_worker.joinable())
        m_worker.join();
}

void BackgroundJpeg::encode() noexcept
{
    try {
        const auto &data = m_picture.data();
        if (!data || !data->layout.isValid())
            throw saveError(SaveStatus::InvalidParameter);
        const TransferCompletion completion(*data);
        m_file.emplace(m_path);
        writeJpeg(m_picture, *m_file, m_quality);
    } catch (const std::bad_alloc &) {
        m_failure = std::make_exception_ptr(saveError(SaveStatus::OutOfMemory));
        m_file.reset();
    } catch (...) {
        m_failure = std::current_exception();
        m_file.reset(); // removes what was written
    }
}

bool BackgroundJpeg::encodes(const Picture &picture, const QString &path,
                             std::uint8_t quality) const
{
    return picture.data() == m_picture.data() && path == m_path && quality == m_quality;
}

AtomicFile &BackgroundJpeg::finished()
{
    if (m_worker.joinable())
        m_worker.join();
    else if (!m_done)
        encode();
    m_done = true;
    if (m_failure)
        std::rethrow_exception(m_failure);
    return *m_file;
}

} // namespace imaging
