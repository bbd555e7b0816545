#include "RawClient.h"

#include <QCoro/QCoroTask>
#include <QCoro/QCoroThread>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace pealix::test {

RawReply rawExchange(quint16 port, const RawRequest &request)
{
    RawReply reply;
    const int fd = ::socket(request.ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return reply;
    timeval timeout{request.timeoutMs / 1000, (request.timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    int connected = -1;
    if (request.ipv6) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(port);
        address.sin6_addr = in6addr_loopback;
        connected = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address));
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address));
    }
    if (connected != 0) {
        ::close(fd);
        return reply;
    }
    for (const QByteArray &piece : request.pieces) {
        if (::send(fd, piece.constData(), size_t(piece.size()), MSG_NOSIGNAL) != piece.size())
            break;
    }
    if (request.halfClose)
        ::shutdown(fd, SHUT_WR);
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::recv(fd, chunk, sizeof(chunk), 0);
        if (got > 0) {
            reply.received.append(chunk, got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            reply.timedOut = true;
        else
            reply.closedByServer = true;
        break;
    }
    ::close(fd);
    return reply;
}

void runOffMainThread(const std::function<void()> &job)
{
    std::unique_ptr<QThread> thread(QThread::create(job));
    thread->start();
    QCoro::waitFor(qCoro(thread.get()).waitForFinished(std::chrono::seconds(60)));
    thread->wait();
}

RawReply exchange(quint16 port, const RawRequest &request)
{
    RawReply reply;
    runOffMainThread([&] { reply = rawExchange(port, request); });
    return reply;
}

RawReply exchange(quint16 port, const QByteArray &request)
{
    return exchange(port, RawRequest{{request}});
}

} // namespace pealix::test
