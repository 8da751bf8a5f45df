#include "XvfbServer.h"

#include <QDeadlineTimer>
#include <fcntl.h>
#include <unistd.h>

namespace testsupport {

XvfbServer::XvfbServer(const QStringList &extraArgs)
{
    // Xvfb writes its display number to the descriptor given with -displayfd once it is ready.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    const int writeFd = fcntl(fds[1], F_DUPFD, 10); // inheritable copy
    ::close(fds[1]);
    QStringList args{"-displayfd", QString::number(writeFd), "-nolisten", "tcp", "-noreset"};
    args += extraArgs;
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start("Xvfb", args);
    ::close(writeFd);
    if (!m_process.waitForStarted(5000)) {
        ::close(fds[0]);
        return;
    }
    QByteArray number;
    QDeadlineTimer deadline(10000);
    char c = 0;
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    while (!deadline.hasExpired()) {
        const ssize_t n = ::read(fds[0], &c, 1);
        if (n == 1) {
            if (c == '\n')
                break;
            number.append(c);
        } else if (n == 0) {
            break;
        } else {
            usleep(10000);
        }
    }
    ::close(fds[0]);
    if (!number.isEmpty())
        m_display = ":" + QString::fromLatin1(number);
}

XvfbServer::~XvfbServer()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }
}

} // namespace testsupport
