#include "ClipServerFixture.h"

#include "clipserver/ClipServerError.h"

#include <QCoro/QCoroAbstractSocket>
#include <QCoro/QCoroThread>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QThread>

#include <sys/socket.h>

namespace pealix::test {
namespace {

struct RawRequest
{
    QByteArray bytes;
    int trickleMs = -1;     // when set, written a byte at a time, Nagle off, this far apart
    bool halfClose = false; // then shut our sending side, as a client that has said all it will
    int timeoutMs = 5000;
};

struct RawReply
{
    QByteArray received;
    bool closedByServer = false; // end of stream or reset, not our timeout
};

// Blocks: call it off the thread whose event loop runs the server.
RawReply rawExchange(quint16 port, const RawRequest &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(request.timeoutMs))
        return {};
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const bool trickle = request.trickleMs >= 0;
    for (qsizetype i = 0; i < request.bytes.size() && socket.state() == QAbstractSocket::ConnectedState;) {
        const qsizetype n = trickle ? 1 : request.bytes.size();
        socket.write(request.bytes.mid(i, n));
        socket.waitForBytesWritten(request.timeoutMs);
        if (trickle && request.trickleMs > 0)
            socket.waitForReadyRead(request.trickleMs);
        i += n;
    }
    if (request.halfClose)
        ::shutdown(int(socket.socketDescriptor()), SHUT_WR);
    RawReply reply;
    while (socket.waitForReadyRead(request.timeoutMs))
        reply.received += socket.readAll();
    reply.received += socket.readAll();
    reply.closedByServer = socket.error() != QAbstractSocket::SocketTimeoutError;
    return reply;
}

// rawExchange on a worker thread while this thread's event loop serves.
RawReply exchange(quint16 port, const RawRequest &request)
{
    RawReply reply;
    std::unique_ptr<QThread> thread(QThread::create([&] { reply = rawExchange(port, request); }));
    thread->start();
    QCoro::waitFor(qCoro(thread.get()).waitForFinished(std::chrono::seconds(60)));
    thread->wait();
    return reply;
}

// QCoro::waitFor never returns when the awaited task throws, so catch inside a coroutine.
QCoro::Task<std::optional<QString>> startError(ClipServer *server, QString path)
{
    try {
        co_await server->start(path);
    } catch (const ClipServerError &error) {
        co_return error.description();
    }
    co_return std::nullopt;
}

using ClipServerTest = ClipServerFixture;

TEST_F(ClipServerTest, AnswersEachRequestWithExactBytes)
{
    const quint16 port = serve(patternBytes(1000));
    const QByteArray whole = header(1000) + m_clip;
    const std::pair<RawRequest, QByteArray> cases[] = {
        // Every method and path gets the clip; a request body is ignored.
        {{"POST /other/path?q=1 HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello"}, whole},
        {{"GET / HTTP/1.1\r\nRange: bytes=0-1\r\n\r\n"}, header(2, "0-1/1000") + m_clip.left(2)},
        {{"GET / HTTP/1.1\r\nRange: bytes=-500\r\n\r\n"}, header(500, "500-999/1000") + m_clip.mid(500)},
        {{"GET / HTTP/1.1\r\nRange: bytes=1000-\r\n\r\n"},
         "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */1000\r\nContent-Length: 0\r\n"
         "Connection: close\r\n\r\n"},
        {{"HEAD / HTTP/1.1\r\n\r\n"}, header(1000)},
        {{"head / HTTP/1.1\r\nRange: bytes=-10\r\n\r\n"}, header(10, "990-999/1000")},
        {{"\r\n\r\n"}, whole}, // an empty request line counts as GET
        {{QByteArray(60000, ' ') + "\r\n\r\n"}, whole}, // a long head within the limit
        // One request per connection: the second is never answered.
        {{"GET / HTTP/1.1\r\nRange: bytes=0-0\r\n\r\nGET / HTTP/1.1\r\n\r\n"}, header(1, "0-0/1000") + m_clip.left(1)},
        {{"GET / HTTP/1.1\r\nrange:bytes=3-4\r\nRange: bytes=0-\r\n\r\n"}, header(2, "3-4/1000") + m_clip.mid(3, 2)},
        // Undecodable bytes spoil only the line they stand in.
        {{"\xff\xfe\x00\x01 /\xc3 HTTP/1.1\r\nX: \xc3\r\nRange: bytes=5-9\r\n\r\n"_ba},
         header(5, "5-9/1000") + m_clip.mid(5, 5)},
        {{"GET / HTTP/1.1\r\nRange: bytes=10-19\r\n\r\n", 0}, header(10, "10-19/1000") + m_clip.mid(10, 10)},
    };
    for (const auto &[request, response] : cases) {
        const RawReply reply = exchange(port, request);
        EXPECT_TRUE(reply.closedByServer) << request.bytes.left(60).toStdString();
        EXPECT_EQ(reply.received, response) << request.bytes.left(60).toStdString();
    }

    const quint16 empty = serve(QByteArray());
    EXPECT_EQ(exchange(empty, {"GET / HTTP/1.1\r\nRange: bytes=0-\r\n\r\n"}).received, header(0, "0-0/0"));
}

TEST_F(ClipServerTest, MalformedHeadsCloseSilentlyAndServingGoesOn)
{
    const quint16 port = serve(patternBytes(1000));
    const RawRequest silent[] = {
        {QByteArray(70000, 'a')}, // no end of head within 64 KiB
        {"GET / HTTP/1.1\nRange: bytes=0-1\n\n", -1, true}, // bare LF never ends a head
        {"GET / HTTP/1.1\r\nHost: x\r\n", -1, true},
        {{}, -1, true},
    };
    for (const RawRequest &request : silent) {
        const RawReply reply = exchange(port, request);
        EXPECT_TRUE(reply.closedByServer) << request.bytes.left(40).toStdString();
        EXPECT_TRUE(reply.received.isEmpty()) << request.bytes.left(40).toStdString();
    }
    EXPECT_EQ(exchange(port, {"GET / HTTP/1.1\r\n\r\n"}).received, header(1000) + m_clip);
}

TEST_F(ClipServerTest, StartFailsWithoutAClipAndStopEndsListening)
{
    ClipServer unstarted;
    const auto error = QCoro::waitFor(startError(&unstarted, m_dir.filePath(u"missing.m4a"_s)));
    ASSERT_TRUE(error.has_value()) << "start succeeded without a clip";
    EXPECT_FALSE(error->isEmpty());
    EXPECT_EQ(unstarted.port(), 0);

    const quint16 port = serve(patternBytes(1000));
    m_server->stop();
    EXPECT_EQ(m_server->port(), 0);
    m_server->stop();
    EXPECT_TRUE(exchange(port, {"GET / HTTP/1.1\r\n\r\n"}).received.isEmpty());
}

TEST_F(ClipServerTest, StalledAndTricklingClientsAreClosed)
{
    const auto limit = std::chrono::milliseconds(300);
    const quint16 port = serve(patternBytes(1000), limit);
    for (const QByteArray &sent : {QByteArray(), "GET / HTTP/1.1\r\nHost"_ba}) {
        QElapsedTimer clock;
        clock.start();
        const RawReply reply = exchange(port, {sent, -1, false, 10000});
        EXPECT_TRUE(reply.closedByServer) << "still open after 10 s";
        EXPECT_TRUE(reply.received.isEmpty());
        EXPECT_GE(clock.elapsed(), limit.count() - 20);
    }
    // A byte every 100 ms is progress, yet a head that never ends must not
    // hold the connection for the 10 s these 100 bytes take.
    EXPECT_TRUE(exchange(port, {QByteArray(100, 'a'), 100, false, 1000}).closedByServer);
}

TEST_F(ClipServerTest, ServesTwoHundredParallelConnections)
{
    const quint16 port = serve(patternBytes(200000));
    constexpr int count = 200;
    std::vector<RawReply> replies(count);
    std::vector<std::unique_ptr<QThread>> threads;
    // Every client connects before any is answered in full, so the server really holds them all at once.
    for (int i = 0; i < count; ++i) {
        const QByteArray head = "GET / HTTP/1.1\r\nRange: bytes=" + QByteArray::number(i) + "-\r\n\r\n";
        threads.emplace_back(QThread::create([&replies, i, head, port] {
            replies[i] = rawExchange(port, {head, -1, false, 20000});
        }));
        threads.back()->start();
    }
    for (auto &thread : threads)
        QCoro::waitFor(qCoro(thread.get()).waitForFinished(std::chrono::seconds(60)));
    for (int i = 0; i < count; ++i) {
        const QByteArray &got = replies[i].received;
        ASSERT_GT(got.indexOf("\r\n\r\n"), 0) << i;
        EXPECT_EQ(got.mid(got.indexOf("\r\n\r\n") + 4), m_clip.mid(i)) << i;
    }
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
    for (int round = 0; round < 10000 && socket.state() == QAbstractSocket::ConnectedState; ++round) {
        QCoro::waitFor(qCoro(socket).waitForReadyRead(5000));
        received += socket.readAll();
    }
    received += socket.readAll();
    EXPECT_TRUE(received == header(m_clip.size()) + m_clip) << received.size();
}

} // namespace
} // namespace pealix::test
