#pragma once
// CroppedPixels: a rectangle of another picture's pixels, without a copy: its rows point into
// the source's rows, which it keeps alive. For the portal on GNOME, whose picture holds every
// monitor, of which the program keeps the primary one.

#include "PictureData.h"

#include <QRect>

#include <memory>

namespace platform {

class CroppedPixels final : public imaging::Picture::Data
{
public:
    // rect must lie inside source's picture; source's pixels have 8, 16 or 32 bits.
    CroppedPixels(std::shared_ptr<const imaging::Picture::Data> source, QRect rect)
        : imaging::Picture::Data(layoutOf(source->layout, rect), source->palette)
        , m_source(std::move(source))
        , m_rect(rect)
    {
    }

    bool waitForRows(int rowEnd) const override
    {
        return m_source->waitForRows(m_rect.top() + rowEnd);
    }
    bool transferNeedsACore() const override { return m_source->transferNeedsACore(); }
    const std::uint8_t *scanLine(int y) const override
    {
        return m_source->scanLine(m_rect.top() + y) +
               std::size_t(m_rect.left()) * std::size_t(layout.bitsPerPixel / 8);
    }

    // The rect of picture, sharing its pixels; the picture itself when rect covers it all.
    static imaging::Picture of(const imaging::Picture &picture, QRect rect)
    {
        if (picture.isNull() || rect == QRect(0, 0, picture.width(), picture.height()))
            return picture;
        return imaging::Picture(std::make_shared<const CroppedPixels>(picture.data(), rect));
    }

private:
    static imaging::PixelLayout layoutOf(imaging::PixelLayout layout, QRect rect)
    {
        layout.width = rect.width();
        layout.height = rect.height();
        return layout;
    }

    std::shared_ptr<const imaging::Picture::Data> m_source;
    QRect m_rect;
};

} // namespace platform
