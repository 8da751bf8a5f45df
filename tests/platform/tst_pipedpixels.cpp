// A picture read from a pipe while its writer is still writing (as KWin's screenshot interface
// does): rows are usable before the pipe ends, and only a pipe that ends with exactly the
// picture's length makes it whole. A real pipe and a writing thread; no desktop.
#include "PipeReception.h"
#include "PipedPixels.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace platform;

namespace {

constexpr int Width = 300, Height = 200;
constexpr std::size_t Stride = Width * 4 + 16;
constexpr std::size_t Length = Stride * Height;

void writeAll(int fd, const std::uint8_t *data, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = write(fd, data, length);
        if (written <= 0)
            return;
        data += written;
        length -= std::size_t(written);
    }
}

} // namespace

class TestPipedPixels : public QObject
{
    Q_OBJECT

private slots:
    // The writer of a pipe read no further is told so, not killed.
    void initTestCase() { signal(SIGPIPE, SIG_IGN); }

    void rowsArriveBeforeTheEndAndOnlyAnExactLengthCompletes_data()
    {
        QTest::addColumn<qint64>("sent");     // bytes the writer sends in all
        QTest::addColumn<qint64>("prepared"); // the reception's expected length
        QTest::addColumn<bool>("allButLast"); // whether the rows above the last count as in
        QTest::addColumn<bool>("complete");   // whether the last row does
        const qint64 length = Length;
        QTest::newRow("exact, prepared") << length << length << true << true;
        QTest::newRow("exact, nothing prepared") << length << qint64(0) << true << true;
        QTest::newRow("a row short") << length - qint64(Stride) << length << true << false;
        QTest::newRow("a byte too many") << length + 1 << length << true << false;
        // The reading fails as a whole there.
        QTest::newRow("beyond the limit") << 2 * length + 5 << length << false << false;
    }
    void rowsArriveBeforeTheEndAndOnlyAnExactLengthCompletes()
    {
        QFETCH(qint64, sent);
        QFETCH(qint64, prepared);
        QFETCH(bool, allButLast);
        QFETCH(bool, complete);
        std::vector<std::uint8_t> bytes(std::size_t(sent) + 1);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = std::uint8_t(i * 7 + i / 251);
        int ends[2];
        QVERIFY(pipe2(ends, O_CLOEXEC) == 0);

        // The writer sends the first half of the rows, then waits until the reader has had
        // them (at most 20 s, so that a reader waiting for the end fails instead of hanging).
        std::promise<void> halfRead;
        std::atomic<bool> writerWaited{false};
        const std::size_t half = Stride * (Height / 2);
        std::thread writer([&, fd = ends[1]] {
            writeAll(fd, bytes.data(), half);
            writerWaited = halfRead.get_future().wait_for(std::chrono::seconds(20)) ==
                           std::future_status::ready;
            writeAll(fd, bytes.data() + half, std::size_t(sent) - half);
            close(fd);
        });
        const auto reception = std::make_shared<const PipeReception>(ends[0], std::size_t(prepared),
                                                                     2 * Length, 20000);
        const PipedPixels pixels(Width, Height, Stride, reception);

        QVERIFY(pixels.waitForRows(Height / 2));
        halfRead.set_value();
        writer.join();
        QVERIFY2(writerWaited, "the first rows were usable only at the pipe's end");
        QCOMPARE(std::memcmp(pixels.scanLine(Height / 2 - 1), bytes.data() + half - Stride, Stride),
                 0);
        // Once the pipe has ended: a later failure takes back the rows already in.
        QCOMPARE(pixels.waitForAll(), complete);
        QCOMPARE(pixels.waitForRows(Height - 1), allButLast);
        if (complete)
            QCOMPARE(
                std::memcmp(pixels.scanLine(Height - 1), bytes.data() + Length - Stride, Stride),
                0);
    }
};

QTEST_GUILESS_MAIN(TestPipedPixels)
#include "tst_pipedpixels.moc"
