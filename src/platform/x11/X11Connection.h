#pragma once
// X11Connection: one xcb connection to the display with what the capture needs to know about
// its default screen (root window, pixel format, palette, extensions). Opened once and shared by
// the backend and the pictures it hands out (a picture keeps the connection alive until its
// transfer is finished and its shared memory released). Not copyable; disconnects on
// destruction.

#include "ShmSegmentPool.h"

#include <cstdint>
#include <memory>

struct xcb_connection_t;

namespace platform {

class X11Connection
{
public:
    // Connects to displayName (nullptr: $DISPLAY). Returns nullptr when no connection is made.
    static std::shared_ptr<X11Connection> open(const char *displayName = nullptr);
    ~X11Connection();
    X11Connection(const X11Connection &) = delete;
    X11Connection &operator=(const X11Connection &) = delete;

    xcb_connection_t *get() const { return m_connection; }
    bool hasError() const;

    std::uint32_t root() const { return m_root; }
    int rootWidth() const { return m_rootWidth; }
    int rootHeight() const { return m_rootHeight; }
    std::uint32_t defaultColormap() const { return m_colormap; }

    // The root window's pixel format; supportedFormat() is false for formats the capture does
    // not handle (anything but 8-bit palette with 256 entries, or 16/32-bit TrueColor, in
    // little-endian pixel order).
    bool supportedFormat() const { return m_supported; }
    bool isPalette() const { return m_palette; }
    int bitsPerPixel() const { return m_bitsPerPixel; }
    int scanlinePad() const { return m_scanlinePad; }
    std::uint32_t redMask() const { return m_redMask; }
    std::uint32_t greenMask() const { return m_greenMask; }
    std::uint32_t blueMask() const { return m_blueMask; }

    // MIT-SHM is present and a test segment could really be shared with the server (it cannot
    // be with a remote display).
    bool shmUsable() const { return m_shm; }
    // The kind of segment the server accepts (PassedFd when it takes file descriptors).
    ShmSegment::Kind shmKind() const { return m_shmKind; }
    int randrMinorVersion() const { return m_randrMinor; }

    // Released shared-memory segments kept for the next capture on this connection.
    ShmSegmentPool &segmentPool() const { return m_pool; }

    // Waits until the server has processed every request sent on this connection so far.
    void roundTrip() const;

private:
    X11Connection() = default;
    void describeScreen(int screenNumber);
    void probeShm();
    void probeRandr();

    xcb_connection_t *m_connection = nullptr;
    std::uint32_t m_root = 0;
    int m_rootWidth = 0;
    int m_rootHeight = 0;
    std::uint32_t m_colormap = 0;
    bool m_supported = false;
    bool m_palette = false;
    int m_bitsPerPixel = 0;
    int m_scanlinePad = 32;
    std::uint32_t m_redMask = 0;
    std::uint32_t m_greenMask = 0;
    std::uint32_t m_blueMask = 0;
    bool m_shm = false;
    ShmSegment::Kind m_shmKind = ShmSegment::Kind::SystemV;
    int m_randrMinor = -1;
    mutable ShmSegmentPool m_pool;
};

} // namespace platform
