#pragma once
// ShmSegment: a System V shared-memory segment attached both to this process and to the X
// server (MIT-SHM). The destructor detaches it from the server (ordered after every request
// already sent on the connection, so after any transfer into it), then from this process, and
// removes it.

#include <cstddef>
#include <cstdint>
#include <memory>

struct xcb_connection_t;

namespace imaging {

class ShmSegment
{
public:
    // Creates and attaches a segment of size bytes. With checked, waits for the server's answer
    // and returns nullptr if it refused; otherwise a refusal shows up on the first request that
    // uses the segment. Returns nullptr if the segment cannot be made.
    static std::unique_ptr<ShmSegment> create(xcb_connection_t *connection, std::size_t size,
                                              bool checked);
    ~ShmSegment();
    ShmSegment(const ShmSegment &) = delete;
    ShmSegment &operator=(const ShmSegment &) = delete;

    std::uint32_t id() const { return m_seg; }
    std::uint8_t *bytes() const { return m_bytes; }
    std::size_t size() const { return m_size; }

    // Call once the server is known to have attached (a request using the segment succeeded):
    // marks the segment for removal, so it vanishes with its last user even if this process dies.
    void markAttached();

private:
    ShmSegment() = default;

    xcb_connection_t *m_connection = nullptr;
    int m_shmId = -1;
    std::uint32_t m_seg = 0;
    std::uint8_t *m_bytes = nullptr;
    std::size_t m_size = 0;
    bool m_attachedToServer = false;
    bool m_removed = false;
};

} // namespace imaging
