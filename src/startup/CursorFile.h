#pragma once
// A Windows cursor file (.cur) read into a pointer picture: the image of its first entry and
// the hot spot that the entry's directory record holds (x in the planes field, y in the
// bit-count field). The image itself is decoded by Qt's ico reader.

#include <QCursor>
#include <QImage>
#include <QPoint>
#include <QString>

namespace startup {

class CursorFile
{
public:
    // Reads the file. Throws core::Error 481 "Invalid picture" (naming the file) when it cannot
    // be opened or is not a cursor file whose first image decodes.
    static CursorFile read(const QString &path);

    QImage image() const { return m_image; }
    // Inside the image; a hot spot recorded outside it is clamped to the nearest edge.
    QPoint hotSpot() const { return m_hotSpot; }
    // The pointer picture: needs a running QGuiApplication.
    QCursor cursor() const;

private:
    CursorFile(QImage image, QPoint hotSpot);

    QImage m_image;
    QPoint m_hotSpot;
};

} // namespace startup
