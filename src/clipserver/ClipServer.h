#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>

namespace pealix {

class ClipAdmission;
class ClipBody;
class ClipConnection;
class ClipListener;

// Publishes one clip over HTTP/1.1 for the length of one broadcast: every path
// answers with the clip, single byte ranges and HEAD are honoured, and each
// connection carries exactly one request. Listens on every local address
// (IPv4 and, where available, IPv6) on a port the system picks, and answers
// only the addresses it is told to, once it is told who may connect.
class ClipServer : public QObject
{
    Q_OBJECT
public:
    // A connection that neither receives nor sends for this long is closed.
    static constexpr std::chrono::milliseconds defaultIdleLimit{10'000};

    explicit ClipServer(QObject *parent = nullptr);
    explicit ClipServer(std::chrono::milliseconds idleLimit, QObject *parent = nullptr);
    ~ClipServer() override;

    // Loads the clip file and starts listening. Resolves with the bound port;
    // throws ClipServerError when the file cannot be read or no listening
    // socket can be opened. Called once per instance.
    QCoro::Task<quint16> start(QString clipPath);

    // Stops accepting connections and lets go of the clip. Responses already
    // under way finish with their bytes. Harmless on a stopped server.
    void stop();

    // The bound port while listening, 0 otherwise.
    quint16 port() const { return m_port; }

    std::chrono::milliseconds idleLimit() const { return m_idleLimit; }
    // Applies to connections accepted afterwards.
    void setIdleLimit(std::chrono::milliseconds limit);

    // Adds to the addresses that may connect, and restricts the server from
    // now on even while none is listed: a server that is to answer only the
    // peers it is told of answers nobody before the first of them. Any other
    // connection is closed at once, before a byte of it is read. IPv4 clients
    // reach the dual-stack listener as IPv4-mapped IPv6 addresses
    // (::ffff:10.0.0.5); they match their IPv4 form. Loopback is refused
    // unless listed. Until the first call, anyone may connect. Applies to
    // connections accepted afterwards.
    void allowPeers(const QList<QHostAddress> &peers);

    // Every address that received a whole clip (a GET answered 200, or 206 for
    // the range it asked for), IPv4-mapped ones in their IPv4 form, each once,
    // in the order they first completed one. HEAD requests, refusals and
    // responses the client cut off do not count. "Received" means the client's
    // TCP acknowledged every byte and the client then ended the connection in
    // order.
    QList<QHostAddress> completedFetches() const { return m_completedFetches; }

    // Bounds on open connections; beyond them the least useful connection is
    // let go of, or the newcomer turned away (see ClipAdmission).
    static constexpr int maximumConnections = 256;
    static constexpr int maximumConnectionsPerPeer = 16;
    // Each socket's share of kernel memory for unsent response bytes.
    static constexpr int sendBufferBytes = 256 * 1024;

Q_SIGNALS:
    // An address entered completedFetches() (once per address).
    void fetchCompleted(QHostAddress peer);

private:
    // Takes one accepted socket; false when it had to wait and accepting must pause.
    bool acceptConnection(int descriptor);
    // Admits or refuses a socket; false when there is no room for it yet.
    bool admit(int descriptor, const QHostAddress &peer);
    void connectionClosed(ClipConnection *connection);
    void retryParked();
    void recordFetch(const QHostAddress &peer);

    ClipListener *m_listener = nullptr;
    std::shared_ptr<const ClipBody> m_payload;
    quint16 m_port = 0;
    std::chrono::milliseconds m_idleLimit = defaultIdleLimit;
    QList<QHostAddress> m_allowedPeers;
    bool m_restricted = false; // only m_allowedPeers may connect, even when it is empty
    QList<QHostAddress> m_completedFetches;
    std::unique_ptr<ClipAdmission> m_admission;
    // A client accepted while every slot was busy; accepting pauses until it is in.
    int m_parked = -1;
    QHostAddress m_parkedPeer;
    QTimer *m_parkedRetry = nullptr;
};

// An IPv4-mapped IPv6 address in its IPv4 form; any other address unchanged.
QHostAddress normalisedPeer(const QHostAddress &address);

} // namespace pealix
