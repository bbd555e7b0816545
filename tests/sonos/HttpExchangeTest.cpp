// Answers from devices are bounded by what arrives, not by what they declare:
// seen from the sending peer's side.
#include "sonos/SonosControl.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <QCoro/QCoroTask>
#include <gtest/gtest.h>

using namespace pealix;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Answers every request with a chunked body that never ends on its own: it
// stops after `limit` bytes or when the client goes away, and counts what it
// got out.
class EndlessChunkedServer
{
public:
    explicit EndlessChunkedServer(qint64 limit) : m_limit(limit)
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                if (!socket->readAll().contains("\r\n\r\n") || m_started)
                    return;
                m_started = true;
                socket->write(
                    "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nTransfer-Encoding: chunked\r\n\r\n");
                feed(socket);
            });
            QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket](qint64 bytes) {
                sent += bytes;
                feed(socket);
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this] { clientLeft = true; });
        });
        m_server.listen(QHostAddress(u"127.0.0.4"_s));
    }

    quint16 port() const { return m_server.serverPort(); }

    qint64 sent = 0;
    bool clientLeft = false;

private:
    void feed(QTcpSocket *socket)
    {
        static const QByteArray chunk = "10000\r\n" + QByteArray(0x10000, '<') + "\r\n";
        while (socket->state() == QAbstractSocket::ConnectedState &&
               socket->bytesToWrite() < 4 * chunk.size() && m_queued < m_limit) {
            socket->write(chunk);
            m_queued += chunk.size();
        }
    }

    QTcpServer m_server;
    qint64 m_limit;
    qint64 m_queued = 0;
    bool m_started = false;
};

} // namespace

TEST(HttpExchangeTest, AChunkedAnswerIsHeldToItsCap)
{
    // What may sit in the socket buffers of both ends beyond what the client took.
    constexpr qint64 kKernelSlack = 12LL << 20;
    const SonosControl control(sonos::HttpLimits{2000ms, 20000ms});

    EndlessChunkedServer soapPeer(256LL << 20);
    const Speaker speaker(u"sonos:E"_s, SpeakerKind::Sonos, u"E"_s, u"127.0.0.4"_s, soapPeer.port(), u"E"_s);
    const std::optional<QString> answer = QCoro::waitFor(control.soap(
        u"GetMediaInfo"_s, SonosControl::avTransport, QLatin1String(SonosControl::kAvTransportPath),
        speaker.host, speaker.port, sonos::SoapArguments{{u"InstanceID"_s, u"0"_s}}));
    EXPECT_FALSE(answer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return soapPeer.clientLeft; }, 5000));
    EXPECT_LT(soapPeer.sent, (4LL << 20) + kKernelSlack);
}
