#pragma once

#include "cast/CastFrameReader.h"
#include "cast/CastProtocol.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPointer>
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
template <typename T> std::optional<T> finish(QCoro::Task<T> task)
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

// A Cast device for tests: a TLS server with a throw-away certificate that
// records every frame it receives and answers CONNECT, LAUNCH and LOAD with
// scripted bytes. With `fetchOnLoad` it also acts as the media receiver does on
// LOAD: it fetches the clip over HTTP (two bytes first, then the rest), reports
// PLAYING once it has all of it, and IDLE with idleReason FINISHED after
// `playMs`; a clip it cannot fetch gets LOAD_FAILED. It shares the
// application's codec, which its own tests pin down byte for byte and the
// castv2 peer reads independently.
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

    // Bytes to write `afterMs` after the step before, then what becomes of the connection.
    struct Step
    {
        QByteArray bytes;
        enum End { Open, Reset, StopReading } end = Open; // StopReading: as a wedged device would
        int afterMs = 0;
    };

    // A frame to the sender in the namespace "urn:x-cast:com.google.cast." + `ns`.
    static Step message(const QString &ns, const QString &payload, const QString &source = u"receiver-0"_s)
    {
        return {CastProtocol::encode(source, u"sender-0"_s, "urn:x-cast:com.google.cast." + ns, payload)};
    }
    // A receiver status listing `applications` (a JSON array).
    static Step receiverStatus(const QString &applications, int afterMs = 0)
    {
        Step step =
            message(u"receiver"_s, uR"({"type":"RECEIVER_STATUS","requestId":0,"status":{"applications":)"_s +
                                       applications + uR"(,"volume":{"level":0.5,"muted":false}}})"_s);
        step.afterMs = afterMs;
        return step;
    }
    // Application elements as a device reports them.
    static QString mediaReceiverApp(const QString &transportId)
    {
        return uR"({"appId":"CC1AD845","displayName":"Default Media Receiver","isIdleScreen":false,)"
               uR"("sessionId":"s-%1","statusText":"Ready To Cast","transportId":"%1"})"_s.arg(transportId);
    }
    static QString idleScreenApp(const QString &transportId)
    {
        return uR"({"appId":"E8C28D3C","displayName":"Backdrop","isIdleScreen":true,)"
               uR"("sessionId":"s-%1","statusText":"","transportId":"%1"})"_s.arg(transportId);
    }

    // Listens on an ephemeral port; false without TLS material.
    bool start(const QHostAddress &address = QHostAddress::LocalHost)
    {
        return !tlsDir().isEmpty() && listen(address, 0);
    }
    bool peerClosed() const { return closedAtMs >= 0; }

    Accept accept = Accept::Handshake;
    QList<Step> onConnect, onLaunch, onLoad;    // CONNECT meaning the platform's, not an application's
    QStringList received;                       // one line per frame, as `sent` writes it
    qint64 lastFrameAtMs = -1, closedAtMs = -1; // QDeadlineTimer::current() milliseconds
    int connections = 0;

    // The media receiver's side.
    struct Fetch
    {
        QByteArray range;        // the Range header sent
        int status = 0;          // the HTTP status, 0 when no response came
        QByteArray contentRange; // as the server sent it
        QByteArray body;
    };
    bool fetchOnLoad = false;
    int playMs = 300;
    QList<Fetch> fetches;
    QString playerState = u"IDLE"_s, idleReason; // the media session's state, as last reported or about to be

    // All the clip's bytes the device received, in order.
    QByteArray fetchedBytes() const
    {
        QByteArray all;
        for (const Fetch &fetch : fetches)
            all += fetch.body;
        return all;
    }

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
        connect(socket, &QSslSocket::readyRead, this,
                [this, socket, reader = CastFrameReader()]() mutable { onReadyRead(socket, reader); });
        socket->startServerEncryption();
    }

private:
    static constexpr auto mediaNamespace = "urn:x-cast:com.google.cast.media";

    void onReadyRead(QSslSocket *socket, CastFrameReader &reader)
    {
        reader.append(socket->readAll());
        while (const std::optional<QByteArray> body = reader.takeFrame()) {
            const CastProtocol::Message m = CastProtocol::decode(*body);
            received << m.source + ' ' + m.destination + ' ' + m.namespace_ + ' ' + m.payload;
            lastFrameAtMs = QDeadlineTimer::current().deadline();
            const bool isLoad = m.payload.contains(uR"("type":"LOAD")"_s);
            if (isLoad)
                runSteps(socket, onLoad);
            else if (m.payload.contains(uR"("type":"LAUNCH")"_s))
                runSteps(socket, onLaunch);
            else if (m.destination == u"receiver-0"_s && m.payload.contains(uR"("type":"CONNECT")"_s))
                runSteps(socket, onConnect);
            if (socket->state() != QAbstractSocket::ConnectedState)
                return;
            if (isLoad && fetchOnLoad)
                loadMedia(socket, m);
        }
    }

    void runSteps(QPointer<QSslSocket> socket, QList<Step> steps)
    {
        while (socket && !steps.isEmpty()) {
            if (const int delay = std::exchange(steps.first().afterMs, 0); delay > 0) {
                QTimer::singleShot(delay, socket, [this, socket, steps] { runSteps(socket, steps); });
                return;
            }
            const Step step = steps.takeFirst();
            socket->write(step.bytes);
            if (step.end == Step::Reset) {
                socket->flush();
                return socket->abort();
            }
            if (step.end == Step::StopReading) {
                socket->setReadBufferSize(1);
                disconnect(socket, &QSslSocket::readyRead, nullptr, nullptr);
            }
        }
    }

    // Media messages come from the receiver application (the LOAD's destination).
    void report(const QPointer<QSslSocket> &socket, const QString &app, const QString &payload)
    {
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            socket->write(CastProtocol::encode(app, u"sender-0"_s, QLatin1String(mediaNamespace), payload));
    }
    void reportState(const QPointer<QSslSocket> &socket, const QString &app, qint64 requestId, QString state,
                     QString reason = {})
    {
        playerState = std::move(state);
        idleReason = std::move(reason);
        const QString extra = idleReason.isEmpty() ? QString() : uR"(,"idleReason":")"_s + idleReason + u'"';
        report(
            socket, app,
            uR"({"type":"MEDIA_STATUS","requestId":%1,"status":[{"mediaSessionId":1,"playerState":"%2"%3}]})"_s
                .arg(requestId)
                .arg(playerState, extra));
    }

    void loadMedia(QPointer<QSslSocket> socket, const CastProtocol::Message &load)
    {
        const QJsonObject request = QJsonDocument::fromJson(load.payload.toUtf8()).object();
        const qint64 requestId = request.value(u"requestId"_s).toInteger();
        const QUrl url(request.value(u"media"_s).toObject().value(u"contentId"_s).toString());
        playerState = u"BUFFERING"_s;
        idleReason.clear();
        // The first two bytes tell a receiver whether ranges work and how long the clip is.
        fetch(socket, load.destination, requestId, url, 0);
    }

    void fetch(QPointer<QSslSocket> socket, QString app, qint64 requestId, QUrl url, qint64 offset)
    {
        const QByteArray range = offset == 0 ? "bytes=0-1" : "bytes=" + QByteArray::number(offset) + '-';
        network.setProxy(QNetworkProxy::NoProxy);
        QNetworkRequest request(url);
        request.setRawHeader("Range", range);
        request.setTransferTimeout(5000);
        QNetworkReply *reply = network.get(request);
        connect(reply, &QNetworkReply::finished, this, [=, this] {
            reply->deleteLater();
            const Fetch got{range, reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                            reply->rawHeader("Content-Range"), reply->readAll()};
            fetches << got;
            // "bytes 0-1/1234": the clip's length is after the slash.
            const qint64 total = got.status == 200 ? got.body.size()
                                 : got.status == 206
                                     ? got.contentRange.mid(got.contentRange.indexOf('/') + 1).toLongLong()
                                     : -1;
            const qint64 have = got.status == 200 ? total : offset + got.body.size();
            if (total <= 0 || have > total || (have < total && got.body.isEmpty())) {
                reportState(socket, app, 0, u"IDLE"_s, u"ERROR"_s);
                return report(socket, app, uR"({"type":"LOAD_FAILED","requestId":%1})"_s.arg(requestId));
            }
            if (have < total)
                return fetch(socket, app, requestId, url, have);
            reportState(socket, app, requestId, u"PLAYING"_s);
            QTimer::singleShot(
                playMs, this, [this, socket, app] { reportState(socket, app, 0, u"IDLE"_s, u"FINISHED"_s); });
        });
    }

    QNetworkAccessManager network;
};

} // namespace pealix::test
