// Who may fetch the clip, who is recorded as having fetched it, and serving
// while a crowd of clients that never finish holds connections open.
#include "clipserver/ClipServer.h"
#include "support/EventLoopWait.h"
#include "support/TestEnvironment.h"

#include <QCoro/QCoroAbstractSocket>
#include <QCoro/QCoroProcess>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace pealix::test {
namespace {

using namespace Qt::StringLiterals;

QHostAddress loopback(int last)
{
    return QHostAddress(quint32(0x7f000000 + last));
}

// curl from a loopback address of our choosing: its exit code and what it printed.
struct CurlResult
{
    int exitCode = -1;
    QByteArray output;
};

QCoro::Task<CurlResult> curl(QStringList arguments, QHostAddress from)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(u"curl"_s,
                  QStringList{"-q", "-sS", "--noproxy", "*", "--interface", from.toString()} + arguments);
    co_await qCoro(process).waitForFinished(30000);
    co_return CurlResult{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                         process.readAllStandardOutput()};
}

// Connects from `from`, sends a request and reads to the end: what arrived, or
// nothing when the connection could not be made.
QCoro::Task<std::optional<QByteArray>> fetchFrom(quint16 port, QHostAddress from)
{
    QTcpSocket socket;
    if (!socket.bind(from) || !co_await qCoro(socket).connectToHost(QHostAddress::LocalHost, port))
        co_return std::nullopt;
    socket.write("GET /clip.m4a HTTP/1.1\r\n\r\n");
    co_await qCoro(socket).waitForDisconnected(10000);
    co_return socket.readAll();
}

// The connections this process holds on the server's side of `port`, by the
// client's address and port: the descriptors the server has taken from the
// kernel and not yet closed, whatever it believes about them.
QList<std::pair<QHostAddress, quint16>> heldConnections(quint16 port)
{
    QList<std::pair<QHostAddress, quint16>> held;
    const QStringList descriptors =
        QDir(u"/proc/self/fd"_s).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : descriptors) {
        const int descriptor = name.toInt();
        sockaddr_storage local{};
        sockaddr_storage remote{};
        socklen_t localLength = sizeof(local);
        socklen_t remoteLength = sizeof(remote);
        if (::getsockname(descriptor, reinterpret_cast<sockaddr *>(&local), &localLength) != 0 ||
            QHostAddress(reinterpret_cast<const sockaddr *>(&local)).isNull())
            continue;
        const quint16 localPort =
            ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6 *>(&local)->sin6_port
                                              : reinterpret_cast<const sockaddr_in *>(&local)->sin_port);
        // The listening socket has no peer.
        if (localPort != port ||
            ::getpeername(descriptor, reinterpret_cast<sockaddr *>(&remote), &remoteLength) != 0)
            continue;
        const quint16 remotePort =
            ntohs(remote.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6 *>(&remote)->sin6_port
                                               : reinterpret_cast<const sockaddr_in *>(&remote)->sin_port);
        held.append({normalisedPeer(QHostAddress(reinterpret_cast<const sockaddr *>(&remote))), remotePort});
    }
    return held;
}

// Whether the server has closed the connection, or finished its side of it, as
// the client's kernel knows: Qt tells a client that stopped reading nothing.
bool closedByServer(const QTcpSocket &socket)
{
    if (socket.state() != QAbstractSocket::ConnectedState)
        return true;
    tcp_info info{};
    socklen_t length = sizeof(info);
    return ::getsockopt(int(socket.socketDescriptor()), IPPROTO_TCP, TCP_INFO, &info, &length) == 0 &&
           info.tcpi_state != TCP_ESTABLISHED;
}

class ClipServerPeersTest : public ::testing::Test
{
protected:
    quint16 serve(qsizetype size, std::chrono::milliseconds idleLimit = ClipServer::defaultIdleLimit)
    {
        m_clip = QByteArray(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            m_clip[i] = char(i % 253);
        QFile file(m_dir.filePath(u"clip.m4a"_s));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(m_clip) == size && file.flush());
        m_server = std::make_unique<ClipServer>(idleLimit);
        return QCoro::waitFor(m_server->start(file.fileName()));
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ClipServer> m_server;
    QByteArray m_clip;
};

TEST_F(ClipServerPeersTest, PeersToldOneByOneAreTheOnlyOnesAnsweredAndNobodyBeforeTheFirst)
{
    const quint16 port = serve(1000);
    m_server->allowPeers({});
    EXPECT_EQ(QCoro::waitFor(fetchFrom(port, loopback(5))).value_or("no connection"), QByteArray())
        << "before anyone was told";

    m_server->allowPeers({loopback(5)});
    m_server->allowPeers({QHostAddress(u"::ffff:127.0.0.6"_s), loopback(5)});
    const struct
    {
        const char *situation;
        int from;
        bool answered;
    } rows[] = {
        {"the first one told", 5, true},
        {"one told later, in mapped form", 6, true},
        {"loopback itself", 1, false},
        {"a stranger", 7, false},
    };
    for (const auto &row : rows) {
        const std::optional<QByteArray> reply = QCoro::waitFor(fetchFrom(port, loopback(row.from)));
        ASSERT_TRUE(reply) << row.situation;
        if (row.answered)
            EXPECT_TRUE(reply->endsWith(m_clip)) << row.situation;
        else
            EXPECT_EQ(*reply, QByteArray()) << row.situation; // closed before a byte of an answer
    }
    EXPECT_EQ(m_server->completedFetches(), QList<QHostAddress>({loopback(5), loopback(6)}));
}

TEST_F(ClipServerPeersTest, WholeAndRangedGetsCountOnceEachHeadAndCutOffResponsesDoNot)
{
    QString missing;
    PEALIX_REQUIRE(havePrograms({u"curl"_s}, &missing), "missing " + missing.toStdString());
    // Large enough that a client reading slowly is still far from the end when it gives up.
    const quint16 port = serve(8 * 1024 * 1024);
    const QString url = u"http://127.0.0.1:%1/clip.m4a"_s.arg(port);
    QSignalSpy completed(m_server.get(), &ClipServer::fetchCompleted);

    const struct
    {
        const char *situation;
        QStringList arguments;
        int from;
        int exitCode;
    } rows[] = {
        {"a HEAD request", {"-I", url}, 2, 0},
        {"a whole GET", {"-o", "/dev/null", url}, 3, 0},
        // curl gives up after half a second at 10 KB/s, far from the end (exit 28).
        {"a client that gives up",
         {"-o", "/dev/null", "--limit-rate", "10K", "--max-time", "0.5", url},
         4,
         28},
        {"a range", {"-o", "/dev/null", "-r", "100-199", url}, 5, 0},
        {"the same client again", {"-o", "/dev/null", url}, 3, 0},
        {"a probe of the first two bytes", {"-o", "/dev/null", "-r", "0-1", url}, 6, 0},
    };
    for (const auto &row : rows)
        EXPECT_EQ(QCoro::waitFor(curl(row.arguments, loopback(row.from))).exitCode, row.exitCode)
            << row.situation;

    // curl may be gone before the server has seen its end of a connection.
    const QList<QHostAddress> expected{loopback(3), loopback(5), loopback(6)};
    processEventsUntil([&] { return m_server->completedFetches().size() >= expected.size(); },
                       std::chrono::seconds(5));
    EXPECT_EQ(m_server->completedFetches(), expected);
    QList<QHostAddress> signalled;
    for (const QList<QVariant> &arguments : completed)
        signalled.append(arguments.at(0).value<QHostAddress>());
    EXPECT_EQ(signalled, expected);
}

TEST_F(ClipServerPeersTest, AGoodFetchCompletesWhileACrowdHoldsConnectionsOpen)
{
    // No connection of the crowd times out while the test runs, however slowly
    // it runs: each one the server lets go of, it let go of to keep its bounds.
    const quint16 port = serve(300 * 1000, std::chrono::minutes(1));
    QSignalSpy completed(m_server.get(), &ClipServer::fetchCompleted);
    // From one address: requests whose answers are never read. From many others:
    // connections that say nothing, and heads that never end.
    std::vector<std::unique_ptr<QTcpSocket>> crowd;
    for (int i = 0; i < 400; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->setReadBufferSize(1);
        const bool oneAddress = i % 4 == 0;
        ASSERT_TRUE(socket->bind(oneAddress ? loopback(20) : QHostAddress(quint32(0x7f010000 + i))));
        socket->connectToHost(QHostAddress::LocalHost, port);
        ASSERT_TRUE(QCoro::waitFor(qCoro(*socket).waitForConnected(5000)));
        socket->write(oneAddress ? "GET / HTTP/1.1\r\n\r\n" : i % 4 == 1 ? "GET / HTTP/1.1\r\nX: " : "");
        crowd.push_back(std::move(socket));
    }
    // The kernel keeps a silent client from the server for a while; the good
    // fetch is to find every crowd member taken in or turned away.
    const auto everyoneArrived = [&] {
        const QList<std::pair<QHostAddress, quint16>> held = heldConnections(port);
        return std::all_of(crowd.begin(), crowd.end(), [&](const std::unique_ptr<QTcpSocket> &socket) {
            return closedByServer(*socket) ||
                   held.contains(std::pair(socket->localAddress(), socket->localPort()));
        });
    };
    ASSERT_TRUE(processEventsUntil(everyoneArrived, std::chrono::seconds(20)));

    for (int round = 0; round < 3; ++round)
        EXPECT_EQ(QCoro::waitFor(fetchFrom(port, loopback(1))).value_or("no connection").right(m_clip.size()),
                  m_clip)
            << round;
    // The server sees the client's end of the last fetch after the client has gone.
    if (completed.isEmpty())
        completed.wait(5000);
    EXPECT_EQ(m_server->completedFetches(), QList<QHostAddress>{loopback(1)});

    // The server keeps only so many: the one address within its own share, the crowd within the total.
    const QList<std::pair<QHostAddress, quint16>> held = heldConnections(port);
    EXPECT_LE(held.size(), ClipServer::maximumConnections);
    EXPECT_LE(
        std::count_if(held.begin(), held.end(), [](const auto &peer) { return peer.first == loopback(20); }),
        ClipServer::maximumConnectionsPerPeer);
}

} // namespace
} // namespace pealix::test
