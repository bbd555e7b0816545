#include "ClipServerFixture.h"
#include "RawClient.h"

#include "clipserver/ClipServerError.h"

#include <QElapsedTimer>

#include <QCoro/QCoroAbstractSocket>
#include <QCoro/QCoroThread>
#include <QTcpSocket>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pealix::test {
namespace {

const QByteArray okHeader1000 = "HTTP/1.1 200 OK\r\nContent-Type: audio/mp4\r\nAccept-Ranges: bytes\r\n"
                                "Content-Length: 1000\r\nConnection: close\r\n\r\n";

QByteArray partialHeader(const char *contentRange, int length)
{
    return QByteArray("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes ") + contentRange
           + "\r\nContent-Type: audio/mp4\r\nAccept-Ranges: bytes\r\nContent-Length: "
           + QByteArray::number(length) + "\r\nConnection: close\r\n\r\n";
}

class ClipServerTest : public ClipServerFixture
{
};

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
    const QByteArray unsatisfiable = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */1000\r\n"
                                     "Content-Length: 0\r\nConnection: close\r\n\r\n";
    const Case cases[] = {
        {"GET /clip.m4a HTTP/1.1\r\nHost: x\r\n\r\n", okHeader1000 + m_clip},
        {"GET /other/path?q=1 HTTP/1.0\r\n\r\n", okHeader1000 + m_clip},
        {"GET / HTTP/1.1\r\nRange: bytes=0-1\r\n\r\n", partialHeader("0-1/1000", 2) + m_clip.left(2)},
        {"GET / HTTP/1.1\r\nRange: bytes=0-\r\n\r\n", partialHeader("0-999/1000", 1000) + m_clip},
        {"GET / HTTP/1.1\r\nRange: bytes=-500\r\n\r\n", partialHeader("500-999/1000", 500) + m_clip.mid(500)},
        {"GET / HTTP/1.1\r\nrange:bytes=900-5000\r\n\r\n", partialHeader("900-999/1000", 100) + m_clip.mid(900)},
        {"GET / HTTP/1.1\r\nRange: bytes=100-50\r\n\r\n", partialHeader("100-100/1000", 1) + m_clip.mid(100, 1)},
        {"GET / HTTP/1.1\r\nRange: bytes=1000-\r\n\r\n", unsatisfiable},
        {"GET / HTTP/1.1\r\nRange: bytes=5000-6000\r\n\r\n", unsatisfiable},
        {"GET / HTTP/1.1\r\n Range: bytes=0-1\r\n\r\n", okHeader1000 + m_clip},
        {"HEAD / HTTP/1.1\r\n\r\n", okHeader1000},
        {"head / HTTP/1.1\r\nRange: bytes=-10\r\n\r\n", partialHeader("990-999/1000", 10)},
        // An empty request line counts as GET.
        {"\r\n\r\n", okHeader1000 + m_clip},
        // Only the first of two requests is answered; the body behind a head is ignored.
        {"GET / HTTP/1.1\r\nRange: bytes=0-0\r\n\r\nGET / HTTP/1.1\r\n\r\n", partialHeader("0-0/1000", 1) + m_clip.left(1)},
        {"POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", okHeader1000 + m_clip},
    };
    for (const Case &c : cases) {
        const RawReply reply = exchange(port, c.request);
        EXPECT_TRUE(reply.closedByServer) << c.request.toStdString();
        EXPECT_EQ(reply.received, c.response) << c.request.toStdString();
    }
}

TEST_F(ClipServerTest, EmptyClip)
{
    const quint16 port = serve(QByteArray());
    EXPECT_EQ(exchange(port, "GET / HTTP/1.1\r\n\r\n").received,
              "HTTP/1.1 200 OK\r\nContent-Type: audio/mp4\r\nAccept-Ranges: bytes\r\n"
              "Content-Length: 0\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(exchange(port, "GET / HTTP/1.1\r\nRange: bytes=0-\r\n\r\n").received, partialHeader("0-0/0", 0));
}

TEST_F(ClipServerTest, AssemblesAHeadSentByteByByte)
{
    const quint16 port = serve(patternBytes(1000));
    const QByteArray head = "GET / HTTP/1.1\r\nRange: bytes=10-19\r\n\r\n";
    RawRequest request;
    for (char c : head)
        request.pieces.append(QByteArray(1, c));
    EXPECT_EQ(exchange(port, request).received, partialHeader("10-19/1000", 10) + m_clip.mid(10, 10));
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

TEST_F(ClipServerTest, ServesIpv4AndIpv6Loopback)
{
    const quint16 port = serve(patternBytes(1000));
    EXPECT_EQ(exchange(port, "GET / HTTP/1.1\r\n\r\n").received, okHeader1000 + m_clip);
    RawRequest v6{{"GET / HTTP/1.1\r\n\r\n"}};
    v6.ipv6 = true;
    const RawReply reply = exchange(port, v6);
    if (!reply.closedByServer && reply.received.isEmpty())
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    EXPECT_EQ(reply.received, okHeader1000 + m_clip);
}

TEST_F(ClipServerTest, StartFailsWhenTheClipCannotBeRead)
{
    ClipServer server;
    const std::optional<QString> error =
        QCoro::waitFor(startError(&server, m_dir.filePath(QStringLiteral("missing.m4a"))));
    ASSERT_TRUE(error.has_value()) << "start succeeded without a clip";
    EXPECT_FALSE(error->isEmpty());
    EXPECT_EQ(server.port(), 0);
}

TEST_F(ClipServerTest, StopEndsListeningAndIsRepeatable)
{
    const quint16 port = serve(patternBytes(1000));
    m_server->stop();
    EXPECT_EQ(m_server->port(), 0);
    m_server->stop();
    const RawReply reply = exchange(port, "GET / HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(reply.received.isEmpty());
}

TEST_F(ClipServerTest, IdleConnectionsAreClosed)
{
    using namespace std::chrono_literals;
    const auto limit = 300ms;
    const quint16 port = serve(patternBytes(1000), limit);
    for (const QByteArray &sent : {QByteArray(), QByteArray("GET / HTTP/1.1\r\nHost")}) {
        QElapsedTimer clock;
        clock.start();
        const RawReply reply = exchange(port, RawRequest{{sent}, false, 10000});
        EXPECT_TRUE(reply.closedByServer) << "still open after 10 s";
        EXPECT_TRUE(reply.received.isEmpty());
        EXPECT_GE(clock.elapsed(), limit.count() - 20);
    }
}

TEST_F(ClipServerTest, TricklingHeadIsClosedDespiteProgress)
{
    using namespace std::chrono_literals;
    const quint16 port = serve(patternBytes(1000), 300ms);
    bool closed = false;
    runOffMainThread([&] {
        // Feed one byte per poll round.
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
            ::close(fd);
            return;
        }
        // 100 bytes at one per 100 ms would take 10 s; each byte is progress.
        for (int i = 0; i < 100 && !closed; ++i) {
            if (::send(fd, "a", 1, MSG_NOSIGNAL) != 1) {
                closed = true;
                break;
            }
            pollfd watch{fd, POLLIN, 0};
            if (::poll(&watch, 1, 100) > 0) {
                char byte;
                closed = ::recv(fd, &byte, 1, 0) <= 0;
            }
        }
        ::close(fd);
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
        const QByteArray head = i % 2 ? QByteArray("GET / HTTP/1.1\r\n\r\n")
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
