#include "MemoryPixels.h"

namespace imaging {

namespace {
QList<QRgb> paletteOf(const QImage &image)
{
    if (image.format() != QImage::Format_Indexed8)
        return {};
    QList<QRgb> table = image.colorTable();
    table.resize(256, qRgb(0, 0, 0));
    return table;
}
} // namespace

PixelLayout MemoryPixels::layoutOf(const QImage &image)
{
    PixelLayout layout;
    layout.width = image.width();
    layout.height = image.height();
    layout.stride = static_cast<std::size_t>(image.bytesPerLine());
    switch (image.format()) {
    case QImage::Format_Indexed8:
        layout.bitsPerPixel = 8;
        break;
    case QImage::Format_RGB16:
        layout.bitsPerPixel = 16;
        layout.redMask = 0xf800u;
        layout.greenMask = 0x07e0u;
        layout.blueMask = 0x001fu;
        break;
    default:
        layout.bitsPerPixel = 32;
        layout.redMask = 0xff0000u;
        layout.greenMask = 0xff00u;
        layout.blueMask = 0xffu;
        break;
    }
    return layout;
}

MemoryPixels::MemoryPixels(const QImage &image)
    : Picture::Data(layoutOf(image), paletteOf(image))
    , m_image(image)
{
}

} // namespace imaging
