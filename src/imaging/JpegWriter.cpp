#include "JpegWriter.h"

#include "AtomicFile.h"
#include "JpegStripEncoder.h"
#include "PictureData.h"
#include "SaveError.h"

#include <new>
#include <thread>

namespace imaging {

namespace {

int encoderThreads()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 2 : static_cast<int>(std::min(cores, 16u));
}

const Picture::Data &validData(const Picture &picture)
{
    const auto &data = picture.data();
    if (!data || !data->layout.isValid())
        throw saveError(SaveStatus::InvalidParameter);
    return *data;
}

// names: empty to replace the file at path, else the names to claim (names(0) is path).
QString save(const Picture &picture, const QString &path, const NameSequence &names,
             std::uint8_t quality)
{
    const TransferCompletion completion(validData(picture));
    try {
        AtomicFile file(path);
        writeJpeg(picture, file, quality);
        if (names)
            return file.commitFirstFree(names);
        file.commit();
        return path;
    } catch (const std::bad_alloc &) {
        throw saveError(SaveStatus::OutOfMemory);
    }
}

} // namespace

void writeJpeg(const Picture &picture, AtomicFile &file, std::uint8_t quality)
{
    const Picture::Data &data = validData(picture);
    const TransferCompletion completion(data);
    try {
        JpegStripEncoder encoder(data, quality);
        const auto sink = [&file](const iovec *buffers, int count) { file.append(buffers, count); };
        const auto status = encoder.encode(encoderThreads(), sink);
        if (status)
            throw saveError(*status);
    } catch (const std::bad_alloc &) {
        throw saveError(SaveStatus::OutOfMemory);
    }
}

void SaveJPG(const Picture &picture, const QString &path, std::uint8_t quality)
{
    save(picture, path, {}, quality);
}

QString SaveJPG(const Picture &picture, const NameSequence &names, std::uint8_t quality)
{
    return save(picture, names(0), names, quality);
}

} // namespace imaging
