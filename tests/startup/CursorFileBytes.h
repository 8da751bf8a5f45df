#pragma once
// Builds the bytes of a small Windows cursor file: one entry, a 32-bit image whose pixels are
// all the given colour, and the hot spot in the entry's planes / bit-count fields.

#include <QByteArray>
#include <QPoint>
#include <QRgb>
#include <QSize>
#include <QtEndian>

namespace testsupport {

inline QByteArray cursorFileBytes(QSize size, QPoint hotSpot, QRgb colour = qRgba(200, 30, 30, 255),
                                  quint16 type = 2)
{
    QByteArray bytes;
    const auto u8 = [&](int v) { bytes.append(char(v & 0xff)); };
    const auto u16 = [&](int v) { u8(v); u8(v >> 8); };
    const auto u32 = [&](quint32 v) { u16(int(v & 0xffff)); u16(int(v >> 16)); };
    const int w = size.width(), h = size.height();
    const int xorBytes = w * h * 4;
    const int andBytes = (w + 31) / 32 * 4 * h;

    u16(0); u16(type); u16(1);                                  // header
    u8(w); u8(h); u8(0); u8(0);                                 // entry: size, colours, reserved
    u16(hotSpot.x()); u16(hotSpot.y());                         //   hot spot
    u32(quint32(40 + xorBytes + andBytes)); u32(6 + 16);        //   data size and offset
    u32(40); u32(quint32(w)); u32(quint32(2 * h)); u16(1); u16(32); // BITMAPINFOHEADER
    u32(0); u32(quint32(xorBytes + andBytes)); u32(0); u32(0); u32(0); u32(0);
    for (int i = 0; i < w * h; ++i) {                           // BGRA, bottom-up
        u8(qBlue(colour)); u8(qGreen(colour)); u8(qRed(colour)); u8(qAlpha(colour));
    }
    bytes.append(QByteArray(andBytes, '\0'));
    return bytes;
}

} // namespace testsupport
