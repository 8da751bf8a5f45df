#include "HandOffServer.h"

#include "HandOffChannel.h"

#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <deque>
#include <fcntl.h>
#include <list>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace app {

namespace {

// Answers are a few short lines: they fit the socket's buffer, and a client that went away
// loses them without a signal.
void sendLine(int fd, const QByteArray &line)
{
    const QByteArray bytes = line + '\n';
    (void)::send(fd, bytes.constData(), static_cast<size_t>(bytes.size()),
                 MSG_NOSIGNAL | MSG_DONTWAIT);
}

} // namespace

struct HandOffServer::Private
{
    struct Client
    {
        int fd = -1;
        std::unique_ptr<QSocketNotifier> notifier;
        QByteArray buffer;
        bool holdsAside = false;
    };
    struct Request
    {
        int fd;
        bool notify;
    };

    Callbacks callbacks;
    QByteArray path;
    int listenFd = -1;
    std::unique_ptr<QSocketNotifier> listening;
    std::list<Client> clients;
    std::deque<Request> queue;
    QTimer turn; // runs the next request when the window is free for it
    bool running = false;
    bool queueAside = false; // the window stays aside until the queue is done
    int asideCount = 0;

    void accept();
    void read(std::list<Client>::iterator client);
    void drop(std::list<Client>::iterator client, bool closeFd);
    void runNext();
    void nextOrComeBack();
};

HandOffServer::HandOffServer(Callbacks callbacks)
    : d(std::make_unique<Private>())
{
    d->callbacks = std::move(callbacks);
    d->turn.setSingleShot(true);
    QObject::connect(&d->turn, &QTimer::timeout, [this] { d->runNext(); });
}

HandOffServer::~HandOffServer()
{
    if (!d->path.isEmpty())
        ::unlink(d->path.constData());
    for (const Private::Request &request : d->queue) {
        sendLine(request.fd, handoff::Closed);
        ::close(request.fd);
    }
    for (Private::Client &client : d->clients)
        ::close(client.fd);
    if (d->listenFd >= 0)
        ::close(d->listenFd);
}

bool HandOffServer::listen()
{
    const QString folder = handoff::socketFolder(true);
    if (folder.isEmpty())
        return false;
    const QByteArray path =
        QFile::encodeName(folder + QLatin1Char('/') + handoff::screenKey() + QLatin1Char('.') +
                          QString::number(::getpid()) + QLatin1String(".sock"));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return false;
    // Bound under a name no client looks for, and put in place once it listens: a client that
    // found it before would take it for one left behind and remove it.
    const QByteArray preparing = path + ".new";
    if (preparing.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return false;
    std::copy(preparing.begin(), preparing.end(), address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    ::unlink(preparing.constData()); // one left by an earlier process of the same id
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::chmod(preparing.constData(), 0600) != 0 || ::listen(fd, 64) != 0 ||
        ::rename(preparing.constData(), path.constData()) != 0) {
        ::close(fd);
        ::unlink(preparing.constData());
        return false;
    }
    d->path = path;
    d->listenFd = fd;
    d->listening = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(d->listening.get(), &QSocketNotifier::activated, [this] { d->accept(); });
    return true;
}

QString HandOffServer::socketPath() const
{
    return QFile::decodeName(d->path);
}

void HandOffServer::markActive()
{
    if (!d->path.isEmpty())
        ::utimensat(AT_FDCWD, d->path.constData(), nullptr, AT_SYMLINK_NOFOLLOW);
}

void HandOffServer::Private::accept()
{
    for (;;) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
            peer.uid != ::geteuid()) {
            sendLine(fd, handoff::Refused);
            ::close(fd);
            continue;
        }
        clients.push_back({fd, std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read), {}});
        const auto client = std::prev(clients.end());
        QObject::connect(client->notifier.get(), &QSocketNotifier::activated,
                         [this, client] { read(client); });
    }
}

void HandOffServer::Private::drop(std::list<Client>::iterator client, bool closeFd)
{
    const bool heldAside = client->holdsAside;
    client->notifier->setEnabled(false);
    client->notifier.release()->deleteLater(); // it may be the one calling
    if (closeFd)
        ::close(client->fd);
    clients.erase(client);
    if (heldAside && --asideCount == 0 && callbacks.comeBack)
        callbacks.comeBack();
}

void HandOffServer::Private::read(std::list<Client>::iterator client)
{
    char chunk[512];
    const ssize_t n = ::read(client->fd, chunk, sizeof chunk);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0 || client->holdsAside) { // the end of the connection (or a stray word)
        drop(client, true);
        return;
    }
    client->buffer.append(chunk, n);
    const qsizetype end = client->buffer.indexOf('\n');
    if (end < 0) {
        if (client->buffer.size() > 256)
            drop(client, true);
        return;
    }
    const QByteArray request = client->buffer.left(end);
    const int fd = client->fd;
    if (request == handoff::CaptureNotify || request == handoff::CaptureQuiet) {
        if (callbacks.isBlocked()) {
            sendLine(fd, handoff::Busy);
            drop(client, true);
            return;
        }
        sendLine(fd, handoff::Queued);
        queue.push_back({fd, request == handoff::CaptureNotify});
        drop(client, false);
        if (!turn.isActive())
            turn.start(0);
    } else if (request == "aside") {
        if (callbacks.isBlocked() || callbacks.isCapturing() || running || queueAside) {
            sendLine(fd, handoff::Busy);
            drop(client, true);
            return;
        }
        client->holdsAside = true;
        if (asideCount++ == 0)
            callbacks.stepAside();
        sendLine(fd, "aside");
    } else {
        drop(client, true);
    }
}

void HandOffServer::Private::runNext()
{
    if (running || queue.empty())
        return;
    if (callbacks.isCapturing() || callbacks.isBlocked() || asideCount > 0) {
        turn.start(20); // the window's own capture, a box or another capture's turn is on
        return;
    }
    const Request request = queue.front();
    queue.pop_front();
    // A caller that gave up waiting (the window was stopped, or too slow to answer) has told its
    // user that nothing was captured: its request is not carried out later.
    pollfd peer{request.fd, POLLRDHUP, 0};
    if (::poll(&peer, 1, 0) > 0 && (peer.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
        ::close(request.fd);
        nextOrComeBack();
        return;
    }
    if (!queue.empty() && !queueAside && callbacks.maySkipComingBack &&
        callbacks.maySkipComingBack()) {
        queueAside = true;
        callbacks.stepAside();
    }
    running = true;
    const Answer answer = callbacks.capture(request.notify);
    running = false;
    for (const QString &message : answer.messages)
        sendLine(request.fd, QByteArray(handoff::Message) + ' ' + handoff::encode(message));
    sendLine(request.fd, answer.writtenPath.isEmpty() ? QByteArray(handoff::Nothing)
                                                      : QByteArray(handoff::Written) + ' ' +
                                                            handoff::encode(answer.writtenPath));
    ::close(request.fd);
    nextOrComeBack();
}

void HandOffServer::Private::nextOrComeBack()
{
    if (!queue.empty())
        turn.start(0);
    else if (std::exchange(queueAside, false) && callbacks.comeBack)
        callbacks.comeBack();
}

} // namespace app
