#include "house/devices/SimulatedCastDevice.h"

#include "house/devices/HttpFetch.h"
#include "house/devices/Mp4Duration.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace pealix::house {

namespace {

using namespace std::chrono;

constexpr auto kMediaNamespace = "urn:x-cast:com.google.cast.media";
constexpr auto kPrefix = "urn:x-cast:com.google.cast.";
const QByteArray kUserAgent = "Mozilla/5.0 (X11; Linux aarch64) AppleWebKit/537.36 (KHTML, like Gecko) "
                              "Chrome/114.0.0.0 Safari/537.36 CrKey/1.56.500000";

qint64 nowMs()
{
    return QDeadlineTimer::current().deadline();
}

} // namespace

// One LOAD being served: where its answers go and what has arrived of its clip.
struct SimulatedCastDevice::Load
{
    QPointer<QSslSocket> socket;
    QString app; // the receiver application the LOAD went to
    qint64 requestId = 0;
    QUrl url;
    QByteArray clip;
};

SimulatedCastDevice::Step SimulatedCastDevice::message(const QString &ns, const QString &payload,
                                                       const QString &source)
{
    return {CastProtocol::encode(source, u"sender-0"_s, QLatin1String(kPrefix) + ns, payload)};
}

SimulatedCastDevice::Step SimulatedCastDevice::receiverStatus(const QString &applications, int afterMs,
                                                              qint64 requestId)
{
    Step step =
        message(u"receiver"_s,
                uR"({"type":"RECEIVER_STATUS","requestId":%1,"status":{"applications":)"_s.arg(requestId) +
                    applications + uR"(,"volume":{"level":0.5,"muted":false}}})"_s);
    step.afterMs = afterMs;
    return step;
}

QString SimulatedCastDevice::mediaReceiverApp(const QString &transportId)
{
    return uR"({"appId":"CC1AD845","displayName":"Default Media Receiver","isIdleScreen":false,)"
           uR"("sessionId":"s-%1","statusText":"Ready To Cast","transportId":"%1"})"_s.arg(transportId);
}

QString SimulatedCastDevice::idleScreenApp(const QString &transportId)
{
    return uR"({"appId":"E8C28D3C","displayName":"Backdrop","isIdleScreen":true,)"
           uR"("sessionId":"s-%1","statusText":"","transportId":"%1"})"_s.arg(transportId);
}

bool SimulatedCastDevice::start(const QHostAddress &address, quint16 port)
{
    return !tls.isNull() && listen(address, port);
}

QByteArray SimulatedCastDevice::fetchedBytes() const
{
    QByteArray all;
    for (const Fetch &fetch : fetches)
        all += fetch.body;
    return all;
}

void SimulatedCastDevice::emitEvent(Event event) const
{
    if (onEvent)
        onEvent(event);
}

void SimulatedCastDevice::incomingConnection(qintptr descriptor)
{
    ++connections;
    auto *socket = new QSslSocket(this);
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
        closedAtMs = nowMs();
        emitEvent({.kind = Event::Kind::Closed, .peer = socket->peerAddress().toString()});
        socket->deleteLater();
    });
    socket->setSocketDescriptor(descriptor);
    emitEvent({.kind = Event::Kind::Connected, .peer = socket->peerAddress().toString()});
    if (accept == Accept::CloseAtOnce)
        return socket->abort();
    if (accept == Accept::NeverHandshake)
        return; // the TCP connection stays open and silent
    socket->setLocalCertificate(tls.certificate);
    socket->setPrivateKey(tls.key);
    connect(socket, &QSslSocket::readyRead, this,
            [this, socket, reader = CastFrameReader()]() mutable { onReadyRead(socket, reader); });
    if (pingInterval) {
        auto *pinger = new QTimer(socket);
        connect(pinger, &QTimer::timeout, socket, [socket] {
            if (socket->isEncrypted())
                socket->write(message(u"tp.heartbeat"_s, uR"({"type":"PING"})"_s).bytes);
        });
        pinger->start(*pingInterval);
    }
    socket->startServerEncryption();
}

void SimulatedCastDevice::onReadyRead(QSslSocket *socket, CastFrameReader &reader)
{
    reader.append(socket->readAll());
    while (const std::optional<QByteArray> body = reader.takeFrame()) {
        const CastProtocol::Message m = CastProtocol::decode(*body);
        received << m.source + ' ' + m.destination + ' ' + m.namespace_ + ' ' + m.payload;
        lastFrameAtMs = nowMs();
        const QString type = QJsonDocument::fromJson(m.payload.toUtf8()).object().value(u"type"_s).toString();
        emitEvent({.kind = Event::Kind::Received,
                   .type = type,
                   .namespace_ = m.namespace_.mid(QLatin1String(kPrefix).size()),
                   .destination = m.destination});
        const bool isLoad = m.payload.contains(uR"("type":"LOAD")"_s);
        if (isLoad)
            runSteps(socket, onLoad);
        else if (m.payload.contains(uR"("type":"LAUNCH")"_s))
            answerLaunch(socket, m);
        else if (m.destination == u"receiver-0"_s && m.payload.contains(uR"("type":"CONNECT")"_s))
            runSteps(socket, onConnect);
        if (socket->state() != QAbstractSocket::ConnectedState)
            return;
        if (isLoad && (fetchOnLoad || refuseLoad))
            loadMedia(socket, m);
    }
}

void SimulatedCastDevice::answerLaunch(QSslSocket *socket, const CastProtocol::Message &launchMessage)
{
    if (launch == Launch::Scripted)
        return runSteps(socket, onLaunch);
    const qint64 requestId =
        QJsonDocument::fromJson(launchMessage.payload.toUtf8()).object().value(u"requestId"_s).toInteger();
    const QString transportId = u"web-%1"_s.arg(++m_transports);
    if (launch == Launch::Never) {
        socket->write(receiverStatus(u"["_s + idleScreenApp(transportId) + u']', 0, requestId).bytes);
        return emitEvent({.kind = Event::Kind::StayedIdle});
    }
    socket->write(receiverStatus(u"["_s + mediaReceiverApp(transportId) + u']', 0, requestId).bytes);
    emitEvent({.kind = Event::Kind::Launched, .transportId = transportId});
}

void SimulatedCastDevice::runSteps(QPointer<QSslSocket> socket, QList<Step> steps)
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
void SimulatedCastDevice::report(const QPointer<QSslSocket> &socket, const QString &app,
                                 const QString &payload)
{
    if (socket && socket->state() == QAbstractSocket::ConnectedState)
        socket->write(CastProtocol::encode(app, u"sender-0"_s, QLatin1String(kMediaNamespace), payload));
}

void SimulatedCastDevice::reportState(const std::shared_ptr<Load> &load, qint64 requestId, QString state,
                                      QString reason)
{
    playerState = std::move(state);
    idleReason = std::move(reason);
    const QString extra = idleReason.isEmpty() ? QString() : uR"(,"idleReason":")"_s + idleReason + u'"';
    report(load->socket, load->app,
           uR"({"type":"MEDIA_STATUS","requestId":%1,"status":[{"mediaSessionId":1,"playerState":"%2"%3}]})"_s
               .arg(requestId)
               .arg(playerState, extra));
}

void SimulatedCastDevice::loadMedia(QPointer<QSslSocket> socket, const CastProtocol::Message &message)
{
    const QJsonObject request = QJsonDocument::fromJson(message.payload.toUtf8()).object();
    auto load = std::make_shared<Load>();
    load->socket = socket;
    load->app = message.destination;
    load->requestId = request.value(u"requestId"_s).toInteger();
    load->url = QUrl(request.value(u"media"_s).toObject().value(u"contentId"_s).toString());
    if (refuseLoad)
        return failLoad(load, u"refused"_s);
    playerState = u"BUFFERING"_s;
    idleReason.clear();
    // The first two bytes tell a receiver whether ranges work and how long the clip is.
    fetch(load, 0);
}

void SimulatedCastDevice::failLoad(const std::shared_ptr<Load> &load, const QString &reason)
{
    reportState(load, 0, u"IDLE"_s, u"ERROR"_s);
    report(load->socket, load->app, uR"({"type":"LOAD_FAILED","requestId":%1})"_s.arg(load->requestId));
    emitEvent({.kind = Event::Kind::LoadFailed, .url = load->url.toString(), .reason = reason});
}

void SimulatedCastDevice::fetch(const std::shared_ptr<Load> &load, qint64 offset)
{
    const QByteArray range = offset == 0 ? "bytes=0-1" : "bytes=" + QByteArray::number(offset) + '-';
    const HttpFetch::Request request{load->url, "GET", range, kUserAgent, fetchFrom};
    HttpFetch::start(this, request, [this, load, range, offset](const HttpFetch::Result &answer) {
        const Fetch got{range, answer.status, answer.contentRange, answer.body, answer.firstBodyByte};
        fetches << got;
        emitEvent({.kind = Event::Kind::Fetched, .url = load->url.toString(), .fetch = got});
        load->clip += got.body;
        // "bytes 0-1/1234": the clip's length is after the slash.
        const qint64 total = got.status == 200 ? got.body.size()
                             : got.status == 206
                                 ? got.contentRange.mid(got.contentRange.indexOf('/') + 1).toLongLong()
                                 : -1;
        const qint64 have = got.status == 200 ? total : offset + got.body.size();
        if (total <= 0 || have > total || (have < total && got.body.isEmpty()))
            return failLoad(load, u"the clip could not be fetched"_s);
        if (have < total)
            return fetch(load, have);
        std::optional<milliseconds> length;
        if (playMs)
            length = milliseconds(*playMs);
        if (!length) {
            const std::optional<double> seconds = mp4Duration(got.status == 200 ? got.body : load->clip);
            if (!seconds || *seconds < 0)
                return failLoad(load, u"the clip has no MPEG-4 header with a length"_s);
            length = milliseconds(qRound64(*seconds * 1000));
        }
        reportState(load, load->requestId, u"PLAYING"_s);
        emitEvent({.kind = Event::Kind::Media,
                   .url = load->url.toString(),
                   .state = playerState,
                   .length = *length,
                   .bytes = load->clip.size()});
        // A receiver plays on when its sender goes away.
        QTimer::singleShot(*length, this, [this, load, length] {
            reportState(load, 0, u"IDLE"_s, u"FINISHED"_s);
            emitEvent({.kind = Event::Kind::Media,
                       .url = load->url.toString(),
                       .state = playerState,
                       .idleReason = idleReason,
                       .length = *length,
                       .bytes = load->clip.size()});
        });
    });
}

} // namespace pealix::house
