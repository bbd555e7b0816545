#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QSslSocket>
#include <QString>
#include <QTcpServer>

namespace pealix::test {

// A Cast device on 127.0.0.1 for tests: a TLS server with a throw-away
// certificate that records every frame it receives and plays a script of
// replies. It frames and parses with code of its own, so a fault in the
// application's codec does not cancel itself out.
class FakeCastDevice : public QTcpServer
{
public:
    // What happens to a new TCP connection.
    enum class Accept { Handshake, CloseAtOnce, NeverHandshake };

    // One scripted reply: bytes to write, then optionally the end of the connection.
    struct Step
    {
        QByteArray bytes;
        enum class End { None, Close, Reset } end = End::None;
    };

    struct Frame
    {
        QString source, destination, namespace_, payload;
        qint64 protocolVersion = -1; // -1 marks a frame that is not a well-formed CastMessage
        qint64 payloadType = -1;
        qint64 atMs = 0; // since start()
    };

    // Listens on 127.0.0.1 and an ephemeral port. False when TLS material is missing.
    bool start();

    void setAccept(Accept accept) { m_accept = accept; }
    void setOnLaunch(const QList<Step> &steps) { m_onLaunch = steps; }
    void setOnLoad(const QList<Step> &steps) { m_onLoad = steps; }
    // After LAUNCH the device stops reading, as a wedged device would.
    void setStopReadingAfterLaunch(bool stop) { m_stopReading = stop; }

    static QByteArray frame(const QString &source, const QString &destination, const QString &namespace_,
                            const QString &payload);
    static Step message(const QString &source, const QString &namespace_, const QString &payload);
    static Step receiverStatus(const QString &payload);
    static Step ping(const QString &source = QStringLiteral("receiver-0"));
    static Step raw(const QByteArray &bytes, Step::End end = Step::End::None) { return {bytes, end}; }

    const QList<Frame> &received() const { return m_received; }
    QList<Frame> receivedIn(const QString &namespace_) const;
    int connectionCount() const { return m_connections; }
    bool peerClosed() const { return m_closedAtMs >= 0; }
    qint64 closedAtMs() const { return m_closedAtMs; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void onReadyRead(QSslSocket *socket);
    static void play(QSslSocket *socket, const QList<Step> &steps);

    Accept m_accept = Accept::Handshake;
    QList<Step> m_onLaunch, m_onLoad;
    QList<Frame> m_received;
    QByteArray m_inbound;
    QElapsedTimer m_clock;
    qint64 m_closedAtMs = -1;
    int m_connections = 0;
    bool m_stopReading = false;
};

} // namespace pealix::test
