#include "CursorFile.h"

#include "core/Error.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>
#include <algorithm>

namespace startup {

namespace {

constexpr int InvalidPicture = 481;
constexpr qsizetype HeaderSize = 6;
constexpr qsizetype EntrySize = 16;
constexpr quint16 CursorType = 2;

[[noreturn]] void fail(const QString &path, const QString &why)
{
    throw core::Error(InvalidPicture, QStringLiteral("Invalid picture: %1 (%2)").arg(path, why));
}

quint16 word(const QByteArray &data, qsizetype offset)
{
    return qFromLittleEndian<quint16>(data.constData() + offset);
}

} // namespace

CursorFile::CursorFile(QImage image, QPoint hotSpot)
    : m_image(std::move(image))
    , m_hotSpot(hotSpot)
{
}

CursorFile CursorFile::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(path, file.errorString());
    QByteArray data = file.readAll();

    // Header: reserved 0, type 2 (cursor; an icon file has 1), entry count; then 16-byte entries.
    if (data.size() < HeaderSize + EntrySize || word(data, 0) != 0 || word(data, 2) != CursorType ||
        word(data, 4) == 0)
        fail(path, QStringLiteral("not a cursor file"));
    const QPoint recordedHotSpot(word(data, HeaderSize + 4), word(data, HeaderSize + 6));

    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    QImage image = reader.read();
    if (image.isNull())
        fail(path, reader.errorString());

    const QPoint hotSpot(std::clamp(recordedHotSpot.x(), 0, image.width() - 1),
                         std::clamp(recordedHotSpot.y(), 0, image.height() - 1));
    return CursorFile(std::move(image), hotSpot);
}

QCursor CursorFile::cursor() const
{
    return QCursor(QPixmap::fromImage(m_image), m_hotSpot.x(), m_hotSpot.y());
}

} // namespace startup
