#include "ShmSegment.h"

#include "XcbReply.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace imaging {

std::unique_ptr<ShmSegment> ShmSegment::create(xcb_connection_t *connection, std::size_t size,
                                               bool checked)
{
    std::unique_ptr<ShmSegment> segment(new ShmSegment);
    segment->m_connection = connection;
    segment->m_size = size;
    segment->m_shmId = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (segment->m_shmId < 0)
        return nullptr;
    void *address = shmat(segment->m_shmId, nullptr, 0);
    if (address == reinterpret_cast<void *>(-1)) {
        shmctl(segment->m_shmId, IPC_RMID, nullptr);
        segment->m_removed = true;
        return nullptr;
    }
    segment->m_bytes = static_cast<std::uint8_t *>(address);
    segment->m_seg = xcb_generate_id(connection);
    const auto shmId = static_cast<std::uint32_t>(segment->m_shmId);
    if (checked) {
        XcbReply<xcb_generic_error_t> error(
            xcb_request_check(connection, xcb_shm_attach_checked(connection, segment->m_seg,
                                                                 shmId, 0)));
        if (error)
            return nullptr;
        segment->m_attachedToServer = true;
        segment->markAttached();
    } else {
        xcb_shm_attach(connection, segment->m_seg, shmId, 0);
        segment->m_attachedToServer = true;
    }
    return segment;
}

ShmSegment::~ShmSegment()
{
    if (m_attachedToServer) {
        xcb_shm_detach(m_connection, m_seg);
        xcb_flush(m_connection);
    }
    if (m_bytes)
        shmdt(m_bytes);
    if (!m_removed && m_shmId >= 0)
        shmctl(m_shmId, IPC_RMID, nullptr);
}

void ShmSegment::markAttached()
{
    if (!m_removed && m_shmId >= 0 && shmctl(m_shmId, IPC_RMID, nullptr) == 0)
        m_removed = true;
}

} // namespace imaging
