#pragma once
// The bytes of a small Windows cursor file: one entry holding a 32-bit image of one colour,
// with the hot spot in the entry's planes / bit-count fields.

#include <QByteArray>
#include <QPoint>

namespace testsupport {

inline QByteArray cursorFileBytes(int size, QPoint hotSpot)
{
    QByteArray bytes;
    const auto u16 = [&](int v) { bytes.append(char(v & 0xff)).append(char((v >> 8) & 0xff)); };
    const auto u32 = [&](int v) {
        u16(v & 0xffff);
        u16(v >> 16);
    };
    const int pixels = size * size * 4, mask = (size + 31) / 32 * 4 * size;
    u16(0), u16(2), u16(1); // reserved, type 2: cursor, count
    u16(size | size << 8), u16(0), u16(hotSpot.x()), u16(hotSpot.y()); // size, colours, hot spot
    u32(40 + pixels + mask), u32(6 + 16);                              // data size and offset
    u32(40), u32(size), u32(2 * size), u16(1), u16(32), u32(0), u32(pixels + mask), u32(0), u32(0),
        u32(0), u32(0);
    for (int i = 0; i < size * size; ++i)
        bytes.append("\x1e\x1e\xc8\xff", 4); // BGRA
    return bytes.append(QByteArray(mask, '\0'));
}

} // namespace testsupport
