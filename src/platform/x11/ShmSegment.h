#pragma once
// ShmSegment: shared memory attached both to this process and to the X server (MIT-SHM), for
// the server to write a capture into. Two kinds:
// - PassedFd (MIT-SHM 1.2, a local server): a memfd, mapped here with MAP_POPULATE and handed
//   to the server as a file descriptor. Its pages exist and are mapped here from the start, so
//   this process never takes a page fault on it, and the server's first writes take only minor
//   faults (no page to allocate and clear).
// - SystemV: a System V segment, marked for removal as soon as both have attached.
// Either way the memory vanishes with its last user, even if this process dies. The destructor
// detaches it from the server (ordered after every request already sent on the connection, so
// after any transfer into it), then from this process.

#include <cstddef>
#include <cstdint>
#include <memory>

struct xcb_connection_t;

namespace platform {

class ShmSegment
{
public:
    enum class Kind { PassedFd, SystemV };

    // Creates a segment of size bytes and waits for the server to attach it. Returns nullptr if
    // the segment cannot be made or the server refuses it (e.g. a client on another machine).
    static std::unique_ptr<ShmSegment> create(xcb_connection_t *connection, std::size_t size,
                                              Kind kind);
    ~ShmSegment();
    ShmSegment(const ShmSegment &) = delete;
    ShmSegment &operator=(const ShmSegment &) = delete;

    std::uint32_t id() const { return m_seg; }
    const std::uint8_t *bytes() const { return m_bytes; }
    std::size_t size() const { return m_size; }
    Kind kind() const { return m_kind; }

private:
    ShmSegment() = default;
    bool attachFd(std::size_t size);
    bool attachSystemV(std::size_t size);

    xcb_connection_t *m_connection = nullptr;
    Kind m_kind = Kind::SystemV;
    std::uint32_t m_seg = 0;
    std::uint8_t *m_bytes = nullptr;
    std::size_t m_size = 0;
    bool m_attachedToServer = false;
};

} // namespace platform
