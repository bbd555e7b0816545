#include "RawClient.h"

#include <QCoro/QCoroTask>
#include <QCoro/QCoroThread>
#include <QTcpSocket>
#include <QThread>

#include <sys/socket.h>

namespace pealix::test {

RawReply rawExchange(quint16 port, const RawRequest &request)
{
    RawReply reply;
    QTcpSocket socket;
    socket.connectToHost(request.ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(request.timeoutMs))
        return reply;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    for (const QByteArray &piece : request.pieces) {
        socket.write(piece);
        socket.waitForBytesWritten(request.timeoutMs);
    }
    if (request.halfClose)
        ::shutdown(int(socket.socketDescriptor()), SHUT_WR);
    while (socket.waitForReadyRead(request.timeoutMs))
        reply.received += socket.readAll();
    reply.received += socket.readAll();
    reply.closedByServer = socket.error() != QAbstractSocket::SocketTimeoutError;
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

} // namespace pealix::test
