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
} // namespace

void SaveJPG(const Picture &picture, const QString &path, std::uint8_t quality)
{
    const auto &data = picture.data();
    if (!data || !data->layout.isValid())
        throw saveError(SaveStatus::InvalidParameter);
    const TransferCompletion completion(*data);
    try {
        AtomicFile file(path);
        JpegStripEncoder encoder(*data, quality);
        const auto sink = [&file](const iovec *buffers, int count) {
            file.append(buffers, count);
        };
        const auto status = encoder.encode(encoderThreads(), sink);
        if (status)
            throw saveError(*status);
        file.commit();
    } catch (const std::bad_alloc &) {
        throw saveError(SaveStatus::OutOfMemory);
    }
}

} // namespace imaging
