#include "ShmSegment.h"

#include "XcbReply.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace platform {

std::unique_ptr<ShmSegment> ShmSegment::create(xcb_connection_t *connection, std::size_t size)
{
    std::unique_ptr<ShmSegment> segment(new ShmSegment);
    segment->m_connection = connection;
    segment->m_size = size;
    const int shmId = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (shmId < 0)
        return nullptr;
    void *address = shmat(shmId, nullptr, 0);
    if (address == reinterpret_cast<void *>(-1)) {
        shmctl(shmId, IPC_RMID, nullptr);
        return nullptr;
    }
    segment->m_bytes = static_cast<std::uint8_t *>(address);
    segment->m_seg = xcb_generate_id(connection);
    XcbReply<xcb_generic_error_t> error(xcb_request_check(
        connection,
        xcb_shm_attach_checked(connection, segment->m_seg, static_cast<std::uint32_t>(shmId), 0)));
    shmctl(shmId, IPC_RMID, nullptr); // both have attached (or the server never will)
    if (error || xcb_connection_has_error(connection))
        return nullptr;
    segment->m_attachedToServer = true;
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
}

} // namespace platform
