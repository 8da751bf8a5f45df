#include "PhotoContent.h"

#include <QPainter>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>
#include <xcb/xcb.h>

namespace bench {

namespace {

// Value noise: random values on a lattice, smoothly interpolated; several octaves summed.
class NoiseField
{
public:
    NoiseField(int width, int height, int cell, quint32 seed)
        : m_cell(cell)
        , m_columns(width / cell + 2)
        , m_rows(height / cell + 2)
    {
        QRandomGenerator random(seed);
        m_values.resize(static_cast<std::size_t>(m_columns) * static_cast<std::size_t>(m_rows));
        for (float &v : m_values)
            v = static_cast<float>(random.generateDouble());
    }

    float at(int x, int y) const
    {
        const int cx = x / m_cell, cy = y / m_cell;
        const float fx = smooth(static_cast<float>(x % m_cell) / static_cast<float>(m_cell));
        const float fy = smooth(static_cast<float>(y % m_cell) / static_cast<float>(m_cell));
        const float a = value(cx, cy), b = value(cx + 1, cy);
        const float c = value(cx, cy + 1), d = value(cx + 1, cy + 1);
        const float top = a + (b - a) * fx, bottom = c + (d - c) * fx;
        return top + (bottom - top) * fy;
    }

private:
    static float smooth(float t) { return t * t * (3.0f - 2.0f * t); }
    float value(int cx, int cy) const
    {
        return m_values[static_cast<std::size_t>(cy) * static_cast<std::size_t>(m_columns) +
                        static_cast<std::size_t>(cx)];
    }

    int m_cell, m_columns, m_rows;
    std::vector<float> m_values;
};

int clampByte(float v)
{
    return std::clamp(static_cast<int>(std::lround(v)), 0, 255);
}

} // namespace

QImage photoContent(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    constexpr int Octaves = 5;
    const int cells[Octaves] = {480, 160, 40, 10, 3};
    const float weights[Octaves] = {0.42f, 0.2f, 0.14f, 0.12f, 0.12f};
    std::vector<NoiseField> light, hue;
    for (int i = 0; i < Octaves; ++i) {
        light.emplace_back(width, height, cells[i], 11u + static_cast<quint32>(i));
        hue.emplace_back(width, height, cells[i], 101u + static_cast<quint32>(i));
    }
    QRandomGenerator grain(7);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            float l = 0, h = 0;
            for (int i = 0; i < Octaves; ++i) {
                l += weights[i] * light[static_cast<std::size_t>(i)].at(x, y);
                h += weights[i] * hue[static_cast<std::size_t>(i)].at(x, y);
            }
            // Sensor-like grain: mostly in the brightness, a little in each colour.
            const quint32 g = grain.generate();
            const float n = static_cast<float>(static_cast<int>(g & 31u) - 16);
            const auto colourGrain = [g](int shift) {
                return static_cast<float>(static_cast<int>((g >> shift) & 15u) - 8);
            };
            const float r = 255.0f * l * (0.6f + 0.8f * h) + n + colourGrain(8);
            const float gr = 255.0f * l * (1.1f - 0.4f * h) + n + colourGrain(12);
            const float b = 255.0f * l * (1.4f - 1.0f * h) + n + colourGrain(16);
            line[x] = qRgb(clampByte(r), clampByte(gr), clampByte(b));
        }
    }
    // Soft objects and a few sharp edges, as in a photograph with foreground things.
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QRandomGenerator shapes(3);
    for (int i = 0; i < 60; ++i) {
        const QPointF centre(shapes.bounded(width), shapes.bounded(height));
        const qreal radius = 40 + shapes.bounded(260);
        QRadialGradient gradient(centre, radius);
        const QColor colour = QColor::fromHsv(shapes.bounded(360), 80 + shapes.bounded(160),
                                              80 + shapes.bounded(170), 170);
        gradient.setColorAt(0, colour);
        gradient.setColorAt(1, QColor(colour.red(), colour.green(), colour.blue(), 0));
        painter.setPen(Qt::NoPen);
        painter.setBrush(gradient);
        painter.drawEllipse(centre, radius, radius * 0.7);
        if (i % 4 == 0) {
            painter.setPen(QPen(colour.darker(200), 3));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(QRectF(centre, QSizeF(radius, radius / 2)));
        }
    }
    painter.end();
    return image;
}

bool putOnRootWindow(const QImage &image)
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, screen->root, 0, nullptr);
    const std::size_t maxBytes = static_cast<std::size_t>(xcb_get_maximum_request_length(c)) * 4;
    const auto stride = static_cast<std::size_t>(image.bytesPerLine());
    const int rowsPerRequest = static_cast<int>(std::max<std::size_t>(1, (maxBytes - 64) / stride));
    for (int y = 0; y < image.height(); y += rowsPerRequest) {
        const int rows = std::min(rowsPerRequest, image.height() - y);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, gc,
                      static_cast<std::uint16_t>(image.width()), static_cast<std::uint16_t>(rows),
                      0, static_cast<std::int16_t>(y), 0, screen->root_depth,
                      static_cast<std::uint32_t>(stride * static_cast<std::size_t>(rows)),
                      image.constScanLine(y));
    }
    xcb_free_gc(c, gc);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    const bool ok = !xcb_connection_has_error(c);
    xcb_disconnect(c);
    return ok;
}

} // namespace bench
