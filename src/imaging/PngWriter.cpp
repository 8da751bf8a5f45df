#include "PngWriter.h"

#include "AtomicFile.h"
#include "ImageFormat.h"
#include "PngBandEncoder.h"
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

void writePng(const Picture::Data &data, AtomicFile &file, std::uint8_t)
{
    PngBandEncoder encoder(data);
    const auto sink = [&file](const iovec *buffers, int count) { file.append(buffers, count); };
    if (const auto status = encoder.encode(encoderThreads(), sink))
        throw saveError(*status);
}

void SavePNG(const Picture &picture, const QString &path)
{
    savePicture(picture, path, ImageFormat::Png, 0);
}

QString SavePNG(const Picture &picture, const NameSequence &names)
{
    return savePicture(picture, names, ImageFormat::Png, 0);
}

} // namespace imaging
