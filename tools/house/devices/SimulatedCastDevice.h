#pragma once

#include "cast/CastFrameReader.h"
#include "cast/CastProtocol.h"
#include "house/devices/TlsMaterial.h"

#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QSslSocket>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace pealix::house {

using namespace Qt::StringLiterals;

// A Cast device: a TLS server with a self-signed certificate that records every
// frame it receives. It answers CONNECT, LAUNCH and LOAD either with scripted
// bytes or as a receiver does: LAUNCH brings up the default media receiver (or,
// for a device that never launches, leaves it on its idle screen), and with
// `fetchOnLoad` LOAD fetches the clip over HTTP (two bytes first, then the
// rest), reports PLAYING once it has all of it, and IDLE with idleReason
// FINISHED when the clip's own length has passed; a clip it cannot fetch or
// read gets LOAD_FAILED. It shares the application's codec, which its own tests
// pin down byte for byte and the castv2 peer reads independently.
class SimulatedCastDevice : public QTcpServer
{
public:
    // What happens to a new TCP connection.
    enum class Accept { Handshake, CloseAtOnce, NeverHandshake };
    // How LAUNCH is answered: with `onLaunch` as it is, by starting the media
    // receiver, or by staying on the idle screen.
    enum class Launch { Scripted, MediaReceiver, Never };

    // Bytes to write `afterMs` after the step before, then what becomes of the connection.
    struct Step
    {
        QByteArray bytes;
        enum End { Open, Reset, StopReading } end = Open; // StopReading: as a wedged device would
        int afterMs = 0;
    };

    // The media receiver's side.
    struct Fetch
    {
        QByteArray range;        // the Range header sent
        int status = 0;          // the HTTP status, 0 when no response came
        QByteArray contentRange; // as the server sent it
        QByteArray body;
        std::optional<std::chrono::steady_clock::time_point> firstBodyByte;
    };

    struct Event
    {
        enum class Kind {
            Connected,  // a sender opened a connection from `peer`
            Closed,     // that connection ended
            Received,   // a frame of `type` in `namespace_` to `destination`
            Launched,   // the media receiver runs under transport id `transportId`
            StayedIdle, // a LAUNCH left the device on its idle screen
            Fetched,    // one request of a clip fetch ended: `fetch`, `url`
            Media, // the session is now `state` (`idleReason`) with `bytes` of `url`; `length` played or to
                   // play
            LoadFailed, // LOAD of `url` answered with LOAD_FAILED: `reason`
        };
        Kind kind = Kind::Received;
        QString peer{}, type{}, namespace_{}, destination{}, transportId{}, url{}, state{}, idleReason{},
            reason{};
        Fetch fetch{};
        std::chrono::milliseconds length{0};
        qint64 bytes = 0; // Media: the clip's bytes the device holds
    };

    // A frame to the sender in the namespace "urn:x-cast:com.google.cast." + `ns`.
    static Step message(const QString &ns, const QString &payload, const QString &source = u"receiver-0"_s);
    // A receiver status listing `applications` (a JSON array).
    static Step receiverStatus(const QString &applications, int afterMs = 0, qint64 requestId = 0);
    // Application elements as a device reports them.
    static QString mediaReceiverApp(const QString &transportId);
    static QString idleScreenApp(const QString &transportId);

    // Listens with `tls` on `port` (ephemeral when 0); false without TLS material.
    bool start(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    bool peerClosed() const { return closedAtMs >= 0; }

    TlsMaterial tls;
    Accept accept = Accept::Handshake;
    Launch launch = Launch::Scripted;
    QList<Step> onConnect, onLaunch, onLoad;    // CONNECT meaning the platform's, not an application's
    QStringList received;                       // one line per frame: source destination namespace payload
    qint64 lastFrameAtMs = -1, closedAtMs = -1; // QDeadlineTimer::current() milliseconds
    int connections = 0;

    bool fetchOnLoad = false;
    bool refuseLoad = false; // LOAD_FAILED at once, nothing fetched
    // How long a clip plays in milliseconds; unset, the length its own header declares.
    std::optional<int> playMs;
    // A device pings its senders now and then; unset, it never does.
    std::optional<std::chrono::milliseconds> pingInterval;
    QList<Fetch> fetches;
    QString playerState = u"IDLE"_s, idleReason; // the media session's state, as last reported or about to be
    std::function<void(const Event &)> onEvent;
    // The address the device fetches clips from; the system's choice when null.
    QHostAddress fetchFrom;

    // All the clip's bytes the device received, in order.
    QByteArray fetchedBytes() const;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Load;

    void onReadyRead(QSslSocket *socket, CastFrameReader &reader);
    void runSteps(QPointer<QSslSocket> socket, QList<Step> steps);
    void answerLaunch(QSslSocket *socket, const CastProtocol::Message &launchMessage);
    void report(const QPointer<QSslSocket> &socket, const QString &app, const QString &payload);
    void reportState(const std::shared_ptr<Load> &load, qint64 requestId, QString state, QString reason = {});
    void loadMedia(QPointer<QSslSocket> socket, const CastProtocol::Message &load);
    void fetch(const std::shared_ptr<Load> &load, qint64 offset);
    void failLoad(const std::shared_ptr<Load> &load, const QString &reason);
    void emitEvent(Event event) const;

    int m_transports = 0;
};

} // namespace pealix::house
