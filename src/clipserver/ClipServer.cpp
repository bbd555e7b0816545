#include "clipserver/ClipServer.h"

#include "clipserver/ClipBody.h"
#include "clipserver/ClipConnection.h"
#include "clipserver/ClipListener.h"
#include "clipserver/ClipServerError.h"

#include <QFile>
#include <QHostAddress>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pealix {

namespace {

// A real request head arrives in one segment; a client still trickling its
// head after this many idle limits is not a speaker.
constexpr int headLimitInIdleLimits = 3;

} // namespace

ClipServer::ClipServer(QObject *parent) : ClipServer(defaultIdleLimit, parent) {}

ClipServer::ClipServer(std::chrono::milliseconds idleLimit, QObject *parent)
    : QObject(parent), m_idleLimit(idleLimit)
{
    setObjectName(QStringLiteral("org.pealix.Pealix.clipserver"));
}

ClipServer::~ClipServer() = default;

void ClipServer::setIdleLimit(std::chrono::milliseconds limit)
{
    m_idleLimit = limit;
}

QCoro::Task<quint16> ClipServer::start(QString clipPath)
{
    QFile file(clipPath);
    if (!file.open(QIODevice::ReadOnly))
        throw ClipServerError(file.errorString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ClipServerError(file.errorString());
    m_payload = ClipBody::make(std::move(bytes));

    auto *listener = new ClipListener([this](qintptr descriptor) { acceptConnection(descriptor); }, this);
    // The dual-stack address: IPv4 clients (the URL speakers get is IPv4) and
    // IPv6 ones alike. Qt falls back to IPv4 alone where IPv6 is unavailable.
    if (!listener->listen(QHostAddress::Any, 0)) {
        const QString reason = listener->errorString();
        delete listener;
        throw ClipServerError(reason);
    }
    m_listener = listener;
    // Hand over connections only once their request has arrived: most requests
    // are then answered in one go, without waiting on the event loop. A client
    // that stays silent is still handed over after about a second.
    const int deferSeconds = 1;
    ::setsockopt(int(m_listener->socketDescriptor()), IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferSeconds,
                 sizeof(deferSeconds));
    // Listening is synchronous here: once listen() returns, connections are accepted.
    m_port = m_listener->serverPort();
    co_return m_port;
}

void ClipServer::stop()
{
    if (m_listener) {
        m_listener->close();
        m_listener->deleteLater();
        m_listener = nullptr;
    }
    // Connections hold their own references, so this never frees bytes in use.
    m_payload.reset();
    m_port = 0;
}

void ClipServer::acceptConnection(qintptr descriptor)
{
    const int fd = static_cast<int>(descriptor);
    if (::fcntl(fd, F_SETFL, O_NONBLOCK) != 0) {
        ::close(fd);
        return;
    }
    const ClipConnection::Limits limits{m_idleLimit, m_idleLimit * headLimitInIdleLimits};
    auto *connection = new ClipConnection(fd, QPointer<QObject>(this), m_payload, limits);
    connection->start();
}

} // namespace pealix
