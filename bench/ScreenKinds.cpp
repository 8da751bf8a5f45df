#include "ScreenKinds.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>

namespace bench {

namespace {

const char *const Words[] = {
    "capture",  "window", "void",    "return", "const", "QString", "int",    "folder",
    "settings", "the",    "screen",  "file",   "name",  "format",  "if",     "else",
    "for",      "auto",   "picture", "save",   "error", "status",  "while",  "class",
    "struct",   "to",     "of",      "and",    "a",     "width",   "height", "static_cast"};

QString randomLine(QRandomGenerator &random, int words)
{
    QString line;
    for (int i = 0; i < words; ++i) {
        if (i > 0)
            line += QLatin1Char(' ');
        line += QLatin1String(Words[random.bounded(int(std::size(Words)))]);
    }
    return line;
}

// A window: title bar, a menu line, and a body of text lines, buttons and a few icons.
void drawWindow(QPainter &p, QRandomGenerator &random, const QRect &frame, bool code)
{
    p.fillRect(frame, QColor(0xf6, 0xf5, 0xf4));
    p.setPen(QColor(0xb0, 0xb0, 0xb0));
    p.drawRect(frame.adjusted(0, 0, -1, -1));
    const QRect title(frame.left(), frame.top(), frame.width(), 34);
    p.fillRect(title, QColor(0xe8, 0xe8, 0xe7));
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(15);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(0x2e, 0x34, 0x36));
    p.drawText(title, Qt::AlignCenter, randomLine(random, 3));
    font.setBold(false);
    font.setPixelSize(14);
    p.setFont(font);
    int x = frame.left() + 10;
    for (int i = 0; i < 6; ++i) {
        const QString item = randomLine(random, 1);
        p.drawText(x, title.bottom() + 22, item);
        x += p.fontMetrics().horizontalAdvance(item) + 22;
    }
    const QRect body = frame.adjusted(1, 66, -1, -1);
    p.fillRect(body, code ? QColor(0x1e, 0x1e, 0x1e) : Qt::white);
    QFont text(code ? QStringLiteral("Liberation Mono") : QStringLiteral("Liberation Serif"));
    text.setPixelSize(code ? 14 : 16);
    p.setFont(text);
    const int lineHeight = code ? 19 : 22;
    const QColor syntax[] = {QColor(0xd4, 0xd4, 0xd4), QColor(0x56, 0x9c, 0xd6),
                             QColor(0xce, 0x91, 0x78), QColor(0x6a, 0x99, 0x55)};
    for (int y = body.top() + lineHeight; y < body.bottom() - 60; y += lineHeight) {
        const int indent = code ? 4 * 8 * random.bounded(4) : 0;
        p.setPen(code ? syntax[random.bounded(4)] : QColor(0x20, 0x20, 0x20));
        p.drawText(body.left() + 12 + indent, y,
                   randomLine(random, 3 + random.bounded(code ? 6 : 12)));
    }
    // Buttons and icons along the bottom.
    for (int i = 0; i < 4; ++i) {
        const QRect button(body.right() - 110 * (i + 1), body.bottom() - 46, 96, 32);
        p.setPen(QColor(0x9a, 0x9a, 0x9a));
        p.setBrush(QColor(0xed, 0xed, 0xed));
        p.drawRoundedRect(button, 4, 4);
        p.setPen(Qt::black);
        p.setFont(font);
        p.drawText(button, Qt::AlignCenter, randomLine(random, 1));
        const QRect icon(body.left() + 12 + 44 * i, body.bottom() - 46, 32, 32);
        QLinearGradient shade(icon.topLeft(), icon.bottomRight());
        shade.setColorAt(0, QColor::fromHsv(random.bounded(360), 160, 230));
        shade.setColorAt(1, QColor::fromHsv(random.bounded(360), 200, 120));
        p.setPen(Qt::NoPen);
        p.setBrush(shade);
        p.drawEllipse(icon);
    }
    p.setBrush(Qt::NoBrush);
}

} // namespace

QImage userInterfaceContent(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient desktop(0, 0, 0, height);
    desktop.setColorAt(0, QColor(0x2c, 0x3e, 0x50));
    desktop.setColorAt(1, QColor(0x4c, 0x66, 0x80));
    p.fillRect(image.rect(), desktop);
    QRandomGenerator random(21);
    const int columns = 2, rows = 2;
    const int w = width / columns, h = (height - 40) / rows;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c)
            drawWindow(p, random, QRect(c * w + 8, r * h + 8, w - 16, h - 16), (r + c) % 2 == 1);
    }
    // The panel along the bottom.
    p.fillRect(0, height - 40, width, 40, QColor(0x30, 0x30, 0x30));
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(14);
    p.setFont(font);
    p.setPen(Qt::white);
    for (int i = 0; i < 12; ++i)
        p.drawText(60 + i * 160, height - 14, randomLine(random, 2));
    return image;
}

QImage flatContent(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(0x3a, 0x6e, 0xa5));
    QPainter p(&image);
    p.fillRect(width / 8, height / 8, width / 2, height / 2, QColor(0xf0, 0xf0, 0xf0));
    p.fillRect(width / 8, height / 8, width / 2, 36, QColor(0xd0, 0xd0, 0xd8));
    p.fillRect(width / 2, height / 3, width / 3, height / 2, Qt::white);
    p.fillRect(width / 2, height / 3, width / 3, 36, QColor(0x50, 0x70, 0xa0));
    p.fillRect(0, height - 40, width, 40, QColor(0x20, 0x20, 0x20));
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(14);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(20, height - 14, QStringLiteral("Activities"));
    p.drawText(width - 120, height - 14, QStringLiteral("15:45"));
    return image;
}

} // namespace bench
