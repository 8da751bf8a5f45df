// The QImage conversions of Picture, apart from the rest of it: they need Qt Gui, which a
// capture from the command line does not load.
#include "Picture.h"

#include "MemoryPixels.h"
#include "PictureData.h"

#include <cstring>

namespace imaging {

QImage Picture::toImage() const
{
    if (!m_data || !m_data->waitForAll())
        return {};
    const PixelLayout &layout = m_data->layout;
    QImage::Format format = QImage::Format_Invalid;
    if (layout.isIndexed())
        format = QImage::Format_Indexed8;
    else if (layout.isXrgb32())
        format = QImage::Format_RGB32;
    else if (layout.bitsPerPixel == 16 && layout.redMask == 0xf800u &&
             layout.greenMask == 0x07e0u && layout.blueMask == 0x001fu)
        format = QImage::Format_RGB16;

    if (format == QImage::Format_Invalid) {
        // Any other channel layout: expanded to 8 bits per channel row by row.
        QImage image(layout.width, layout.height, QImage::Format_RGB888);
        if (image.isNull())
            return {};
        for (int y = 0; y < layout.height; ++y)
            layout.rowToRgb888(m_data->scanLine(y), m_data->palette, image.scanLine(y));
        return image;
    }

    QImage image(layout.width, layout.height, format);
    if (image.isNull())
        return {};
    const auto rowBytes = static_cast<std::size_t>(layout.width) * (layout.bitsPerPixel / 8u);
    for (int y = 0; y < layout.height; ++y)
        std::memcpy(image.scanLine(y), m_data->scanLine(y), rowBytes);
    if (format == QImage::Format_Indexed8) {
        QList<QRgb> table = m_data->palette;
        table.resize(256, qRgb(0, 0, 0));
        image.setColorTable(table);
    }
    return image;
}

Picture Picture::fromImage(const QImage &image)
{
    if (image.isNull())
        return {};
    QImage copy;
    switch (image.format()) {
    case QImage::Format_Indexed8:
    case QImage::Format_RGB16:
    case QImage::Format_RGB32:
        copy = image.copy();
        break;
    default:
        copy = image.convertToFormat(QImage::Format_RGB32);
        break;
    }
    if (copy.isNull())
        return {};
    return Picture(std::make_shared<const MemoryPixels>(copy));
}

} // namespace imaging
