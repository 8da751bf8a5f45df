#pragma once
// X11CaptureBackend: captures the primary monitor of an X11 display through xcb. The screen is
// requested in horizontal bands straight into one MIT-SHM segment (GetImage replies when SHM
// cannot be used), and captureScreen() returns as soon as the requests are sent: the Picture's
// readers wait row by row, so encoding overlaps the transfer. Pixels keep the screen's format;
// palette screens get the installed colormap's 256 colours. One connection, opened once and
// reopened after it fails; a released picture's segment is kept for the next capture until
// releasePreparation(). prepareForCapture() makes such a segment ahead of the first capture.

#include "CaptureBackend.h"

#include <QByteArray>
#include <cstddef>
#include <future>
#include <memory>

namespace platform {

class X11Connection;

class X11CaptureBackend final : public CaptureBackend
{
public:
    struct Options
    {
        QByteArray displayName;                       // as for xcb_connect; empty: $DISPLAY
        std::size_t bandBytes = std::size_t(1) << 20; // one transfer band, in whole rows
        // Let prepareForCapture() make a segment in the background, so that even the first
        // capture finds one that the server and this process have already touched (it then
        // holds its memory until releasePreparation()).
        bool prepareSegment = false;
        // Makes sure the toolkit's own earlier requests (the unmap of the main window) have
        // reached the display server before sync() returns; null where no toolkit runs.
        bool (*toolkitSync)() = nullptr;
    };

    // connection: an open connection, or nullptr to connect on first use.
    X11CaptureBackend(std::shared_ptr<X11Connection> connection, Options options);
    explicit X11CaptureBackend(std::shared_ptr<X11Connection> connection)
        : X11CaptureBackend(std::move(connection), Options())
    {
    }
    ~X11CaptureBackend() override;

    // Waits for a preparation still running, whose segment it then uses.
    imaging::Picture captureScreen() override;
    void sync() override;
    // With Options::prepareSegment and MIT-SHM: unless a segment is kept already, prepares one
    // on a thread of its own, the server writing and this process reading each of its pages.
    void prepareForCapture() override;
    // Waits for a preparation still running, then frees the kept segment.
    void releasePreparation() override;

    // Whether captures go through MIT-SHM (false before the first connection).
    bool usesShm() const;
    // Whether a segment is kept for the next capture (a running preparation waited for).
    bool holdsPreparedSegment();
    // Waits for the background preparation of a segment, if one was started.
    void waitUntilPrepared();

private:
    bool ensureConnection();

    std::shared_ptr<X11Connection> m_connection;
    Options m_options;
    std::future<void> m_preparation;
};

} // namespace platform
