#include "Picture.h"

#include "PictureData.h"

#include <cstring>

namespace imaging {

namespace {
const QList<QRgb> &noPalette()
{
    static const QList<QRgb> empty;
    return empty;
}
} // namespace

Picture::Picture() = default;

Picture::Picture(std::shared_ptr<const Data> data)
    : m_data(std::move(data))
{
}

std::uintptr_t Picture::handle() const
{
    return reinterpret_cast<std::uintptr_t>(m_data.get());
}

int Picture::width() const
{
    return m_data ? m_data->layout.width : 0;
}

int Picture::height() const
{
    return m_data ? m_data->layout.height : 0;
}

int Picture::bitsPerPixel() const
{
    return m_data ? m_data->layout.bitsPerPixel : 0;
}

const QList<QRgb> &Picture::palette() const
{
    return m_data ? m_data->palette : noPalette();
}

bool Picture::waitForPixels() const
{
    return m_data && m_data->waitForAll();
}

} // namespace imaging
