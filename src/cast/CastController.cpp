#include "cast/CastController.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
    if (m_holdDone)
        m_holdDone->complete(true);
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

QCoro::Task<> CastController::play(QString url, double duration)
{
    if (!m_conn || !m_transportID)
        co_return;
    m_clipURL = url;
    ++m_requestID;
    // The URL goes in as it is: the receiver sees exactly the address the clip server published.
    send(*m_transportID, mediaNamespace,
         QStringLiteral(R"({"type":"LOAD","requestId":)") + QString::number(m_requestID) +
             QStringLiteral(R"(,"autoplay":true,"media":{"contentId":")") + url +
             QStringLiteral(R"(","streamType":"BUFFERED","contentType":"audio/mp4"}})"));

    net::OneShot<bool> held;
    m_holdDone = held;
    QTimer::singleShot(holdTime(duration, m_timings.holdPadding), Qt::PreciseTimer, this,
                       [held] { held.complete(true); });
    QPointer<CastController> self(this);
    co_await held;
    if (self)
        self->close();
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
        const QJsonValue id = element.toObject().value(QLatin1String("transportId"));
        if (id.isString())
            return id.toString();
    }
    return std::nullopt;
}

void CastController::onEncrypted()
{
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
    }
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
    // A prepare still waiting ends now rather than never.
    completePrepare(m_transportID.has_value());
    m_onPrepared.reset();
}

} // namespace pealix
