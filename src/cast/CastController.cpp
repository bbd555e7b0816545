#include "cast/CastController.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QSslSocket>

#include <climits>
#include <cmath>

namespace pealix {

namespace {

const QString senderId = QStringLiteral("sender-0");
const QString platformReceiverId = QStringLiteral("receiver-0");
const QString connectionNamespace = QStringLiteral("urn:x-cast:com.google.cast.tp.connection");
const QString heartbeatNamespace = QStringLiteral("urn:x-cast:com.google.cast.tp.heartbeat");
const QString receiverNamespace = QStringLiteral("urn:x-cast:com.google.cast.receiver");
const QString mediaNamespace = QStringLiteral("urn:x-cast:com.google.cast.media");
const QString connectPayload = QStringLiteral(R"({"type":"CONNECT"})");
const QString pongPayload = QStringLiteral(R"({"type":"PONG"})");
const QString pingMarker = QStringLiteral(R"("PING")");
const QString mediaReceiverAppId = QStringLiteral("CC1AD845");
constexpr qint64 maxReceiveSize = 65536;
// Our own messages are tiny; this much unsent means the device stopped reading
// while it keeps sending (pings we answer), and the backlog would grow for ever.
constexpr qint64 maxUnsentBytes = 1024 * 1024;

// Milliseconds to hold a clip of `duration` seconds. A length that is not a
// number or below zero holds for the padding alone; the sum is capped at what a
// timer can wait.
std::chrono::milliseconds holdTime(double duration, std::chrono::milliseconds padding)
{
    const double clip = std::isfinite(duration) && duration > 0 ? duration * 1000.0 : 0.0;
    const double total = clip + double(padding.count());
    return std::chrono::milliseconds(qint64(std::min(total, double(INT_MAX))));
}

// Whether a receiver status's application element may be the media receiver we
// launched. A device on its idle screen reports that application (with a
// transport id of its own) before ours is up; a LOAD sent there is dropped.
// Elements without an "appId" count, as some peers leave it out.
bool mayBeMediaReceiver(const QJsonObject &application)
{
    if (application.value(QLatin1String("isIdleScreen")).toBool(false))
        return false;
    const QJsonValue appId = application.value(QLatin1String("appId"));
    return appId.isUndefined() || appId == QJsonValue(mediaReceiverAppId);
}

// The device's refusals of a LOAD, by message type.
bool isLoadRefusal(const QString &type)
{
    return type == QLatin1String("LOAD_FAILED") || type == QLatin1String("LOAD_CANCELLED") ||
           type == QLatin1String("INVALID_REQUEST");
}

// A media status entry saying the receiver has taken the media on.
bool reportsMediaUnderWay(const QJsonValue &status)
{
    const QJsonArray entries = status.toArray();
    for (const QJsonValue &entry : entries) {
        const QString state = entry.toObject().value(QLatin1String("playerState")).toString();
        if (state == QLatin1String("PLAYING") || state == QLatin1String("BUFFERING"))
            return true;
    }
    return false;
}

} // namespace

CastController::CastController(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("org.pealix.Pealix.cast.session"));
    m_prepareTimer.setSingleShot(true);
    // Coarse timers may fire a little early; these waits are promised to devices and callers.
    m_prepareTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_prepareTimer, &QTimer::timeout, this, [this] { completePrepare(m_transportID.has_value()); });
}

CastController::~CastController()
{
    // Whoever still awaits this controller resumes (from the event loop) with the
    // outcome so far instead of waiting for ever.
    completePrepare(m_transportID.has_value());
    endHold();
    if (m_conn) {
        m_conn->disconnect(this);
        m_conn->abort();
    }
}

QCoro::Task<bool> CastController::prepare(Speaker speaker)
{
    // One session per controller: a second call must not strand the first caller.
    if (m_prepareCalled)
        co_return false;
    m_prepareCalled = true;

    net::OneShot<bool> prepared;
    m_onPrepared = prepared;
    if (speaker.port <= 0 || speaker.port > 65535) {
        m_onPrepared.reset();
        co_return false;
    }

    auto *socket = new QSslSocket(this);
    // Devices present self-signed certificates; there is nothing to verify them against.
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    // Speakers are on the local network: a proxy from the environment (common on
    // company laptops) cannot reach them, or would see our traffic to them.
    socket->setProxy(QNetworkProxy::NoProxy);
    m_conn = socket;
    connect(socket, &QSslSocket::encrypted, this, &CastController::onEncrypted);
    connect(socket, &QSslSocket::readyRead, this, &CastController::onReadyRead);
    connect(socket, &QAbstractSocket::errorOccurred, this, &CastController::onConnectionEnded);
    connect(socket, &QAbstractSocket::disconnected, this, &CastController::onConnectionEnded);
    m_prepareTimer.start(m_timings.prepareTimeout);
    socket->connectToHostEncrypted(speaker.host, quint16(speaker.port));

    // Only the awaited value is used after this point: the controller may be gone.
    co_return co_await prepared;
}

bool CastController::isPrepared() const
{
    return m_conn && m_conn->state() == QAbstractSocket::ConnectedState && m_transportID.has_value();
}

QCoro::Task<DeviceReply> CastController::play(QString url, double duration)
{
    // One LOAD per session: a second play would strand the first one's caller.
    if (!isPrepared() || m_loadRequestID != 0)
        co_return DeviceReply::noAnswer();
    m_clipURL = url;
    m_loadRequestID = ++m_requestID;
    // The URL goes in as it is: the receiver sees exactly the address the clip server published.
    send(*m_transportID, mediaNamespace,
         QStringLiteral(R"({"type":"LOAD","requestId":)") + QString::number(m_requestID) +
             QStringLiteral(R"(,"autoplay":true,"media":{"contentId":")") + url +
             QStringLiteral(R"(","streamType":"BUFFERED","contentType":"audio/mp4"}})"));

    net::OneShot<DeviceReply> held;
    m_holdDone = held;
    QTimer::singleShot(holdTime(duration, m_timings.holdPadding), Qt::PreciseTimer, this,
                       &CastController::endHold);
    QPointer<CastController> self(this);
    // Only the awaited value is used after this point unless the controller still exists.
    const DeviceReply reply = co_await held;
    if (self)
        self->close();
    co_return reply;
}

void CastController::close()
{
    QMetaObject::invokeMethod(this, &CastController::teardown, Qt::QueuedConnection);
}

std::optional<QString> CastController::transportId(const QString &payload)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonValue status = document.object().value(QLatin1String("status"));
    if (!status.isObject())
        return std::nullopt;
    const QJsonValue applications = status.toObject().value(QLatin1String("applications"));
    if (!applications.isArray())
        return std::nullopt;
    const QJsonArray list = applications.toArray();
    for (const QJsonValue &element : list) {
        if (!element.isObject())
            return std::nullopt;
    }
    for (const QJsonValue &element : list) {
        const QJsonObject application = element.toObject();
        const QJsonValue id = application.value(QLatin1String("transportId"));
        if (id.isString() && mayBeMediaReceiver(application))
            return id.toString();
    }
    return std::nullopt;
}

void CastController::onEncrypted()
{
    // Small messages, each one waited for: unsent, Nagle's algorithm holds the
    // LOAD that follows the transport's CONNECT until the device's delayed
    // acknowledgement of it, some 40 ms on Linux.
    m_conn->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    send(platformReceiverId, connectionNamespace, connectPayload);
    ++m_requestID;
    send(platformReceiverId, receiverNamespace,
         QStringLiteral(R"({"type":"LAUNCH","appId":"CC1AD845","requestId":)") +
             QString::number(m_requestID) + QLatin1Char('}'));
}

void CastController::onReadyRead()
{
    // Bounded reads: the frame reader, not the socket, decides how much is held.
    while (m_conn && m_conn->bytesAvailable() > 0) {
        const QByteArray chunk = m_conn->read(maxReceiveSize);
        if (chunk.isEmpty())
            break;
        m_inbound.append(chunk);
        processInbound();
    }
}

void CastController::onConnectionEnded()
{
    completePrepare(m_transportID.has_value());
}

void CastController::processInbound()
{
    while (auto body = m_inbound.takeFrame()) {
        handleMessage(CastProtocol::decode(*body));
        if (!m_conn)
            return;
    }
    if (m_inbound.overflowed())
        dropConnection();
}

void CastController::handleMessage(const CastProtocol::Message &message)
{
    if (message.namespace_ == heartbeatNamespace && message.payload.contains(pingMarker)) {
        send(platformReceiverId, heartbeatNamespace, pongPayload);
        return;
    }
    if (message.namespace_ == receiverNamespace && !m_transportID) {
        if (auto id = transportId(message.payload)) {
            m_transportID = *id;
            send(*m_transportID, connectionNamespace, connectPayload);
            completePrepare(true);
        }
        return;
    }
    if (message.namespace_ == mediaNamespace)
        handleMediaMessage(message.payload);
}

void CastController::handleMediaMessage(const QString &payload)
{
    // Only the first word on our LOAD counts.
    if (m_loadRequestID == 0 || m_loadReply.kind != DeviceReply::Kind::NoAnswer)
        return;
    const QJsonObject message = QJsonDocument::fromJson(payload.toUtf8()).object();
    const QString type = message.value(QLatin1String("type")).toString();
    if (type == QLatin1String("MEDIA_STATUS")) {
        // Statuses pushed to every sender carry request id 0, so any status
        // showing the media under way will do.
        if (reportsMediaUnderWay(message.value(QLatin1String("status"))))
            m_loadReply = DeviceReply::accepted();
        return;
    }
    if (isLoadRefusal(type)) {
        // A refusal naming another request is not about our LOAD.
        const QJsonValue requestId = message.value(QLatin1String("requestId"));
        if (!requestId.isUndefined() && requestId.toInteger(-1) != m_loadRequestID)
            return;
        m_loadReply = DeviceReply::refused(type);
        // Nothing will play: holding for the clip's length would only delay the broadcast.
        endHold();
    }
}

void CastController::endHold()
{
    if (m_holdDone)
        m_holdDone->complete(m_loadReply);
}

void CastController::send(const QString &destination, const QString &namespace_, const QString &payload)
{
    if (!m_conn)
        return;
    m_conn->write(CastProtocol::encode(senderId, destination, namespace_, payload));
    if (m_conn->bytesToWrite() > maxUnsentBytes)
        dropConnection();
}

void CastController::completePrepare(bool prepared)
{
    if (m_onPrepared)
        m_onPrepared->complete(prepared);
    m_prepareTimer.stop();
}

void CastController::dropConnection()
{
    // A device announcing a frame beyond any sane size, or never reading what we
    // send, is broken or hostile; the session ends like a stream the peer closed.
    completePrepare(m_transportID.has_value());
    m_inbound.clear();
    if (m_conn)
        m_conn->abort();
}

void CastController::teardown()
{
    if (QSslSocket *socket = m_conn) {
        m_conn = nullptr;
        socket->disconnect(this);
        // A graceful close lets the device see the session end; a peer that never
        // acknowledges it is cut off shortly after.
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(1000, socket, &QObject::deleteLater);
        socket->disconnectFromHost();
    }
    m_inbound.clear();
    // A prepare still waiting ends now rather than never, and so does a play's hold:
    // the session is over, and the broadcast should not wait out the clip for it.
    completePrepare(m_transportID.has_value());
    m_onPrepared.reset();
    endHold();
}

} // namespace pealix
