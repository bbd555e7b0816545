#include "ClipServerFixture.h"

#include "clipserver/ClipServerError.h"
#include "net/WhenAll.h"

#include <QCoro/QCoroAbstractSocket>
#include <QCoro/QCoroTimer>
#include <QElapsedTimer>
#include <QTcpSocket>

#include <sys/socket.h>

namespace pealix::test {
namespace {

struct RawRequest
{
    QByteArray bytes;
    // When set, written a byte at a time, Nagle off, this far apart; then the server must
    // already have closed.
    int trickleMs = -1;
    bool halfClose = false; // then shut our sending side, as a client that has said all it will
};

// What arrived before the server closed the connection; nothing when it did not
// close it within 10 s, or never accepted it.
QCoro::Task<std::optional<QByteArray>> rawExchange(quint16 port, RawRequest request)
{
    constexpr int timeoutMs = 10000;
    QTcpSocket socket;
    const bool connected = co_await qCoro(socket).connectToHost(QHostAddress::LocalHost, port);
    if (!connected)
        co_return std::nullopt;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const qsizetype chunk = request.trickleMs < 0 ? request.bytes.size() : 1;
    for (qsizetype i = 0; i < request.bytes.size() && socket.state() == QAbstractSocket::ConnectedState;
         i += chunk) {
        socket.write(request.bytes.mid(i, chunk));
        co_await qCoro(socket).waitForBytesWritten(timeoutMs);
        if (request.trickleMs > 0)
            co_await QCoro::sleepFor(std::chrono::milliseconds(request.trickleMs));
    }
    if (request.halfClose)
        ::shutdown(int(socket.socketDescriptor()), SHUT_WR);
    bool closed = socket.state() == QAbstractSocket::UnconnectedState;
    // A slow trickler has waited long enough; the others give the server time to close.
    if (!closed && request.trickleMs <= 0)
        closed = co_await qCoro(socket).waitForDisconnected(timeoutMs);
    co_return closed ? std::optional(socket.readAll()) : std::nullopt;
}

std::optional<QByteArray> exchange(quint16 port, const RawRequest &request)
{
    return QCoro::waitFor(rawExchange(port, request));
}

// QCoro::waitFor never returns when the awaited task throws, so catch inside a coroutine.
QCoro::Task<QString> startError(ClipServer *server, QString path)
{
    try {
        co_await server->start(path);
    } catch (const ClipServerError &error) {
        co_return error.description();
    }
    co_return QString();
}

using ClipServerTest = ClipServerFixture;

TEST_F(ClipServerTest, AnswersEachConnectionExactlyAndOutlivesBadHeads)
{
    const quint16 port = serve(patternBytes(1000));
    const QByteArray whole = header(1000) + m_clip;
    const std::pair<RawRequest, QByteArray> cases[] = {
        // Closed without a word, and serving goes on.
        {{QByteArray(70000, 'a')}, {}},                           // no end of head within 64 KiB
        {{"GET / HTTP/1.1\nRange: bytes=0-1\n\n", -1, true}, {}}, // bare LF never ends a head
        {{"GET / HTTP/1.1\r\nHost: x\r\n", -1, true}, {}},
        {{{}, -1, true}, {}},
        // Every method and path gets the clip; a request body is ignored.
        {{"POST /other/path?q=1 HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello"}, whole},
        {{"GET / HTTP/1.1\r\nRange: bytes=0-1\r\n\r\n"}, header(2, "0-1/1000") + m_clip.left(2)},
        {{"GET / HTTP/1.1\r\nRange: bytes=-500\r\n\r\n"}, header(500, "500-999/1000") + m_clip.mid(500)},
        {{"GET / HTTP/1.1\r\nRange: bytes=1000-\r\n\r\n"},
         "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */1000\r\nContent-Length: 0\r\n"
         "Connection: close\r\n\r\n"},
        {{"head / HTTP/1.1\r\nRange: bytes=-10\r\n\r\n"}, header(10, "990-999/1000")},
        {{"\r\n\r\n"}, whole},                          // an empty request line counts as GET
        {{QByteArray(60000, ' ') + "\r\n\r\n"}, whole}, // a long head within the limit
        // One request per connection: the second is never answered.
        {{"GET / HTTP/1.1\r\nRange: bytes=0-0\r\n\r\nGET / HTTP/1.1\r\n\r\n"},
         header(1, "0-0/1000") + m_clip.left(1)},
        {{"GET / HTTP/1.1\r\nrange:bytes=3-4\r\nRange: bytes=0-\r\n\r\n"},
         header(2, "3-4/1000") + m_clip.mid(3, 2)},
        // Undecodable bytes spoil only the line they stand in.
        {{"\xff\xfe\x00\x01 /\xc3 HTTP/1.1\r\nX: \xc3\r\nRange: bytes=5-9\r\n\r\n"_ba},
         header(5, "5-9/1000") + m_clip.mid(5, 5)},
        {{"GET / HTTP/1.1\r\nRange: bytes=10-19\r\n\r\n", 0}, header(10, "10-19/1000") + m_clip.mid(10, 10)},
    };
    for (const auto &[request, response] : cases)
        EXPECT_EQ(exchange(port, request), response) << request.bytes.left(60).toStdString();

    const quint16 empty = serve(QByteArray());
    EXPECT_EQ(exchange(empty, {"GET / HTTP/1.1\r\nRange: bytes=0-\r\n\r\n"}), header(0, "0-0/0"));
}

TEST_F(ClipServerTest, StartFailsWithoutAClipAndStopEndsListening)
{
    ClipServer unstarted;
    const auto error = QCoro::waitFor(startError(&unstarted, m_dir.filePath(u"missing.m4a"_s)));
    EXPECT_FALSE(error.isEmpty()) << "start succeeded without a clip";

    const quint16 port = serve(patternBytes(1000));
    m_server->stop();
    EXPECT_EQ(m_server->port(), 0);
    m_server->stop();
    // Blocking is harmless here: nothing should be left to answer.
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_FALSE(probe.waitForConnected(5000)) << "still listening after stop";
}

TEST_F(ClipServerTest, StalledAndTricklingClientsAreClosed)
{
    const auto limit = std::chrono::milliseconds(300);
    const quint16 port = serve(patternBytes(1000), limit);
    // A byte every 100 ms is progress, yet a head that never ends must not
    // hold the connection for the 10 s those 100 bytes take.
    for (const RawRequest &request :
         {RawRequest{{}}, RawRequest{"GET / HTTP/1.1\r\nHost"}, RawRequest{QByteArray(100, 'a'), 100}}) {
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(exchange(port, request), QByteArray()) << request.bytes.left(40).toStdString();
        EXPECT_GE(clock.elapsed(), limit.count() - 20);
    }
}

TEST_F(ClipServerTest, ServesTwoHundredParallelConnections)
{
    const quint16 port = serve(patternBytes(200000));
    // Every client connects before any is answered in full, so the server really holds them all at once.
    std::vector<QCoro::Task<std::optional<QByteArray>>> clients;
    for (int i = 0; i < 200; ++i)
        clients.push_back(
            rawExchange(port, {"GET / HTTP/1.1\r\nRange: bytes=" + QByteArray::number(i) + "-\r\n\r\n"}));
    const auto replies = QCoro::waitFor(net::whenAll(std::move(clients)));
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(replies[i], header(200000 - i, QByteArray::number(i) + "-199999/200000") + m_clip.mid(i))
            << i;
}

TEST_F(ClipServerTest, ResponseInFlightOutlivesStopAndServer)
{
    // Larger than the kernel buffers on both ends hold, so the response is
    // still being written when the server goes away.
    const quint16 port = serve(patternBytes(32 * 1024 * 1024));
    QTcpSocket socket;
    socket.setReadBufferSize(64 * 1024);
    socket.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(QCoro::waitFor(qCoro(socket).waitForConnected(5000)));
    socket.write("GET / HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(QCoro::waitFor(qCoro(socket).waitForReadyRead(5000)));
    QByteArray received = socket.readAll();
    m_server->stop();
    m_server.reset();
    socket.setReadBufferSize(0);
    QCoro::waitFor(qCoro(socket).waitForDisconnected(10000));
    received += socket.readAll();
    EXPECT_TRUE(received == header(m_clip.size()) + m_clip) << received.size();
}

} // namespace
} // namespace pealix::test
