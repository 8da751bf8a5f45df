#pragma once
// X11CaptureBackend: captures the primary monitor of an X11 display through xcb. The screen is
// requested in horizontal bands straight into one MIT-SHM segment (GetImage replies when SHM
// cannot be used), and captureScreen() returns as soon as the requests are sent: the Picture's
// readers wait row by row, so encoding overlaps the transfer. Pixels keep the screen's format;
// palette screens get the installed colormap's 256 colours. One connection, opened once and
// reopened after it fails.

#include "CaptureBackend.h"

#include <QByteArray>
#include <cstddef>
#include <memory>

namespace imaging {

class X11Connection;

class X11CaptureBackend final : public CaptureBackend
{
public:
    // connection: an open connection, or nullptr to connect on first use. displayName as for
    // xcb_connect (empty: $DISPLAY), used when (re)connecting. bandBytes: the size of one
    // transfer band (rounded to whole rows, a multiple of 16 where the screen allows).
    explicit X11CaptureBackend(std::shared_ptr<X11Connection> connection,
                               QByteArray displayName = {},
                               std::size_t bandBytes = std::size_t(1) << 20);
    ~X11CaptureBackend() override;

    Picture captureScreen() override;
    void sync() override;

    // Whether captures go through MIT-SHM (false before the first connection).
    bool usesShm() const;

private:
    bool ensureConnection();
    int bandRows(std::size_t stride, int height) const;

    std::shared_ptr<X11Connection> m_connection;
    QByteArray m_displayName;
    std::size_t m_bandBytes;
};

} // namespace imaging
