#include "clipserver/ClipServer.h"

#include "clipserver/ClipAdmission.h"
#include "clipserver/ClipBody.h"
#include "clipserver/ClipConnection.h"
#include "clipserver/ClipListener.h"
#include "clipserver/ClipServerError.h"

#include <QFile>
#include <QHostAddress>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pealix {

namespace {

// A real request head arrives in one segment; a client still trickling its
// head after this many idle limits is not a speaker.
constexpr int headLimitInIdleLimits = 3;
// Under a flood, a connection whose request head has not come this long after
// it was accepted, or whose client has held its response up for this long,
// makes way for a newcomer.
constexpr qint64 headGraceMs = 100;
constexpr qint64 stalledResponseMs = 1000;

QHostAddress peerOf(int descriptor)
{
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (::getpeername(descriptor, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return {};
    return normalisedPeer(QHostAddress(reinterpret_cast<const sockaddr *>(&address)));
}

} // namespace

QHostAddress normalisedPeer(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : address;
}

ClipServer::ClipServer(QObject *parent) : ClipServer(defaultIdleLimit, parent) {}

ClipServer::ClipServer(std::chrono::milliseconds idleLimit, QObject *parent)
    : QObject(parent), m_idleLimit(idleLimit),
      m_admission(std::make_unique<ClipAdmission>(ClipAdmission::Bounds{
          maximumConnections, maximumConnectionsPerPeer, headGraceMs, stalledResponseMs}))
{
    setObjectName(QStringLiteral("org.pealix.Pealix.clipserver"));
    m_parkedRetry = new QTimer(this);
    m_parkedRetry->setInterval(std::chrono::milliseconds(headGraceMs));
    connect(m_parkedRetry, &QTimer::timeout, this, &ClipServer::retryParked);
}

ClipServer::~ClipServer()
{
    if (m_parked >= 0)
        ::close(m_parked);
}

void ClipServer::setIdleLimit(std::chrono::milliseconds limit)
{
    m_idleLimit = limit;
}

void ClipServer::allowPeers(const QList<QHostAddress> &peers)
{
    m_restricted = true;
    for (const QHostAddress &peer : peers) {
        const QHostAddress normalised = normalisedPeer(peer);
        if (!m_allowedPeers.contains(normalised))
            m_allowedPeers.append(normalised);
    }
}

void ClipServer::recordFetch(const QHostAddress &peer)
{
    if (m_completedFetches.contains(peer))
        return;
    m_completedFetches.append(peer);
    Q_EMIT fetchCompleted(peer);
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

    auto *listener = new ClipListener([this](int descriptor) { return acceptConnection(descriptor); }, this);
    if (!listener->listenAnywhere()) {
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
        m_listener->shutDown();
        m_listener->deleteLater();
        m_listener = nullptr;
    }
    if (m_parked >= 0) {
        ::close(m_parked);
        m_parked = -1;
        m_parkedRetry->stop();
    }
    // Connections hold their own references, so this never frees bytes in use.
    m_payload.reset();
    m_port = 0;
}

bool ClipServer::acceptConnection(int fd)
{
    const QHostAddress peer = peerOf(fd);
    // Refused before anything is read: a stranger learns nothing, not even the headers.
    if (peer.isNull() || (m_restricted && !m_allowedPeers.contains(peer))) {
        ::close(fd);
        return true;
    }
    if (admit(fd, peer))
        return true;
    m_parked = fd;
    m_parkedPeer = peer;
    // A busy connection may stall and become one that can make room.
    m_parkedRetry->start();
    return false;
}

bool ClipServer::admit(int fd, const QHostAddress &peer)
{
    const ClipAdmission::Decision room = m_admission->decide(peer, ClipConnection::steadyNowMs());
    if (room.kind == ClipAdmission::Decision::Kind::Wait)
        return false;
    if (room.kind == ClipAdmission::Decision::Kind::Refuse) {
        ::close(fd);
        return true;
    }
    if (room.evict)
        room.evict->abort();
    // A client that does not read holds at most this much of the kernel's memory.
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBufferBytes, sizeof(sendBufferBytes));

    const ClipConnection::Limits limits{m_idleLimit, m_idleLimit * headLimitInIdleLimits};
    auto *connection = new ClipConnection(fd, peer, QPointer<QObject>(this), m_payload, limits);
    m_admission->add(connection);
    connect(connection, &ClipConnection::closed, this, &ClipServer::connectionClosed);
    connect(connection, &ClipConnection::fetchCompleted, this, &ClipServer::recordFetch);
    connection->start();
    return true;
}

void ClipServer::connectionClosed(ClipConnection *connection)
{
    m_admission->remove(connection);
    if (m_parked >= 0)
        QTimer::singleShot(0, this, &ClipServer::retryParked);
}

void ClipServer::retryParked()
{
    if (m_parked < 0 || !admit(m_parked, m_parkedPeer))
        return;
    m_parked = -1;
    m_parkedRetry->stop();
    if (m_listener)
        m_listener->resume();
}

} // namespace pealix
