#include "ImageCheck.h"

#include <QDir>
#include <QProcess>
#include <cmath>

namespace testimaging {

QImage readWithImageMagick(const QString &path, int depth)
{
    QProcess convert;
    convert.start("convert", {path, "-depth", QString::number(depth), "-endian", "LSB", "rgb:-"});
    if (!convert.waitForFinished(30000) || convert.exitCode() != 0)
        return {};
    const QByteArray rgb = convert.readAllStandardOutput();
    QProcess identify;
    identify.start("identify", {"-format", "%w %h", path});
    identify.waitForFinished(30000);
    const QList<QByteArray> size = identify.readAllStandardOutput().split(' ');
    if (size.size() != 2)
        return {};
    const int width = size[0].toInt(), height = size[1].toInt();
    if (rgb.size() != qsizetype(width) * height * 3 * (depth / 8))
        return {};
    if (depth == 16) {
        QImage image(width, height, QImage::Format_RGBX64);
        const auto *q = reinterpret_cast<const uchar *>(rgb.constData());
        const auto sample = [&q] {
            const quint16 v = quint16(q[0] | (q[1] << 8)); // -endian LSB
            q += 2;
            return v;
        };
        for (int y = 0; y < height; ++y) {
            auto *line = reinterpret_cast<QRgba64 *>(image.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const quint16 r = sample(), g = sample(), b = sample();
                line[x] = QRgba64::fromRgba64(r, g, b, 0xffff);
            }
        }
        return image;
    }
    QImage image(width, height, QImage::Format_RGB32);
    const auto *p = reinterpret_cast<const uchar *>(rgb.constData());
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x, p += 3)
            line[x] = qRgb(p[0], p[1], p[2]);
    }
    return image;
}

QString imageMagickChannels(const QString &path)
{
    QProcess identify;
    identify.start("identify", {"-format", "%[channels]", path});
    identify.waitForFinished(30000);
    return QString::fromLatin1(identify.readAllStandardOutput()).trimmed();
}

double psnr(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 0;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            const int dr = qRed(p[col]) - qRed(q[col]);
            const int dg = qGreen(p[col]) - qGreen(q[col]);
            const int db = qBlue(p[col]) - qBlue(q[col]);
            sum += dr * dr + dg * dg + db * db;
        }
    }
    const double mse = sum / (3.0 * x.width() * x.height());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

qsizetype differingPixels(const QImage &a, const QImage &b, int redBits, int greenBits,
                          int blueBits)
{
    if (a.size() != b.size())
        return qMax(a.width() * a.height(), b.width() * b.height());
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    const auto top = [](int v, int bits) { return v >> (8 - bits); };
    qsizetype count = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            if (top(qRed(p[col]), redBits) != top(qRed(q[col]), redBits) ||
                top(qGreen(p[col]), greenBits) != top(qGreen(q[col]), greenBits) ||
                top(qBlue(p[col]), blueBits) != top(qBlue(q[col]), blueBits))
                ++count;
        }
    }
    return count;
}

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

} // namespace testimaging
