#include "AtomicFile.h"

#include "SaveError.h"

#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace imaging {

namespace {
[[noreturn]] void fail(int error)
{
    throw saveError(statusFromErrno(error));
}
} // namespace

AtomicFile::AtomicFile(const QString &targetPath) : m_targetPath(QFile::encodeName(targetPath))
{
    if (m_targetPath.isEmpty() || m_targetPath.endsWith('/'))
        fail(EISDIR);
    const auto slash = m_targetPath.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray() : m_targetPath.left(slash + 1);

    // A short name of our own, so that a target name near the length limit still gets a
    // temporary file; created with 0666 so the user's umask decides, as for any new file.
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_temporaryPath = folder + ".vo-"
                          + QByteArray::number(QRandomGenerator::global()->generate(), 16)
                          + ".tmp";
        m_fd = ::open(m_temporaryPath.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (m_fd >= 0)
            break;
        if (errno != EEXIST)
            fail(errno);
    }
    if (m_fd < 0)
        fail(EEXIST);

    // Replacing a file keeps its permission bits, as writing into it would have.
    struct stat old;
    if (::stat(m_targetPath.constData(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(m_fd, old.st_mode & 07777);
}

AtomicFile::~AtomicFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_committed)
        ::unlink(m_temporaryPath.constData());
}

void AtomicFile::append(const iovec *buffers, int count)
{
    writeAt(m_end, buffers, count);
}

void AtomicFile::writeAt(off_t offset, const iovec *buffers, int count)
{
    std::vector<iovec> pending(buffers, buffers + count);
    std::size_t first = 0;
    while (first < pending.size()) {
        if (pending[first].iov_len == 0) {
            ++first;
            continue;
        }
        const int batch = static_cast<int>(std::min<std::size_t>(pending.size() - first, IOV_MAX));
        const ssize_t written = ::pwritev(m_fd, pending.data() + first, batch, offset);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        if (written == 0)
            fail(ENOSPC);
        offset += written;
        auto left = static_cast<std::size_t>(written);
        while (left > 0) {
            iovec &buffer = pending[first];
            const std::size_t used = std::min(left, buffer.iov_len);
            buffer.iov_base = static_cast<char *>(buffer.iov_base) + used;
            buffer.iov_len -= used;
            left -= used;
            if (buffer.iov_len == 0)
                ++first;
        }
    }
    m_end = std::max(m_end, offset);
}

void AtomicFile::commit()
{
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        fail(errno);
    if (::rename(m_temporaryPath.constData(), m_targetPath.constData()) != 0)
        fail(errno);
    m_committed = true;
}

} // namespace imaging
