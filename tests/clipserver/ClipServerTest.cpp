#include "clipserver/ClipServer.h"
#include "clipserver/ClipServerError.h"
#include "net/WhenAll.h"
#include "support/TestEnvironment.h"

#include <QCoro/QCoroAbstractSocket>
#include <QCoro/QCoroProcess>
#include <QCoro/QCoroTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/socket.h>

namespace pealix::test {
namespace {

using namespace Qt::StringLiterals;

struct RawRequest
{
    QByteArray bytes;
    // When set, written a byte at a time, Nagle off, this far apart; then the server must
    // already have closed.
    int trickleMs = -1;
    bool halfClose = false; // then shut our sending side, as a client that has said all it will
    QHostAddress from = QHostAddress(QHostAddress::LocalHost); // any of 127.0.0.0/8
};

// What arrived before the server closed the connection; nothing when it did not
// close it within 10 s, or never accepted it.
QCoro::Task<std::optional<QByteArray>> rawExchange(quint16 port, RawRequest request)
{
    QTcpSocket socket;
    if (!socket.bind(request.from) || !co_await qCoro(socket).connectToHost(QHostAddress::LocalHost, port))
        co_return std::nullopt;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const qsizetype chunk = request.trickleMs < 0 ? request.bytes.size() : 1;
    for (qsizetype i = 0; i < request.bytes.size() && socket.state() == QAbstractSocket::ConnectedState;
         i += chunk) {
        socket.write(request.bytes.mid(i, chunk));
        co_await qCoro(socket).waitForBytesWritten(10000);
        if (request.trickleMs > 0)
            co_await QCoro::sleepFor(std::chrono::milliseconds(request.trickleMs));
    }
    if (request.halfClose)
        ::shutdown(int(socket.socketDescriptor()), SHUT_WR);
    bool closed = socket.state() == QAbstractSocket::UnconnectedState;
    // A slow trickler has waited long enough; the others give the server time to close.
    if (!closed && request.trickleMs <= 0)
        closed = co_await qCoro(socket).waitForDisconnected(10000);
    co_return closed ? std::optional(socket.readAll()) : std::nullopt;
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

// Runs a program while the event loop keeps serving the clip; its standard output
// when it exits with 0, nothing otherwise.
std::optional<QByteArray> run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    // ffmpeg honours proxy settings; the clip must come straight from loopback.
    qputenv("no_proxy", "*");
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel); // into the test log
    process.start(program, arguments);
    // An unfinished process is killed when `process` goes.
    if (!QCoro::waitFor(qCoro(process).waitForFinished(30000)) ||
        process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

// A clip file and a started server publishing it.
class ClipServerTest : public ::testing::Test
{
protected:
    // Bytes that differ from their neighbours, so any misplaced slice shows.
    static QByteArray patternBytes(qsizetype size)
    {
        QByteArray bytes(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = char((i * 7 + i / 251) % 251);
        return bytes;
    }

    // The full header of a 200 answer, or of a 206 one when `range` ("first-last/total") is given.
    static QByteArray header(qint64 length, const QByteArray &range = {})
    {
        return (range.isEmpty() ? "HTTP/1.1 200 OK\r\n"_ba
                                : "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + range + "\r\n") +
               "Content-Type: audio/mp4\r\nAccept-Ranges: bytes\r\nContent-Length: " +
               QByteArray::number(length) + "\r\nConnection: close\r\n\r\n";
    }

    // Starts a server on a file of `bytes` and returns its port (0, with a failure recorded, if it did not
    // start).
    quint16 serve(const QByteArray &bytes, std::chrono::milliseconds idleLimit = ClipServer::defaultIdleLimit)
    {
        m_clip = bytes;
        QFile file(m_dir.filePath(u"clip.m4a"_s));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush());
        m_server = std::make_unique<ClipServer>(idleLimit);
        const quint16 port = QCoro::waitFor(m_server->start(file.fileName()));
        EXPECT_NE(port, 0);
        return port;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ClipServer> m_server;
    QByteArray m_clip;
};

TEST_F(ClipServerTest, AnswersEachConnectionExactlyAndOutlivesBadHeads)
{
    const quint16 port = serve(patternBytes(1000));
    const QByteArray whole = header(1000) + m_clip;
    const std::pair<RawRequest, QByteArray> cases[] = {
        // Closed without a word, and serving goes on.
        {{QByteArray(70000, 'a')}, {}},                           // no end of head within 64 KiB
        {{"GET / HTTP/1.1\nRange: bytes=0-1\n\n", -1, true}, {}}, // bare LF never ends a head
        {{"GET / HTTP/1.1\r\nHost: x\r\n", -1, true}, {}},
        // Every method and path gets the clip; a request body is ignored.
        {{"POST /other/path?q=1 HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello"}, whole},
        {{"GET / HTTP/1.1\r\nRange: bytes=0-1\r\n\r\n"}, header(2, "0-1/1000") + m_clip.left(2)},
        {{"GET / HTTP/1.1\r\nRange: bytes=-500\r\n\r\n"}, header(500, "500-999/1000") + m_clip.mid(500)},
        {{"GET / HTTP/1.1\r\nRange: bytes=1000-\r\n\r\n"},
         "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */1000\r\nContent-Length: 0\r\n"
         "Connection: close\r\n\r\n"},
        {{"head / HTTP/1.1\r\nRange: bytes=-10\r\n\r\n"}, header(10, "990-999/1000")},
        // An empty request line counts as GET, and a long head within the limit is fine.
        {{QByteArray(60000, ' ') + "\r\n\r\n"}, whole},
        // The first Range header counts, and one request per connection: the second is never answered.
        {{"GET / HTTP/1.1\r\nrange:bytes=3-4\r\nRange: bytes=0-\r\n\r\nGET / HTTP/1.1\r\n\r\n"},
         header(2, "3-4/1000") + m_clip.mid(3, 2)},
        // Undecodable bytes spoil only the line they stand in.
        {{"\xff\xfe\x00\x01 /\xc3 HTTP/1.1\r\nX: \xc3\r\nRange: bytes=5-9\r\n\r\n"_ba},
         header(5, "5-9/1000") + m_clip.mid(5, 5)},
        {{"GET / HTTP/1.1\r\nRange: bytes=10-19\r\n\r\n", 0}, header(10, "10-19/1000") + m_clip.mid(10, 10)},
    };
    for (const auto &[request, response] : cases)
        EXPECT_EQ(QCoro::waitFor(rawExchange(port, request)), response)
            << request.bytes.left(60).toStdString();

    const quint16 empty = serve(QByteArray());
    EXPECT_EQ(QCoro::waitFor(rawExchange(empty, {"GET / HTTP/1.1\r\nRange: bytes=0-\r\n\r\n"})),
              header(0, "0-0/0"));
}

TEST_F(ClipServerTest, StalledAndTricklingClientsAreClosed)
{
    const auto limit = std::chrono::milliseconds(300);
    const quint16 port = serve(patternBytes(1000), limit);
    // A byte every 100 ms is progress, yet a head that never ends must not
    // hold the connection for the 10 s those 100 bytes take.
    for (const RawRequest &request : {RawRequest{{}}, RawRequest{QByteArray(100, 'a'), 100}}) {
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(QCoro::waitFor(rawExchange(port, request)), QByteArray()) << request.trickleMs;
        EXPECT_GE(clock.elapsed(), limit.count() - 20);
    }
}

TEST_F(ClipServerTest, ServesTwoHundredParallelConnections)
{
    const quint16 port = serve(patternBytes(200000));
    // Every client connects before any is answered in full, so the server really holds them all at once;
    // each from an address of its own, as the speakers of a large house.
    std::vector<QCoro::Task<std::optional<QByteArray>>> clients;
    for (int i = 0; i < 200; ++i)
        clients.push_back(
            rawExchange(port, {"GET / HTTP/1.1\r\nRange: bytes=" + QByteArray::number(i) + "-\r\n\r\n", -1,
                               false, QHostAddress(quint32(0x7f000100 + i + 1))}));
    const auto replies = QCoro::waitFor(net::whenAll(std::move(clients)));
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(replies[i], header(200000 - i, QByteArray::number(i) + "-199999/200000") + m_clip.mid(i))
            << i;
}

TEST_F(ClipServerTest, StartNeedsAClipAndStopEndsListeningButNotAResponseInFlight)
{
    ClipServer unstarted;
    const auto error = QCoro::waitFor(startError(&unstarted, m_dir.filePath(u"missing.m4a"_s)));
    EXPECT_FALSE(error.isEmpty()) << "start succeeded without a clip";

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
    EXPECT_EQ(m_server->port(), 0);
    m_server->stop();
    // Blocking is harmless here: a refused connection answers at once.
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_FALSE(probe.waitForConnected(5000)) << "still listening after stop";
    m_server.reset();
    socket.setReadBufferSize(0);
    QCoro::waitFor(qCoro(socket).waitForDisconnected(10000));
    received += socket.readAll();
    EXPECT_TRUE(received == header(m_clip.size()) + m_clip) << received.size();
}

TEST_F(ClipServerTest, FfmpegReadsTheClipAsSpeakersDo)
{
    QString missing;
    PEALIX_REQUIRE(havePrograms({u"ffmpeg"_s}, &missing), "missing " + missing.toStdString());
    // Three seconds of mono AAC with the index at the end, so a player
    // reading it over HTTP has to seek with byte ranges.
    const QString source = m_dir.filePath(u"source.m4a"_s);
    ASSERT_TRUE(run(u"ffmpeg"_s, {"-v", "error", "-f", "lavfi", "-i", "sine=duration=3", "-ac", "1", "-c:a",
                                  "aac", "-y", source}));
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString url = u"http://127.0.0.1:%1/clip.m4a"_s.arg(serve(file.readAll()));
    // Decoding over HTTP must give exactly the audio decoded from the file itself.
    const auto decode = [](const QString &input) {
        return run(u"ffmpeg"_s, {"-v", "error", "-i", input, "-f", "md5", "-"});
    };
    const std::optional<QByteArray> overHttp = decode(url);
    ASSERT_TRUE(overHttp && overHttp->startsWith("MD5="));
    EXPECT_EQ(overHttp, decode(source));
}

} // namespace
} // namespace pealix::test
