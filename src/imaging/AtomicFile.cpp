#include "AtomicFile.h"

#include "SaveError.h"
#include "core/ExclusiveRename.h"

#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace imaging {

namespace {
[[noreturn]] void fail(int error)
{
    throw saveError(statusFromErrno(error));
}

constexpr int StaleSeconds = 60;

// ".vo-" + one to eight lower-case hex digits + ".tmp": the names this class has ever made.
bool isOwnTemporaryName(const char *name)
{
    const std::size_t length = std::strlen(name);
    if (length < 9 || length > 16 || std::strncmp(name, ".vo-", 4) != 0 ||
        std::strcmp(name + length - 4, ".tmp") != 0)
        return false;
    for (std::size_t i = 4; i < length - 4; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) && (name[i] < 'a' || name[i] > 'f'))
            return false;
    }
    return true;
}

// Whether the folder was looked at less than a minute ago; notes the look otherwise.
bool lookedAtLately(const QByteArray &folder)
{
    static std::mutex mutex;
    static QHash<QByteArray, std::chrono::steady_clock::time_point> lastLook;
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard lock(mutex);
    const auto found = lastLook.constFind(folder);
    if (found != lastLook.cend() && now - *found < std::chrono::seconds(StaleSeconds))
        return true;
    lastLook.insert(folder, now);
    return false;
}

// Temporary files that a copy killed in the middle of a save left behind. Only regular files
// of the user's own, of our pattern, unchanged for a minute: never another program's file, nor
// one a running save is still writing.
void removeStaleTemporaryFiles(const QByteArray &folder)
{
    if (lookedAtLately(folder))
        return;
    DIR *dir = ::opendir(folder.isEmpty() ? "." : folder.constData());
    if (!dir)
        return;
    const int fd = ::dirfd(dir);
    const std::time_t now = std::time(nullptr);
    while (const dirent *entry = ::readdir(dir)) {
        if (!isOwnTemporaryName(entry->d_name))
            continue;
        struct stat status;
        if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
            now - status.st_mtime >= StaleSeconds)
            ::unlinkat(fd, entry->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace

AtomicFile::AtomicFile(const QString &targetPath)
    : m_targetPath(QFile::encodeName(targetPath))
{
    if (m_targetPath.isEmpty() || m_targetPath.endsWith('/'))
        fail(EISDIR);
    const auto slash = m_targetPath.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray() : m_targetPath.left(slash + 1);

    removeStaleTemporaryFiles(folder);

    // A short name of our own, so that a target name near the length limit still gets a
    // temporary file; created with 0666 so the user's umask decides, as for any new file.
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_temporaryPath =
            folder + ".vo-" +
            QByteArray::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, '0') +
            ".tmp";
        m_fd = ::open(m_temporaryPath.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (m_fd >= 0)
            break;
        if (errno != EEXIST)
            fail(errno);
    }
    if (m_fd < 0)
        fail(EEXIST);

    // The new file is never more open than the umask allows (0666 & ~umask, what it was created
    // with), whatever was at the name: a link leads elsewhere, and its target's mode says nothing
    // about this picture. A file replaced at the name keeps only the restrictions set on it.
    struct stat created, old;
    if (::lstat(m_targetPath.constData(), &old) == 0 && S_ISREG(old.st_mode) &&
        ::fstat(m_fd, &created) == 0 && (created.st_mode & ~old.st_mode & 07777) != 0)
        ::fchmod(m_fd, created.st_mode & old.st_mode & 07777);
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

void AtomicFile::close()
{
    if (m_fd < 0)
        return;
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        fail(errno);
}

void AtomicFile::commit()
{
    close();
    if (::rename(m_temporaryPath.constData(), m_targetPath.constData()) != 0)
        fail(errno);
    m_committed = true;
}

bool AtomicFile::commitExclusive(const QString &path)
{
    close();
    const int error =
        core::renameNoReplace(m_temporaryPath.constData(), QFile::encodeName(path).constData());
    if (error == EEXIST)
        return false;
    if (error != 0)
        fail(error);
    m_committed = true;
    return true;
}

QString AtomicFile::commitFirstFree(const NameSequence &names)
{
    for (int attempt = 0; attempt < MaxNameAttempts; ++attempt) {
        const QString path = names(attempt);
        if (commitExclusive(path))
            return path;
    }
    fail(EEXIST);
}

} // namespace imaging
