#include "FileLock.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace app {

FileLock::FileLock(QString path)
    : m_path(std::move(path))
{
}

FileLock::~FileLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // drops the lock
}

bool FileLock::lock(int timeoutMs, QString *why, const std::function<QByteArray()> &progress)
{
    if (m_fd < 0) {
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd < 0) {
            *why = QStringLiteral("its lock file \"%1\" cannot be made (%2)")
                       .arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    QDeadlineTimer deadline(timeoutMs);
    QByteArray seen = progress ? progress() : QByteArray();
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            *why = QStringLiteral("its lock file \"%1\" cannot be locked (%2)")
                       .arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        if (deadline.hasExpired() && progress) {
            QByteArray now = progress();
            if (now != seen) {
                seen = std::move(now);
                deadline = QDeadlineTimer(timeoutMs);
            }
        }
        if (deadline.hasExpired()) {
            *why = QStringLiteral("another program keeps it locked");
            return false;
        }
        // Varying pauses keep two waiting copies from waking in step.
        QThread::usleep(QRandomGenerator::global()->bounded(100, 1000));
    }
    return true;
}

} // namespace app
