#pragma once
// Picture: one captured screen, shared by reference. Copies share the pixels; the pixels (and
// the palette) are freed when the last copy lets go. A default-constructed Picture is empty:
// handle() is 0, like a picture without a bitmap. Pixels keep the screen's own format.
// (Contract used by the capture command; the imaging layer may add to it.)

#include <QImage>
#include <QList>
#include <QRgb>
#include <cstdint>
#include <memory>

namespace imaging {

class Picture
{
public:
    Picture();

    // 0 for an empty picture, otherwise a nonzero value identifying the pixel buffer.
    std::uintptr_t handle() const;
    bool isNull() const { return handle() == 0; }

    int width() const;
    int height() const;
    int bitsPerPixel() const;           // 8 (palette), 16 or 32
    const QList<QRgb> &palette() const; // 256 entries for palette screens, otherwise empty

    // Blocks until every pixel has arrived from the screen (a capture hands its Picture out while
    // the transfer is still running). False for an empty picture or a failed transfer.
    bool waitForPixels() const;

    // A converted copy for tests and drawing; a null QImage for an empty picture (or one whose
    // transfer from the screen failed). Waits for a capture still in progress.
    QImage toImage() const;

    // A picture holding a copy of image's pixels: Indexed8 keeps its colour table, RGB16 stays
    // 16-bit, every other format becomes 32-bit RGB. A null image gives an empty picture.
    static Picture fromImage(const QImage &image);

    // Implementation detail of the imaging layer (layout, pixel source); see Picture.cpp.
    struct Data;
    explicit Picture(std::shared_ptr<const Data> data);
    const std::shared_ptr<const Data> &data() const { return m_data; }

private:
    std::shared_ptr<const Data> m_data;
};

} // namespace imaging
