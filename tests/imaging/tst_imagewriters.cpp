// The formats' writers on pictures made in memory: what other readers get back, quality pass-
// through, atomic replacement, and every failure's error text with nothing left behind.
#include "ImageCheck.h"
#include "ImageFormat.h"
#include "JpegWriter.h"
#include "PictureData.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace imaging;
using namespace testimaging;

namespace {

// Smooth colours with a little fine detail, as in a photograph.
QImage sampleImage(int width, int height)
{
    const auto wave = [](int v) { return v % 510 < 256 ? v % 510 : 509 - v % 510; };
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int detail = ((x * 7 + y * 13) % 5) - 2;
            line[x] = qRgb(qBound(0, wave(2 * x) + detail, 255),
                           qBound(0, wave(3 * y) - detail, 255), wave(x + y));
        }
    }
    return image;
}

// Random pixels, which no format compresses much.
QImage noiseImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(5);
    for (int y = 0; y < height; ++y)
        random.fillRange(reinterpret_cast<quint32 *>(image.scanLine(y)), width);
    return image;
}

// PSNR of the same picture through Qt's own JPEG writer at the same quality.
double referencePsnr(const QImage &source, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.write(source);
    return psnr(QImage::fromData(bytes, "JPEG"), source);
}

QImage inFormat(const QImage &image, const QString &format)
{
    if (format == "rgb16")
        return image.convertToFormat(QImage::Format_RGB16);
    if (format == "indexed8")
        return image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    return image;
}

// A picture whose transfer from the screen fails halfway.
struct BrokenTransfer final : Picture::Data
{
    BrokenTransfer()
        : Picture::Data(MemoryLayout(), {})
        , m_rows(64 * 4 * 200, '\0')
    {
    }
    static PixelLayout MemoryLayout()
    {
        PixelLayout layout;
        layout.width = 64;
        layout.height = 200;
        layout.bitsPerPixel = 32;
        layout.stride = 256;
        layout.redMask = 0xff0000;
        layout.greenMask = 0xff00;
        layout.blueMask = 0xff;
        return layout;
    }
    bool waitForRows(int rowEnd) const override { return rowEnd <= 100; }
    const std::uint8_t *scanLine(int y) const override
    {
        return reinterpret_cast<const std::uint8_t *>(m_rows.constData()) + y * 256;
    }
    QByteArray m_rows;
};

// A picture whose rows come in while it is being written: each 16 rows only once a reader waits
// for them. needsACore: as an X server's transfer, else as a desktop's pipe.
struct ArrivingPixels final : Picture::Data
{
    ArrivingPixels(const QImage &image, bool needsACore)
        : Picture::Data(Picture::fromImage(image).data()->layout, {})
        , m_image(image)
        , m_needsACore(needsACore)
        , m_feeder([this] { feed(); })
    {
    }
    ~ArrivingPixels() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_asked = m_image.height();
            m_changed.notify_all();
        }
        m_feeder.join();
    }
    bool waitForRows(int rowEnd) const override
    {
        std::unique_lock lock(m_mutex);
        m_asked = std::max(m_asked, rowEnd);
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_arrived >= rowEnd; });
        return true;
    }
    bool transferNeedsACore() const override { return m_needsACore; }
    const std::uint8_t *scanLine(int y) const override { return m_image.constScanLine(y); }

private:
    void feed()
    {
        std::unique_lock lock(m_mutex);
        while (m_arrived < m_image.height()) {
            m_changed.wait(lock, [&] { return m_asked > m_arrived; });
            m_arrived = std::min(m_image.height(), m_arrived + 16);
            m_changed.notify_all();
        }
    }

    QImage m_image;
    bool m_needsACore;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    mutable int m_asked = 0;
    int m_arrived = 0;
    std::thread m_feeder;
};

// The format whose extension is "." + suffix.
ImageFormat formatOf(const QString &suffix)
{
    for (const FormatRow &row : formatTable())
        if (QLatin1String(row.extension) == "." + suffix)
            return row.format;
    qFatal("no format %s", qPrintable(suffix));
}

void save(const QString &format, const Picture &picture, const QString &path, int quality = 85)
{
    savePicture(picture, path, formatOf(format), static_cast<std::uint8_t>(quality));
}

QString save(const QString &format, const Picture &picture, const NameSequence &names)
{
    return savePicture(picture, names, formatOf(format), 85);
}

// A 30-bit screen: 10 bits per channel in a 32-bit word (x2r10g10b10).
struct Deep30Pixels final : Picture::Data
{
    explicit Deep30Pixels(const QImage &rgb30)
        : Picture::Data(Layout(rgb30), {})
        , m_image(rgb30)
    {
    }
    static PixelLayout Layout(const QImage &image)
    {
        PixelLayout layout;
        layout.width = image.width();
        layout.height = image.height();
        layout.bitsPerPixel = 32;
        layout.stride = static_cast<std::size_t>(image.bytesPerLine());
        layout.redMask = 0x3ff00000;
        layout.greenMask = 0xffc00;
        layout.blueMask = 0x3ff;
        return layout;
    }
    bool waitForRows(int) const override { return true; }
    const std::uint8_t *scanLine(int y) const override { return m_image.constScanLine(y); }
    QImage m_image;
};

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The first value of the first quantisation table (DQT) of a JPEG file.
int firstQuantValue(const QByteArray &jpeg)
{
    const qsizetype at = jpeg.indexOf("\xff\xdb");
    return at < 0 ? -1 : static_cast<uchar>(jpeg.at(at + 5));
}

} // namespace

class TestImageWriters : public QObject
{
    Q_OBJECT

private slots:
    // Every lossless format of the table gives back the screen's pixels to Qt and ImageMagick,
    // and neither takes the 32-bit screen's padding byte for alpha. (JPG: the tests below.)
    void losslessFormatsReadBackPixelExact_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QSize>("size");
        for (const FormatRow &row : formatTable()) {
            if (row.usesQuality)
                continue;
            const QString suffix = QString(row.extension).mid(1);
            QTest::addRow("%s 32-bit", row.extension + 1) << suffix << "rgb32" << QSize(301, 203);
            QTest::addRow("%s 16-bit, odd width", row.extension + 1)
                << suffix << "rgb16" << QSize(301, 77);
            QTest::addRow("%s palette, odd width", row.extension + 1)
                << suffix << "indexed8" << QSize(301, 77);
            QTest::addRow("%s one pixel", row.extension + 1) << suffix << "rgb32" << QSize(1, 1);
        }
        QTest::addRow("png 30-bit") << "png"
                                    << "rgb30" << QSize(301, 77);
        QTest::addRow("png 30-bit, a row longer than the match window")
            << "png"
            << "rgb30" << QSize(5500, 9);
        QTest::addRow("png photo, text and flat bands") << "png"
                                                        << "mixed" << QSize(1500, 900);
    }
    void losslessFormatsReadBackPixelExact()
    {
        QFETCH(QString, format);
        QFETCH(QString, layout);
        QFETCH(QSize, size);
        QTemporaryDir dir;
        QImage source = sampleImage(size.width(), size.height());
        Picture picture;
        if (layout == "rgb30") {
            // Every value of 10 bits, in each channel, so that none of them may be cut to 8;
            // the wide picture in runs of 8 pixels and rows repeated thrice, for the matches.
            source = QImage(size, QImage::Format_RGB30);
            const int run = size.width() > 5000 ? 8 : 1, repeat = run == 1 ? 1 : 3;
            for (int y = 0; y < size.height(); ++y) {
                auto *line = reinterpret_cast<quint32 *>(source.scanLine(y));
                for (int x = 0; x < size.width(); ++x) {
                    const quint32 v = quint32(x / run * 7 + y / repeat * 301) % 1024;
                    line[x] = (v << 20) | (((v * 3 + 5) % 1024) << 10) | ((1023 - v) % 1024);
                }
            }
            picture = Picture(std::make_shared<Deep30Pixels>(source));
        } else {
            if (layout == "mixed") {
                // Photo-like rows at the top, lines of text, then a flat area: each band is
                // compressed the way that suits it, and all of them join into one stream.
                source = source.convertToFormat(QImage::Format_RGB32);
                QPainter painter(&source);
                painter.fillRect(0, 300, source.width(), 600, Qt::white);
                // "Letters": a few small random tiles, repeated along lines.
                QList<QImage> letters;
                for (int k = 0; k < 12; ++k)
                    letters.append(noiseImage(8, 12).convertToFormat(QImage::Format_Mono));
                for (int y = 310, k = 0; y < 600; y += 18)
                    for (int x = 10; x < 1400; x += 9, k = (k * 7 + 3) % 12)
                        painter.drawImage(x, y, letters[k]);
                painter.fillRect(200, 650, 400, 200, QColor(30, 90, 160));
                layout = "rgb32";
            }
            source = inFormat(source, layout);
            if (layout == "rgb32") {
                // The screen's padding byte may hold anything; no reader may take it for alpha.
                for (int y = 0; y < source.height(); ++y) {
                    for (int x = 0; x < source.width(); ++x)
                        source.scanLine(y)[4 * x + 3] = static_cast<uchar>(0x80 ^ x);
                }
            }
            picture = Picture::fromImage(source);
            QCOMPARE(picture.bitsPerPixel(), source.depth());
        }
        const QString path = dir.filePath("shot." + format);
        save(format, picture, path);

        if (layout == "rgb30") {
            // 16-bit channels, each 10-bit value widened by repeating its bits.
            QImage expected(size, QImage::Format_RGBX64);
            for (int y = 0; y < size.height(); ++y) {
                const auto *in = reinterpret_cast<const quint32 *>(source.constScanLine(y));
                auto *out = reinterpret_cast<QRgba64 *>(expected.scanLine(y));
                for (int x = 0; x < size.width(); ++x) {
                    const auto widened = [&](int shift) {
                        const quint32 v = (in[x] >> shift) & 0x3ff;
                        return quint16((v << 6) | (v >> 4));
                    };
                    out[x] = QRgba64::fromRgba64(widened(20), widened(10), widened(0), 0xffff);
                }
            }
            const QImage byQt(path);
            QCOMPARE(byQt.depth(), 64);
            QCOMPARE(byQt.hasAlphaChannel(), false);
            QCOMPARE(byQt.convertToFormat(QImage::Format_RGBX64), expected);
            QCOMPARE(readWithImageMagick(path, 16), expected);
        } else {
            // PNG widens 16-bit pixels as Qt does; a BMP reader widens 5-6-5 bits its own way.
            const bool widenedByReader = layout == "rgb16" && format == "bmp";
            const int green = widenedByReader ? 6 : 8, other = widenedByReader ? 5 : 8;
            QCOMPARE(differingPixels(QImage(path), source, other, green, other), 0);
            const QImage byImageMagick = readWithImageMagick(path);
            QVERIFY(!byImageMagick.isNull());
            QCOMPARE(differingPixels(byImageMagick, source, other, green, other), 0);
            QCOMPARE(picture.toImage().convertToFormat(QImage::Format_RGB32),
                     source.convertToFormat(QImage::Format_RGB32));
        }
        QVERIFY(!imageMagickChannels(path).contains('a'));
    }

    void jpegIsCloseToThePicture_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<double>("minimum"); // dB; a dithered palette or 6 pixels reach less
        QTest::newRow("32-bit, many strips, last one short") << "rgb32" << QSize(1001, 333) << 35.0;
        QTest::newRow("32-bit, one strip") << "rgb32" << QSize(640, 48) << 35.0;
        QTest::newRow("16-bit") << "rgb16" << QSize(320, 200) << 35.0;
        QTest::newRow("8-bit palette") << "indexed8" << QSize(320, 200) << 0.0;
        QTest::newRow("tiny") << "rgb32" << QSize(3, 2) << 0.0;
    }
    void jpegIsCloseToThePicture()
    {
        QFETCH(QString, format);
        QFETCH(QSize, size);
        QFETCH(double, minimum);
        QTemporaryDir dir;
        const QImage source = inFormat(sampleImage(size.width(), size.height()), format);
        const QString path = dir.filePath("shot.jpg");
        SaveJPG(Picture::fromImage(source), path, 85);
        const QImage byQt(path);
        QCOMPARE(byQt.size(), size);
        const double ours = psnr(byQt, source), reference = referencePsnr(source, 85);
        const QString figures = QString("%1 dB, Qt's writer %2 dB").arg(ours).arg(reference);
        QVERIFY2(ours >= reference - 0.5, qPrintable(figures));
        QVERIFY2(ours >= minimum, qPrintable(figures));
        QCOMPARE(psnr(readWithImageMagick(path), byQt) >= 45, true); // same stream, same decode
    }

    void jpegQualityPassesThrough_data()
    {
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("firstQuant"); // libjpeg's scaled luminance table, entry 0 (16)
        QTest::newRow("0") << 0 << 255;      // 5000 % of 16, limited to baseline's 255
        QTest::newRow("50") << 50 << 16;
        QTest::newRow("85") << 85 << 5;
        QTest::newRow("100") << 100 << 1;
        QTest::newRow("255 acts as 100") << 255 << 1;
    }
    void jpegQualityPassesThrough()
    {
        QFETCH(int, quality);
        QFETCH(int, firstQuant);
        QTemporaryDir dir;
        const QString path = dir.filePath("q.jpg");
        const auto byte = static_cast<std::uint8_t>(quality);
        SaveJPG(Picture::fromImage(sampleImage(200, 150)), path, byte);
        QCOMPARE(firstQuantValue(contents(path)), firstQuant);
        QVERIFY(!QImage(path).isNull());
    }

    void lowerQualityGivesASmallerFile()
    {
        QTemporaryDir dir;
        const Picture picture = Picture::fromImage(sampleImage(400, 300));
        SaveJPG(picture, dir.filePath("0.jpg"), 0);
        SaveJPG(picture, dir.filePath("100.jpg"), 100);
        const QFileInfo lowest(dir.filePath("0.jpg")), highest(dir.filePath("100.jpg"));
        QVERIFY(lowest.size() < highest.size());
    }

    void replacesAnExistingFile_data()
    {
        QTest::addColumn<QString>("format");
        for (const FormatRow &row : formatTable())
            QTest::newRow(row.extension + 1) << QString(row.extension + 1);
    }
    void replacesAnExistingFile()
    {
        QFETCH(QString, format);
        QTemporaryDir dir;
        const QString path = dir.filePath("shot." + format);
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x'));
        old.close();
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);

        const QImage source = sampleImage(64, 48);
        save(format, Picture::fromImage(source), path);
        QVERIFY(psnr(QImage(path), source) >= 35);
        QVERIFY(!contents(path).contains(QByteArray(64, 'x')));
        struct stat status;
        QVERIFY(::stat(QFile::encodeName(path).constData(), &status) == 0);
        QCOMPARE(status.st_mode & 07777, mode_t(0640));
        QCOMPARE(folderEntries(dir.path()), QStringList{"shot." + format});
    }

    // A new picture is never more open than the umask allows, whatever was at its name: a link
    // to a world-writable file, or such a file itself. A file that was narrower stays narrow.
    void newFileModeFollowsTheUmask_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("before"); // "none", "link" (to a 0666 file) or a file's mode
        QTest::addColumn<int>("umask");
        QTest::addColumn<int>("mode");
        for (const QString format : {"jpg", "bmp"}) {
            const auto row = [&](const char *name, const QString &before, int mask, int mode) {
                QTest::addRow("%s %s", qPrintable(format), name)
                    << format << before << mask << mode;
            };
            row("new, umask 077", "none", 077, 0600);
            row("link to a 0666 file, umask 077", "link", 077, 0600);
            row("0666 file, umask 077", "666", 077, 0600);
            row("link to a 0666 file, umask 022", "link", 022, 0644);
            row("0600 file, umask 022", "600", 022, 0600);
        }
    }
    void newFileModeFollowsTheUmask()
    {
        QFETCH(QString, format);
        QFETCH(QString, before);
        QFETCH(int, umask);
        QFETCH(int, mode);
        QTemporaryDir dir;
        const QString path = dir.filePath("shot." + format);
        const QString other = dir.filePath("other");
        QFile old(before == "link" ? other : path);
        if (before != "none") {
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
            QVERIFY(::chmod(QFile::encodeName(old.fileName()).constData(),
                            before == "link" ? 0666 : before.toInt(nullptr, 8)) == 0);
            old.close();
        }
        if (before == "link")
            QVERIFY(QFile::link(other, path));

        const mode_t saved = ::umask(mode_t(umask));
        save(format, Picture::fromImage(sampleImage(16, 8)), path);
        ::umask(saved);
        struct stat status;
        QVERIFY(::lstat(QFile::encodeName(path).constData(), &status) == 0);
        QVERIFY(S_ISREG(status.st_mode));
        QCOMPARE(int(status.st_mode & 07777), mode);
        if (before == "link")
            QCOMPARE(contents(other), QByteArray("old"));
    }

    void failedSaveLeavesNothingBehind_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("target"); // relative to a fresh folder holding "old.<format>"
        QTest::addColumn<int>("status");
        for (const FormatRow &row : formatTable()) {
            const QString format = QString(row.extension + 1);
            const QString ext = "." + format;
            QTest::addRow("%s folder missing", qPrintable(format))
                << format << "missing/shot" + ext << 10;
            QTest::addRow("%s folder is a file", qPrintable(format))
                << format << "old" + ext + "/shot" + ext << 10;
            QTest::addRow("%s name too long", qPrintable(format))
                << format << QString(300, 'n') + ext << 7;
            QTest::addRow("%s target is a folder", qPrintable(format)) << format << "folder" << 7;
            QTest::addRow("%s path ends in a separator", qPrintable(format))
                << format << "folder/" << 7;
            QTest::addRow("%s disk full", qPrintable(format)) << format << "old" + ext << 7;
            QTest::addRow("%s access denied", qPrintable(format))
                << format << "/sys/kernel/shot" + ext << 12;
        }
    }
    void failedSaveLeavesNothingBehind()
    {
        QFETCH(QString, format);
        QFETCH(QString, target);
        QFETCH(int, status);
        QTemporaryDir dir;
        const QString oldPath = dir.filePath("old." + format);
        const QImage oldImage = sampleImage(32, 32);
        save(format, Picture::fromImage(oldImage), oldPath);
        const QByteArray oldBytes = contents(oldPath);
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        const QStringList before = folderEntries(dir.path());

        const bool diskFull = QTest::currentDataTag() == format + " disk full";
        rlimit saved{};
        if (diskFull) {
            // Files beyond this size fail with EFBIG instead of a signal, as on a full disk.
            std::signal(SIGXFSZ, SIG_IGN);
            QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
            rlimit small = saved;
            small.rlim_cur = 100000;
            QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        }
        const QString path = target.startsWith('/') ? target : dir.filePath(target);
        QString description;
        int number = 0;
        try {
            save(format, Picture::fromImage(noiseImage(1000, 700)), path, 100);
        } catch (const core::Error &error) {
            number = error.number();
            description = error.description();
        }
        if (diskFull)
            setrlimit(RLIMIT_FSIZE, &saved);

        QCOMPARE(number, 5);
        QCOMPARE(description, "Cannot save the image. GDI+ Error:" + QString::number(status));
        QCOMPARE(folderEntries(dir.path()), before);
        QCOMPARE(folderEntries(dir.filePath("folder")), QStringList());
        QCOMPARE(contents(oldPath), oldBytes);
        QVERIFY(!QFileInfo::exists("/sys/kernel/shot." + format));
    }

    // An exclusive save claims a name at the rename: a file that appeared since the name was
    // chosen is never replaced, and the picture goes to the next free name instead.
    void exclusiveSaveTakesTheFirstFreeName_data() { replacesAnExistingFile_data(); }
    void exclusiveSaveTakesTheFirstFreeName()
    {
        QFETCH(QString, format);
        QTemporaryDir dir;
        const QString ext = "." + format;
        for (const QString taken : {"s1", "s2"}) {
            QFile file(dir.filePath(taken + ext));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(taken.toLatin1());
        }
        QVERIFY(QDir(dir.path()).mkdir("s3" + ext)); // anything of that name blocks it
        const QImage source = sampleImage(64, 48);
        const Picture picture = Picture::fromImage(source);
        const NameSequence names = [&](int i) {
            return dir.filePath(QString("s%1%2").arg(i + 1).arg(ext));
        };
        const QString written = save(format, picture, names);
        QCOMPARE(written, dir.filePath("s4" + ext));
        QVERIFY(psnr(QImage(written), source) >= 35);
        QCOMPARE(contents(dir.filePath("s1" + ext)), QByteArray("s1"));
        QCOMPARE(contents(dir.filePath("s2" + ext)), QByteArray("s2"));

        // Every name taken: a save failure, with nothing left behind.
        const QStringList before = folderEntries(dir.path());
        try {
            const NameSequence taken = [&](int) { return dir.filePath("s1" + ext); };
            save(format, picture, taken);
            QFAIL("no error");
        } catch (const core::Error &error) {
            QCOMPARE(error.description(), QString("Cannot save the image. GDI+ Error:7"));
        }
        QCOMPARE(folderEntries(dir.path()), before);
    }

    // Two threads save at once, both claiming names from shot1.bmp up: every picture is kept.
    void racingSavesLoseNoPicture()
    {
        QTemporaryDir dir;
        const int each = 20;
        std::atomic_int failures = 0;
        const auto saveMany = [&](QColor colour) {
            QImage image(16, 16, QImage::Format_RGB32);
            image.fill(colour);
            const Picture picture = Picture::fromImage(image);
            const NameSequence names = [&](int i) {
                return dir.filePath(QString("shot%1.bmp").arg(i + 1));
            };
            for (int i = 0; i < each; ++i) {
                try {
                    save("bmp", picture, names);
                } catch (...) {
                    ++failures;
                }
            }
        };
        std::thread red(saveMany, QColor(Qt::red)), blue(saveMany, QColor(Qt::blue));
        red.join();
        blue.join();

        QCOMPARE(failures.load(), 0);
        const QStringList files = folderEntries(dir.path());
        QCOMPARE(files.size(), 2 * each);
        int reds = 0;
        for (const QString &name : files)
            reds += QImage(dir.filePath(name)).pixelColor(0, 0) == QColor(Qt::red);
        QCOMPARE(reds, each);
    }

    // Temporary files that a killed copy left are removed by a later save into their folder:
    // only ours, only regular files, only those unchanged for a minute.
    void staleTemporaryFilesAreRemoved()
    {
        QTemporaryDir dir;
        const auto make = [&](const QString &name, int ageSeconds) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("partial");
            file.close();
            const QDateTime when = QDateTime::currentDateTime().addSecs(-ageSeconds);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
        };
        make(".vo-0123abcd.tmp", 120);
        make(".vo-1f.tmp", 3600);      // an older copy's shorter name
        make(".vo-0123abce.tmp", 5);   // a save still under way
        make(".vo-0123ABCD.tmp", 120); // not our pattern from here on
        make(".vo-0123abcg.tmp", 120);
        make(".vo-0123abcd.tmp.keep", 120);
        make("vo-0123abcd.tmp", 120);
        make(".vo-0123abcd1.tmp", 120);
        QVERIFY(QDir(dir.path()).mkdir(".vo-00000001.tmp"));
        QVERIFY(::symlink("/nonexistent", QFile::encodeName(dir.filePath(".vo-00000002.tmp"))) ==
                0);

        save("bmp", Picture::fromImage(sampleImage(8, 8)), dir.filePath("shot.bmp"));
        QStringList left = folderEntries(dir.path()),
                    expected{".vo-00000001.tmp",      ".vo-00000002.tmp",  ".vo-0123ABCD.tmp",
                             ".vo-0123abcd.tmp.keep", ".vo-0123abcd1.tmp", ".vo-0123abce.tmp",
                             ".vo-0123abcg.tmp",      "shot.bmp",          "vo-0123abcd.tmp"};
        left.sort();
        expected.sort();
        QCOMPARE(left, expected);
    }

    void emptyPictureIsAnInvalidParameter_data() { replacesAnExistingFile_data(); }
    void emptyPictureIsAnInvalidParameter()
    {
        QFETCH(QString, format);
        QTemporaryDir dir;
        try {
            save(format, Picture(), dir.filePath("shot." + format));
            QFAIL("no error");
        } catch (const core::Error &error) {
            QCOMPARE(error.number(), 5);
            QCOMPARE(error.description(), QString("Cannot save the image. GDI+ Error:2"));
        }
        QVERIFY(folderEntries(dir.path()).isEmpty());
    }

    // A picture still arriving is written byte for byte as the whole picture is, whether the
    // encoder's helpers wait for its end (an X server's transfer) or start on its first rows.
    void arrivingPictureIsWrittenAsAWholeOne_data() { replacesAnExistingFile_data(); }
    void arrivingPictureIsWrittenAsAWholeOne()
    {
        QFETCH(QString, format);
        QTemporaryDir dir;
        const QImage source = sampleImage(640, 1000);
        save(format, Picture::fromImage(source), dir.filePath("whole." + format));
        for (const bool needsACore : {true, false}) {
            const QString path =
                dir.filePath(QString("arriving-%1.%2").arg(needsACore).arg(format));
            save(format, Picture(std::make_shared<ArrivingPixels>(source, needsACore)), path);
            QCOMPARE(contents(path), contents(dir.filePath("whole." + format)));
        }
    }

    void failedTransferIsAGenericError_data() { replacesAnExistingFile_data(); }
    void failedTransferIsAGenericError()
    {
        QFETCH(QString, format);
        QTemporaryDir dir;
        try {
            save(format, Picture(std::make_shared<BrokenTransfer>()), dir.filePath("s." + format));
            QFAIL("no error");
        } catch (const core::Error &error) {
            QCOMPARE(error.description(), QString("Cannot save the image. GDI+ Error:1"));
        }
        QVERIFY(folderEntries(dir.path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestImageWriters)
#include "tst_imagewriters.moc"
