#include "ClipServerFixture.h"
#include "RawClient.h"

#include "clipserver/ClipServerError.h"

#include <QElapsedTimer>

#include <QCoro/QCoroAbstractSocket>
#include <QCoro/QCoroThread>
#include <QTcpSocket>
#include <QThread>

namespace pealix::test {
namespace {

const QByteArray okHeader1000 = "HTTP/1.1 200 OK\r\nContent-Type: audio/mp4\r\nAccept-Ranges: bytes\r\n"
                                "Content-Length: 1000\r\nConnection: close\r\n\r\n";

QByteArray partialHeader(const char *contentRange, int length)
{
    return QByteArray("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes ") + contentRange +
           "\r\nContent-Type: audio/mp4\r\nAccept-Ranges: bytes\r\nContent-Length: " +
           QByteArray::number(length) + "\r\nConnection: close\r\n\r\n";
}

using ClipServerTest = ClipServerFixture;

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

TEST_F(ClipServerTest, AnswersRangesWithExactBytes)
{
    const quint16 port = serve(patternBytes(1000));
    struct Case
    {
        QByteArray request;
        QByteArray response;
    };
    const Case cases[] = {
        {"GET /clip.m4a HTTP/1.1\r\nHost: x\r\n\r\n", okHeader1000 + m_clip},
        {"GET /other/path?q=1 HTTP/1.0\r\n\r\n", okHeader1000 + m_clip},
        {"GET / HTTP/1.1\r\nRange: bytes=0-1\r\n\r\n", partialHeader("0-1/1000", 2) + m_clip.left(2)},
        {"GET / HTTP/1.1\r\nRange: bytes=0-\r\n\r\n", partialHeader("0-999/1000", 1000) + m_clip},
        {"GET / HTTP/1.1\r\nRange: bytes=-500\r\n\r\n", partialHeader("500-999/1000", 500) + m_clip.mid(500)},
        {"GET / HTTP/1.1\r\nrange:bytes=900-5000\r\n\r\n",
         partialHeader("900-999/1000", 100) + m_clip.mid(900)},
        {"GET / HTTP/1.1\r\nRange: bytes=100-50\r\n\r\n",
         partialHeader("100-100/1000", 1) + m_clip.mid(100, 1)},
        {"GET / HTTP/1.1\r\nRange: bytes=1000-\r\n\r\n",
         "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */1000\r\nContent-Length: "
         "0\r\nConnection: close\r\n\r\n"},
        {"GET / HTTP/1.1\r\n Range: bytes=0-1\r\n\r\n", okHeader1000 + m_clip},
        {"HEAD / HTTP/1.1\r\n\r\n", okHeader1000},
        {"head / HTTP/1.1\r\nRange: bytes=-10\r\n\r\n", partialHeader("990-999/1000", 10)},
        // An empty request line counts as GET.
        {"\r\n\r\n", okHeader1000 + m_clip},
        // Only the first of two requests is answered; the body behind a head is ignored.
        {"GET / HTTP/1.1\r\nRange: bytes=0-0\r\n\r\nGET / HTTP/1.1\r\n\r\n",
         partialHeader("0-0/1000", 1) + m_clip.left(1)},
        {"POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", okHeader1000 + m_clip},
    };
    for (const Case &c : cases) {
        const RawReply reply = exchange(port, c.request);
        EXPECT_TRUE(reply.closedByServer) << c.request.toStdString();
        EXPECT_EQ(reply.received, c.response) << c.request.toStdString();
    }

    // A head sent byte by byte is assembled.
    RawRequest trickled;
    for (char c : QByteArray("GET / HTTP/1.1\r\nRange: bytes=10-19\r\n\r\n"))
        trickled.pieces.append(QByteArray(1, c));
    EXPECT_EQ(exchange(port, trickled).received, partialHeader("10-19/1000", 10) + m_clip.mid(10, 10));

    const RawReply v6 = exchange(port, RawRequest{{"GET / HTTP/1.1\r\n\r\n"}, false, 5000, true});
    // A machine without IPv6 loopback refuses the connection; one with it gets the clip.
    EXPECT_TRUE((!v6.closedByServer && v6.received.isEmpty()) || v6.received == okHeader1000 + m_clip);

    const quint16 empty = serve(QByteArray());
    EXPECT_EQ(exchange(empty, "GET / HTTP/1.1\r\n\r\n").received,
              "HTTP/1.1 200 OK\r\nContent-Type: audio/mp4\r\nAccept-Ranges: bytes\r\n"
              "Content-Length: 0\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(exchange(empty, "GET / HTTP/1.1\r\nRange: bytes=0-\r\n\r\n").received,
              partialHeader("0-0/0", 0));
}

TEST_F(ClipServerTest, MalformedHeadsCloseSilentlyAndServingGoesOn)
{
    const quint16 port = serve(patternBytes(1000));
    struct Case
    {
        RawRequest request;
        const char *what;
    };
    const Case silent[] = {
        {{{QByteArray(70000, 'a')}}, "an endless head"},
        {{{"GET / HTTP/1.1\nRange: bytes=0-1\n\n"}, true}, "bare LF, then the client stops sending"},
        {{{"GET / HTTP/1.1\r\nHost: x\r\n"}, true}, "a head cut off"},
        {{{QByteArray()}, true}, "nothing at all"},
    };
    for (const Case &c : silent) {
        const RawReply reply = exchange(port, c.request);
        EXPECT_TRUE(reply.closedByServer) << c.what;
        EXPECT_TRUE(reply.received.isEmpty()) << c.what;
    }
    static const char binaryHead[] = "\xff\xfe\x00\x01 / HTTP/1.1\r\nRange: bytes=0-1\r\n\r\n";
    const QByteArray answered[] = {
        QByteArray::fromRawData(binaryHead, sizeof(binaryHead) - 1),
        "GET / HTTP/1.1\r\nRange: bytes=99999999999999999999999-1\r\n\r\n",
        "GET / HTTP/1.1\r\nRange: bytes=-9223372036854775808\r\n\r\n",
        "GET / HTTP/1.1\r\nRange: bytes=0-1,5-9,-3\r\n\r\n",
        QByteArray(60000, ' ') + "\r\n\r\n",
    };
    for (const QByteArray &request : answered) {
        const RawReply reply = exchange(port, request);
        EXPECT_TRUE(reply.closedByServer);
        EXPECT_TRUE(reply.received.startsWith("HTTP/1.1 20")) << reply.received.left(40).toStdString();
    }
    EXPECT_EQ(exchange(port, "GET / HTTP/1.1\r\n\r\n").received, okHeader1000 + m_clip);
}

TEST_F(ClipServerTest, StartFailsWithoutAClipAndStopEndsListening)
{
    ClipServer unstarted;
    const auto error = QCoro::waitFor(startError(&unstarted, m_dir.filePath(QStringLiteral("missing.m4a"))));
    ASSERT_TRUE(error.has_value()) << "start succeeded without a clip";
    EXPECT_FALSE(error->isEmpty());
    EXPECT_EQ(unstarted.port(), 0);

    const quint16 port = serve(patternBytes(1000));
    EXPECT_EQ(m_server->port(), port);
    m_server->stop();
    EXPECT_EQ(m_server->port(), 0);
    m_server->stop();
    EXPECT_TRUE(exchange(port, "GET / HTTP/1.1\r\n\r\n").received.isEmpty());
}

TEST_F(ClipServerTest, StalledAndTricklingClientsAreClosed)
{
    const auto limit = std::chrono::milliseconds(300);
    const quint16 port = serve(patternBytes(1000), limit);
    for (const QByteArray &sent : {QByteArray(), QByteArray("GET / HTTP/1.1\r\nHost")}) {
        QElapsedTimer clock;
        clock.start();
        const RawReply reply = exchange(port, RawRequest{{sent}, false, 10000});
        EXPECT_TRUE(reply.closedByServer) << "still open after 10 s";
        EXPECT_TRUE(reply.received.isEmpty());
        EXPECT_GE(clock.elapsed(), limit.count() - 20);
    }

    // 100 bytes at one per 100 ms would take 10 s; each byte is progress, yet
    // a head that never completes must not hold the connection that long.
    bool closed = false;
    runOffMainThread([&] {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(5000))
            return;
        for (int i = 0; i < 100 && socket.state() == QAbstractSocket::ConnectedState; ++i) {
            socket.write("a");
            socket.waitForBytesWritten(100);
            socket.waitForReadyRead(100);
        }
        closed = socket.state() != QAbstractSocket::ConnectedState;
    });
    EXPECT_TRUE(closed);
}

TEST_F(ClipServerTest, ServesTwoHundredParallelConnections)
{
    const quint16 port = serve(patternBytes(200000));
    constexpr int count = 200;
    std::vector<RawReply> replies(count);
    std::vector<std::unique_ptr<QThread>> threads;
    // Every client connects before any is answered in full, so the server
    // really holds them all at once.
    for (int i = 0; i < count; ++i) {
        const QByteArray head = i % 2
                                    ? QByteArray("GET / HTTP/1.1\r\n\r\n")
                                    : "GET / HTTP/1.1\r\nRange: bytes=" + QByteArray::number(i) + "-\r\n\r\n";
        threads.emplace_back(QThread::create([&replies, i, head, port] {
            replies[i] = rawExchange(port, RawRequest{{head}, false, 20000});
        }));
        threads.back()->start();
    }
    for (auto &thread : threads)
        QCoro::waitFor(qCoro(thread.get()).waitForFinished(std::chrono::seconds(60)));
    for (int i = 0; i < count; ++i) {
        const qsizetype from = i % 2 ? 0 : i;
        const QByteArray &got = replies[i].received;
        const qsizetype headerEnd = got.indexOf("\r\n\r\n");
        ASSERT_GT(headerEnd, 0) << i;
        EXPECT_EQ(got.mid(headerEnd + 4), m_clip.mid(from)) << i;
    }
}

TEST_F(ClipServerTest, ResponseInFlightOutlivesStopAndServer)
{
    // Larger than what the kernel buffers on both ends can hold, so the
    // response is still being written when the server goes away.
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
    const qsizetype headerEnd = received.indexOf("\r\n\r\n");
    ASSERT_GT(headerEnd, 0);
    EXPECT_TRUE(received.left(headerEnd).contains("Content-Length: 33554432"));
    EXPECT_EQ(received.size() - headerEnd - 4, m_clip.size());
    EXPECT_TRUE(received.mid(headerEnd + 4) == m_clip);
}

} // namespace
} // namespace pealix::test
