#pragma once
// MemoryPixels: Picture data held in a QImage, complete from the start. Backs Picture::fromImage
// (pictures made by tests, the benchmark, or a future backend that receives finished images).

#include "PictureData.h"

#include <QImage>

namespace imaging {

class MemoryPixels final : public Picture::Data
{
public:
    // image must be Format_RGB32, Format_RGB16 or Format_Indexed8 (with its colour table).
    explicit MemoryPixels(const QImage &image);

    bool waitForRows(int) const override { return true; }
    const std::uint8_t *scanLine(int y) const override { return m_image.constScanLine(y); }

    static PixelLayout layoutOf(const QImage &image);

private:
    QImage m_image;
};

} // namespace imaging
