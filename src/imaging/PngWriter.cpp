#include "PngWriter.h"

#include "AtomicFile.h"
#include "BandPool.h"
#include "ImageFormat.h"
#include "PngBandEncoder.h"
#include "SaveError.h"

namespace imaging {

void writePng(const Picture::Data &data, AtomicFile &file, std::uint8_t)
{
    PngBandEncoder encoder(data);
    const auto sink = [&file](const iovec *buffers, int count) { file.append(buffers, count); };
    if (const auto status = encoder.encode(BandPool::machineThreads(), sink))
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
