#pragma once
// ShmSegment: a System V shared-memory segment attached both to this process and to the X
// server (MIT-SHM). It is marked for removal as soon as both have attached, so it vanishes with
// its last user even if this process dies. The destructor detaches it from the server (ordered
// after every request already sent on the connection, so after any transfer into it), then
// from this process.

#include <cstddef>
#include <cstdint>
#include <memory>

struct xcb_connection_t;

namespace platform {

class ShmSegment
{
public:
    // Creates a segment of size bytes and waits for the server to attach it. Returns nullptr if
    // the segment cannot be made or the server refuses it (e.g. a client on another machine).
    static std::unique_ptr<ShmSegment> create(xcb_connection_t *connection, std::size_t size);
    ~ShmSegment();
    ShmSegment(const ShmSegment &) = delete;
    ShmSegment &operator=(const ShmSegment &) = delete;

    std::uint32_t id() const { return m_seg; }
    std::uint8_t *bytes() const { return m_bytes; }
    std::size_t size() const { return m_size; }

private:
    ShmSegment() = default;

    xcb_connection_t *m_connection = nullptr;
    std::uint32_t m_seg = 0;
    std::uint8_t *m_bytes = nullptr;
    std::size_t m_size = 0;
    bool m_attachedToServer = false;
};

} // namespace platform
