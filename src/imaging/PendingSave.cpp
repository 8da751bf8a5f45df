#include "PendingSave.h"

#include "AtomicFile.h"
#include "PictureData.h"
#include "SaveError.h"

#include <exception>
#include <optional>
#include <system_error>
#include <thread>

namespace imaging {

// One prepared save: the picture written into its temporary file on a thread of its own.
class PendingSave::Job
{
public:
    Job(Picture picture, QString path, ImageFormat format, std::uint8_t quality)
        : m_picture(std::move(picture))
        , m_path(std::move(path))
        , m_format(format)
        , m_quality(quality)
    {
        try {
            m_worker = std::thread([this] { write(); });
        } catch (const std::system_error &) {
            // No thread to be had: finished() writes on the caller's.
        }
    }
    ~Job()
    {
        if (m_worker.joinable())
            m_worker.join();
    }
    Job(const Job &) = delete;
    Job &operator=(const Job &) = delete;

    bool writes(const Picture &picture, const QString &path, ImageFormat format,
                std::uint8_t quality) const
    {
        return picture.data() == m_picture.data() && path == m_path && format == m_format &&
               quality == m_quality;
    }

    // Waits for the writing to end; throws its failure or returns the complete file.
    AtomicFile &finished()
    {
        if (m_worker.joinable())
            m_worker.join();
        else if (!m_done)
            write();
        m_done = true;
        if (m_failure)
            std::rethrow_exception(m_failure);
        return *m_file;
    }

private:
    void write() noexcept
    {
        try {
            const auto &data = m_picture.data();
            if (!data || !data->layout.isValid())
                throw saveError(SaveStatus::InvalidParameter);
            const TransferCompletion completion(*data);
            m_file.emplace(m_path);
            writePicture(m_picture, *m_file, m_format, m_quality);
        } catch (const std::bad_alloc &) {
            m_failure = std::make_exception_ptr(saveError(SaveStatus::OutOfMemory));
            m_file.reset();
        } catch (...) {
            m_failure = std::current_exception();
            m_file.reset(); // removes what was written
        }
    }

    const Picture m_picture;
    const QString m_path;
    const ImageFormat m_format;
    const std::uint8_t m_quality;
    std::optional<AtomicFile> m_file;
    std::exception_ptr m_failure;
    std::thread m_worker;
    bool m_done = false;
};

PendingSave::PendingSave() = default;

PendingSave::~PendingSave() = default;

void PendingSave::start(const Picture &picture, const QString &path, ImageFormat format,
                        std::uint8_t quality) noexcept
{
    m_job.reset();
    if (picture.isNull())
        return;
    try {
        m_job = std::make_unique<Job>(picture, path, format, quality);
    } catch (...) {
        // Out of memory: commit() saves then.
    }
}

QString PendingSave::commit(const Picture &picture, const QString &path, const NameSequence &names,
                            ImageFormat format, std::uint8_t quality)
{
    std::unique_ptr<Job> job = std::move(m_job);
    if (job && !job->writes(picture, path, format, quality))
        job.reset(); // a choice changed since the start
    if (!job)
        return names ? savePicture(picture, names, format, quality)
                     : (savePicture(picture, path, format, quality), path);
    AtomicFile &file = job->finished();
    if (names)
        return file.commitFirstFree(names);
    file.commit();
    return path;
}

void PendingSave::drop() noexcept
{
    m_job.reset();
}

} // namespace imaging
