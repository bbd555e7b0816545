#pragma once

#include "cast/CastFrameReader.h"
#include "cast/CastProtocol.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDeadlineTimer>
#include <QProcess>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <optional>

namespace pealix::test {

using namespace Qt::StringLiterals;

// Runs the event loop until `done()` holds or ten seconds have passed; true when it held.
// Every wake-up is an event (socket, timer), never a fixed sleep.
template <typename Condition> bool waitUntil(Condition done)
{
    QTimer watchdog;
    watchdog.setSingleShot(true);
    watchdog.start(10000);
    while (!done() && watchdog.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// The task's result when it finished within ten seconds.
inline std::optional<bool> finish(QCoro::Task<bool> task)
{
    return waitUntil([&task] { return task.isReady(); }) ? std::optional(QCoro::waitFor(task)) : std::nullopt;
}

// A frame from the sender as both test devices write it down, and the ones a session sends.
inline QString sent(const QString &to, const QString &ns, const QString &payload)
{
    return "sender-0 " + to + " urn:x-cast:com.google.cast." + ns + ' ' + payload;
}
inline QString connectTo(const QString &to)
{
    return sent(to, u"tp.connection"_s, uR"({"type":"CONNECT"})"_s);
}
inline QString load(const QString &to, const QString &url)
{
    return sent(to, u"media"_s,
                uR"({"type":"LOAD","requestId":2,"autoplay":true,"media":{"contentId":")"_s + url +
                    uR"(","streamType":"BUFFERED","contentType":"audio/mp4"}})"_s);
}
inline const QString launch =
    sent(u"receiver-0"_s, u"receiver"_s, uR"({"type":"LAUNCH","appId":"CC1AD845","requestId":1})"_s);
inline const QString pong = sent(u"receiver-0"_s, u"tp.heartbeat"_s, uR"({"type":"PONG"})"_s);

// A Cast device on 127.0.0.1 for tests: a TLS server with a throw-away
// certificate that records every frame it receives and answers LAUNCH and LOAD
// with scripted bytes. It shares the application's codec, which its own tests
// pin down byte for byte and the castv2 peer reads independently.
class FakeCastDevice : public QTcpServer
{
public:
    // A folder holding a self-signed "device.crt" and its "device.key", made once per process
    // with openssl and kept as long as the process; empty when that failed.
    static QString tlsDir()
    {
        static QTemporaryDir dir;
        // An EC key: generated in milliseconds, unlike RSA.
        static const int status = QProcess::execute(
            u"openssl"_s, u"req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "
                          "/CN=pealix-test-device -keyout %1/device.key -out %1/device.crt"_s.arg(dir.path())
                              .split(' '));
        return status == 0 ? dir.path() : QString();
    }

    // What happens to a new TCP connection.
    enum class Accept { Handshake, CloseAtOnce, NeverHandshake };

    // Bytes to write, then what becomes of the connection.
    struct Step
    {
        QByteArray bytes;
        enum End { Open, Reset, StopReading } end = Open; // StopReading: as a wedged device would
    };

    // A frame to the sender in the namespace "urn:x-cast:com.google.cast." + `ns`.
    static Step message(const QString &ns, const QString &payload, const QString &source = u"receiver-0"_s)
    {
        return {CastProtocol::encode(source, u"sender-0"_s, "urn:x-cast:com.google.cast." + ns, payload)};
    }

    // Listens on an ephemeral port; false without TLS material.
    bool start() { return !tlsDir().isEmpty() && listen(QHostAddress::LocalHost, 0); }
    bool peerClosed() const { return closedAtMs >= 0; }

    Accept accept = Accept::Handshake;
    QList<Step> onLaunch, onLoad;
    QStringList received;                       // one line per frame, as `sent` writes it
    qint64 lastFrameAtMs = -1, closedAtMs = -1; // QDeadlineTimer::current() milliseconds
    int connections = 0;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        ++connections;
        auto *socket = new QSslSocket(this);
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
            closedAtMs = QDeadlineTimer::current().deadline();
            socket->deleteLater();
        });
        socket->setSocketDescriptor(descriptor);
        if (accept == Accept::CloseAtOnce)
            return socket->abort();
        if (accept == Accept::NeverHandshake)
            return; // the TCP connection stays open and silent
        socket->setLocalCertificate(tlsDir() + u"/device.crt"_s);
        socket->setPrivateKey(tlsDir() + u"/device.key"_s, QSsl::Ec);
        connect(socket, &QSslSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        socket->startServerEncryption();
    }

private:
    void onReadyRead(QSslSocket *socket)
    {
        reader.append(socket->readAll());
        while (const std::optional<QByteArray> body = reader.takeFrame()) {
            const CastProtocol::Message m = CastProtocol::decode(*body);
            received << m.source + ' ' + m.destination + ' ' + m.namespace_ + ' ' + m.payload;
            lastFrameAtMs = QDeadlineTimer::current().deadline();
            const bool isLoad = m.payload.contains(uR"("type":"LOAD")"_s);
            for (const auto &[bytes, end] : isLoad                                        ? onLoad
                                            : m.payload.contains(uR"("type":"LAUNCH")"_s) ? onLaunch
                                                                                          : QList<Step>()) {
                socket->write(bytes);
                if (end == Step::Reset) {
                    socket->flush();
                    return socket->abort();
                }
                if (end == Step::StopReading) {
                    socket->setReadBufferSize(1);
                    disconnect(socket, &QSslSocket::readyRead, nullptr, nullptr);
                }
            }
        }
    }

    CastFrameReader reader;
};

} // namespace pealix::test
