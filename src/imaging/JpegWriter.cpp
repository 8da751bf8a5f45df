#include "JpegWriter.h"

#include "AtomicFile.h"
#include "ImageFormat.h"
#include "JpegStripEncoder.h"
#include "PictureData.h"
#include "SaveError.h"

#include <algorithm>
#include <thread>

namespace imaging {

namespace {

int encoderThreads()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 2 : static_cast<int>(std::min(cores, 16u));
}

} // namespace

void writeJpeg(const Picture::Data &data, AtomicFile &file, std::uint8_t quality)
{
    JpegStripEncoder encoder(data, quality);
    const auto sink = [&file](const iovec *buffers, int count) { file.append(buffers, count); };
    if (const auto status = encoder.encode(encoderThreads(), sink))
        throw saveError(*status);
}

void SaveJPG(const Picture &picture, const QString &path, std::uint8_t quality)
{
    savePicture(picture, path, ImageFormat::Jpeg, quality);
}

QString SaveJPG(const Picture &picture, const NameSequence &names, std::uint8_t quality)
{
    return savePicture(picture, names, ImageFormat::Jpeg, quality);
}

} // namespace imaging
