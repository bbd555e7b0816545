#pragma once

#include "cast/CastFrameReader.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>

namespace pealix::test {

// A Cast device on 127.0.0.1 for tests: a TLS server with a throw-away
// certificate that records every frame it receives and answers LAUNCH and LOAD
// with scripted bytes. It shares the application's codec, which its own tests
// pin down byte for byte and the castv2 peer reads independently.
class FakeCastDevice : public QTcpServer
{
public:
    // A self-signed certificate and key made once per process with openssl, in a
    // temporary folder that lives as long as the process.
    struct Tls
    {
        QString certificatePath, keyPath;
        QSslCertificate certificate{};
        QSslKey key{};
        QString error{}; // empty when the pair is usable
    };
    static const Tls &tls();

    // What happens to a new TCP connection.
    enum class Accept { Handshake, CloseAtOnce, NeverHandshake };

    // Bytes to write, then what becomes of the connection.
    struct Step
    {
        QByteArray bytes;
        enum End { Open, Reset, StopReading } end = Open; // StopReading: as a wedged device would
    };

    // A frame to the sender in the namespace "urn:x-cast:com.google.cast." + `ns`.
    static Step message(const QString &ns, const QString &payload,
                        const QString &source = QStringLiteral("receiver-0"));

    // Listens on an ephemeral port; false without TLS material.
    bool start() { return tls().error.isEmpty() && listen(QHostAddress::LocalHost, 0); }
    bool peerClosed() const { return closedAtMs >= 0; }

    Accept accept = Accept::Handshake;
    QList<Step> onLaunch, onLoad;

    // One line per frame: destination, last part of the namespace, payload.
    QStringList received;
    qint64 lastFrameAtMs = -1, closedAtMs = -1; // QDeadlineTimer::current() milliseconds
    int connections = 0;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void onReadyRead(QSslSocket *socket);
    static void play(QSslSocket *socket, const QList<Step> &steps);

    CastFrameReader reader;
};

} // namespace pealix::test
