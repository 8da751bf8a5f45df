#include "ShmSegment.h"

#include "XcbReply.h"

#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <unistd.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace platform {

std::unique_ptr<ShmSegment> ShmSegment::create(xcb_connection_t *connection, std::size_t size,
                                               Kind kind)
{
    if (size == 0)
        return nullptr;
    std::unique_ptr<ShmSegment> segment(new ShmSegment);
    segment->m_connection = connection;
    segment->m_kind = kind;
    segment->m_size = size;
    const bool attached =
        kind == Kind::PassedFd ? segment->attachFd(size) : segment->attachSystemV(size);
    if (!attached || xcb_connection_has_error(connection))
        return nullptr;
    return segment;
}

bool ShmSegment::attachFd(std::size_t size)
{
    const int fd = memfd_create("vo-capture", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    // This process only reads: a populated read-only mapping takes every page in one call.
    void *address = MAP_FAILED;
    if (ftruncate(fd, static_cast<off_t>(size)) == 0)
        address = mmap(nullptr, size, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);
    if (address == MAP_FAILED) {
        close(fd);
        return false;
    }
    m_bytes = static_cast<std::uint8_t *>(address);
    m_seg = xcb_generate_id(m_connection);
    // xcb closes the descriptor once it is sent; the server keeps its own mapping.
    XcbReply<xcb_generic_error_t> error(
        xcb_request_check(m_connection, xcb_shm_attach_fd_checked(m_connection, m_seg, fd, 0)));
    m_attachedToServer = !error;
    return m_attachedToServer;
}

bool ShmSegment::attachSystemV(std::size_t size)
{
    const int shmId = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (shmId < 0)
        return false;
    void *address = shmat(shmId, nullptr, SHM_RDONLY);
    if (address == reinterpret_cast<void *>(-1)) {
        shmctl(shmId, IPC_RMID, nullptr);
        return false;
    }
    m_bytes = static_cast<std::uint8_t *>(address);
    m_seg = xcb_generate_id(m_connection);
    XcbReply<xcb_generic_error_t> error(xcb_request_check(
        m_connection,
        xcb_shm_attach_checked(m_connection, m_seg, static_cast<std::uint32_t>(shmId), 0)));
    shmctl(shmId, IPC_RMID, nullptr); // both have attached (or the server never will)
    m_attachedToServer = !error;
    return m_attachedToServer;
}

ShmSegment::~ShmSegment()
{
    if (m_attachedToServer) {
        xcb_shm_detach(m_connection, m_seg);
        xcb_flush(m_connection);
    }
    if (!m_bytes)
        return;
    if (m_kind == Kind::PassedFd)
        munmap(m_bytes, m_size);
    else
        shmdt(m_bytes);
}

} // namespace platform
