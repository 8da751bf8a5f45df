// Draws the program icon: a blue tile with a white viewfinder frame and an orange shutter dot.
// Run once after a change of design (target `icons`); the PNGs it writes are committed next to
// this file and are what the build, the window and the desktop use.
//
//   draw-icons <output folder>
//
// Writes vistarel-ombrix-32.png (24-bit RGB, no alpha channel: the tile fills the whole square)
// and vistarel-ombrix-48/128/256.png (32-bit RGBA, a rounded tile on transparency).
#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QString>

#include <cstdio>

namespace {

const QColor kTileTop(0x3b, 0x82, 0xf6);
const QColor kTileBottom(0x1e, 0x3a, 0x8a);
const QColor kFrame(0xff, 0xff, 0xff);
const QColor kShutter(0xf9, 0x73, 0x16);

// Lengths of one design, in pixels of the image it is drawn on.
struct Layout
{
    QRectF tile;       // the blue tile
    double tileRadius; // its corner radius (0: square)
    double frameInset; // distance of the frame's outer edge from the image edge
    double frameArm;   // length of each arm of a corner bracket, outer edge
    double frameWidth; // stroke width of the brackets
    double ringRadius; // outer radius of the white ring around the shutter dot
    double ringWidth;  // width of that ring
    double dotRadius;  // radius of the orange dot
};

// The large design is laid out on a 256 grid and scaled; small sizes snap to whole pixels so
// that the brackets stay sharp.
Layout layoutFor(int size)
{
    if (size <= 32) {
        return {QRectF(0, 0, size, size), 0.0, 4.0, 8.0, 3.0, 7.0, 2.0, 4.0};
    }
    const double s = size / 256.0;
    auto snap = [size](double v) { return size <= 48 ? qRound(v) : v; };
    return {QRectF(8 * s, 8 * s, 240 * s, 240 * s),
            52 * s,
            snap(46 * s),
            snap(62 * s),
            std::max(3.0, snap(18 * s)),
            48 * s,
            std::max(2.0, 12 * s),
            28 * s};
}

void drawBracket(QPainter &painter, QPointF corner, double dx, double dy, const Layout &l)
{
    // Filled L shape: an outer corner and two arms of frameArm, frameWidth thick.
    QPainterPath path;
    const double a = l.frameArm;
    const double w = l.frameWidth;
    path.moveTo(corner);
    path.lineTo(corner + QPointF(dx * a, 0));
    path.lineTo(corner + QPointF(dx * a, dy * w));
    path.lineTo(corner + QPointF(dx * w, dy * w));
    path.lineTo(corner + QPointF(dx * w, dy * a));
    path.lineTo(corner + QPointF(0, dy * a));
    path.closeSubpath();
    painter.fillPath(path, kFrame);
}

QImage drawIcon(int size)
{
    const Layout l = layoutFor(size);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);

        QLinearGradient gradient(l.tile.topLeft(), l.tile.bottomLeft());
        gradient.setColorAt(0.0, kTileTop);
        gradient.setColorAt(1.0, kTileBottom);
        QPainterPath tile;
        if (l.tileRadius > 0) {
            tile.addRoundedRect(l.tile, l.tileRadius, l.tileRadius);
        } else {
            tile.addRect(l.tile);
        }
        painter.fillPath(tile, gradient);

        const double near = l.frameInset;
        const double far = size - l.frameInset;
        drawBracket(painter, {near, near}, 1, 1, l);
        drawBracket(painter, {far, near}, -1, 1, l);
        drawBracket(painter, {near, far}, 1, -1, l);
        drawBracket(painter, {far, far}, -1, -1, l);

        const QPointF centre(size / 2.0, size / 2.0);
        QPainterPath ring;
        ring.addEllipse(centre, l.ringRadius, l.ringRadius);
        const double inner = l.ringRadius - l.ringWidth;
        ring.addEllipse(centre, inner, inner);
        ring.setFillRule(Qt::OddEvenFill);
        painter.fillPath(ring, kFrame);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kShutter);
        painter.drawEllipse(centre, l.dotRadius, l.dotRadius);
    }
    if (size <= 32) {
        return image.convertToFormat(QImage::Format_RGB888);
    }
    return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw-icons <output folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    for (int size : {32, 48, 128, 256}) {
        const QString path = folder.filePath(QStringLiteral("vistarel-ombrix-%1.png").arg(size));
        if (!drawIcon(size).save(path, "PNG")) {
            std::fprintf(stderr, "draw-icons: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
