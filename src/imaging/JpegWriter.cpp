#include "JpegWriter.h"

#include "AtomicFile.h"
#include "BandPool.h"
#include "ImageFormat.h"
#include "JpegStripEncoder.h"
#include "PictureData.h"
#include "SaveError.h"

namespace imaging {

void writeJpeg(const Picture::Data &data, AtomicFile &file, std::uint8_t quality)
{
    JpegStripEncoder encoder(data, quality);
    const auto sink = [&file](const iovec *buffers, int count) { file.append(buffers, count); };
    if (const auto status = encoder.encode(BandPool::machineThreads(), sink))
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
