#include "HandOffClient.h"

#include "HandOffChannel.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace app {

namespace {

// One window's connection: its lines as they come.
class Connection
{
public:
    enum class Opened { Yes, Gone, Stuck };

    explicit Connection(const QString &path)
        : m_path(path)
    {
    }
    ~Connection()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    Connection(Connection &&other) noexcept
        : m_path(other.m_path)
        , m_fd(std::exchange(other.m_fd, -1))
        , m_buffer(std::move(other.m_buffer))
    {
    }

    Opened open()
    {
        const QByteArray name = QFile::encodeName(m_path);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (name.size() >= static_cast<qsizetype>(sizeof address.sun_path))
            return Opened::Gone;
        std::copy(name.begin(), name.end(), address.sun_path);
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (m_fd < 0)
            return Opened::Gone;
        if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
            return Opened::Yes;
        const int error = errno;
        if (error == EAGAIN) // its backlog is full: it takes nothing in
            return Opened::Stuck;
        // Nobody listens: the window ended without removing its socket.
        if (error == ECONNREFUSED)
            ::unlink(name.constData());
        return Opened::Gone;
    }

    bool send(const char *line)
    {
        const QByteArray bytes = QByteArray(line) + '\n';
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.constData() + sent,
                                     static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
            if (n > 0) {
                sent += n;
            } else if (n < 0 && errno == EAGAIN) {
                pollfd waiting{m_fd, POLLOUT, 0};
                if (::poll(&waiting, 1, 1000) <= 0)
                    return false;
            } else if (n < 0 && errno != EINTR) {
                return false;
            }
        }
        return true;
    }

    // The next line, or nullopt when the connection ended or timeoutMs (-1: none) passed.
    std::optional<QByteArray> readLine(int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            const qsizetype end = m_buffer.indexOf('\n');
            if (end >= 0) {
                QByteArray line = m_buffer.left(end);
                m_buffer.remove(0, end + 1);
                return line;
            }
            int left = -1;
            if (timeoutMs >= 0) {
                left = timeoutMs - static_cast<int>(clock.elapsed());
                if (left <= 0)
                    return std::nullopt;
            }
            pollfd waiting{m_fd, POLLIN, 0};
            const int ready = ::poll(&waiting, 1, left);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return std::nullopt;
            char chunk[4096];
            const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                return std::nullopt;
            m_buffer.append(chunk, n);
        }
    }

private:
    QString m_path;
    int m_fd = -1;
    QByteArray m_buffer;
};

} // namespace

HandOffResult handOffCapture(bool notify, int answerTimeoutMs)
{
    using Outcome = HandOffResult::Outcome;
    HandOffResult result;
    std::vector<Connection> windows;
    for (const QString &path : handoff::windowSockets(handoff::socketFolder(false))) {
        Connection connection(path);
        switch (connection.open()) {
        case Connection::Opened::Yes:
            windows.push_back(std::move(connection));
            break;
        case Connection::Opened::Stuck:
            result.outcome = Outcome::NotAnswering;
            return result;
        case Connection::Opened::Gone:
            break;
        }
    }
    if (windows.empty())
        return result;

    // The others step aside first; they come back when their connections close, at return.
    for (std::size_t i = 1; i < windows.size(); ++i) {
        if (!windows[i].send("aside") ||
            windows[i].readLine(answerTimeoutMs) != QByteArray("aside")) {
            result.outcome = Outcome::NotAnswering;
            return result;
        }
    }
    Connection &taker = windows.front();
    if (!taker.send(notify ? handoff::CaptureNotify : handoff::CaptureQuiet) ||
        taker.readLine(answerTimeoutMs) != QByteArray(handoff::Queued)) {
        result.outcome = Outcome::NotAnswering;
        return result;
    }
    result.outcome = Outcome::NotWritten;
    while (const std::optional<QByteArray> line = taker.readLine(-1)) {
        const qsizetype blank = line->indexOf(' ');
        const QByteArray word = blank < 0 ? *line : line->left(blank);
        const QString field = blank < 0 ? QString() : handoff::decode(line->mid(blank + 1));
        if (word == handoff::Message) {
            result.messages.append(field);
        } else if (word == handoff::Written) {
            result.outcome = Outcome::Written;
            result.path = field;
            return result;
        } else if (word == handoff::Nothing) {
            return result;
        } else if (word == handoff::Closed) {
            // The window was closed before its turn (its socket is gone): ask again, once the
            // others have come back.
            windows.clear();
            return handOffCapture(notify, answerTimeoutMs);
        }
    }
    // The window ended (or broke the connection) in the middle of the capture.
    result.messages.append(QStringLiteral("the window ended before it answered"));
    return result;
}

} // namespace app
