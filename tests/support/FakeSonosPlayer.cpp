#include "support/FakeSonosPlayer.h"

#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace pealix::test {

namespace {

using namespace std::chrono;

const QString kPlaying = u"PLAYING"_s;
const QString kStopped = u"STOPPED"_s;

// The player's own XML handling, deliberately not the code under test.
QByteArray escaped(const QString &text)
{
    QString out = text;
    out.replace(u'&', u"&amp;"_s).replace(u'<', u"&lt;"_s).replace(u'>', u"&gt;"_s);
    out.replace(u'"', u"&quot;"_s).replace(u'\'', u"&apos;"_s);
    return out.toUtf8();
}

QString argument(const QString &body, const QString &name)
{
    const qsizetype open = body.indexOf(u'<' + name + u'>');
    const qsizetype close = body.indexOf(u"</"_s + name + u'>');
    if (open < 0 || close < open)
        return {};
    QString value = body.mid(open + name.size() + 2, close - open - name.size() - 2);
    value.replace(u"&lt;"_s, u"<"_s).replace(u"&gt;"_s, u">"_s).replace(u"&quot;"_s, u"\""_s);
    return value.replace(u"&apos;"_s, u"'"_s).replace(u"&amp;"_s, u"&"_s);
}

QByteArray clockText(milliseconds position)
{
    const qint64 seconds = duration_cast<std::chrono::seconds>(position).count();
    return u"%1:%2:%3"_s.arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QChar(u'0'))
        .arg(seconds % 60, 2, 10, QChar(u'0'))
        .toLatin1();
}

std::optional<milliseconds> parseClock(const QString &text)
{
    const QStringList parts = text.split(u':');
    bool ok[3] = {false, false, false};
    if (parts.size() != 3)
        return std::nullopt;
    const qint64 value =
        parts[0].toLongLong(&ok[0]) * 3600 + parts[1].toInt(&ok[1]) * 60 + parts[2].toInt(&ok[2]);
    if (!ok[0] || !ok[1] || !ok[2])
        return std::nullopt;
    return std::chrono::seconds(value);
}

QByteArray fault(const QByteArray &code)
{
    const QByteArray error = code.isEmpty() ? QByteArray() : "<errorCode>" + code + "</errorCode>";
    return "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><s:Fault>"
           "<faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
           "<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\">" +
           error + "</UPnPError></detail></s:Fault></s:Body></s:Envelope>";
}

QByteArray httpReply(const QByteArray &status, const QByteArray &body)
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace

struct FakeSonosPlayer::Connection
{
    QByteArray buffer;
    bool handled = false; // one request per connection
    bool open = false;    // read whole and not yet answered
};

FakeSonosPlayer::State FakeSonosPlayer::radio(const QString &transportState)
{
    return {kRadioUri, kRadioMetadata, 1, seconds(137), transportState, 23};
}

FakeSonosPlayer::State FakeSonosPlayer::queue(int track, std::chrono::seconds position,
                                              const QString &transportState)
{
    return {kQueueUri, QString(), track, position, transportState, 23};
}

FakeSonosPlayer::State FakeSonosPlayer::idle()
{
    return {QString(), QString(), 0, milliseconds(0), kStopped, 23};
}

FakeSonosPlayer::FakeSonosPlayer(const QHostAddress &address, quint16 port)
{
    m_client.setProxy(QNetworkProxy::NoProxy);
    setState(radio(kPlaying));
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            auto connection = std::make_shared<Connection>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket,
                             [this, socket, connection] { onData(socket, connection); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket, connection] {
                if (std::exchange(connection->open, false))
                    --concurrency->open;
                socket->deleteLater();
            });
        }
    });
    // A device on the network, whatever proxy the test process is told to use.
    m_server.setProxy(QNetworkProxy::NoProxy);
    m_server.listen(address, port);
}

FakeSonosPlayer::FakeSonosPlayer(const char *address, const QByteArray &roomName, const QByteArray &udn,
                                 quint16 port)
    : FakeSonosPlayer(QHostAddress(QLatin1String(address)), port)
{
    responses = {{kDescriptionPath,
                  "<root><device><friendlyName>Sonos One</friendlyName>" +
                      (roomName.isNull() ? QByteArray() : "<roomName>" + roomName + "</roomName>") +
                      (udn.isNull() ? QByteArray() : "<UDN>" + udn + "</UDN>") + "</device></root>"}};
}

FakeSonosPlayer::~FakeSonosPlayer()
{
    // Open sockets and clip fetches go with their owners; their handlers must
    // not run against a half-destroyed player.
    for (QTcpSocket *socket : m_server.findChildren<QTcpSocket *>())
        socket->disconnect();
    for (QNetworkReply *reply : m_client.findChildren<QNetworkReply *>())
        reply->disconnect();
}

FakeSonosPlayer::State FakeSonosPlayer::state() const
{
    State now = m_state;
    if (now.transportState == kPlaying)
        now.position += duration_cast<milliseconds>(steady_clock::now() - m_playingSince);
    return now;
}

void FakeSonosPlayer::setState(const State &state)
{
    m_state = state;
    m_playingSince = steady_clock::now();
    ++m_clipGeneration;
}

void FakeSonosPlayer::setTransportState(const QString &transportState)
{
    m_state = state();
    m_state.transportState = transportState;
    m_playingSince = steady_clock::now();
}

void FakeSonosPlayer::onData(QTcpSocket *socket, const std::shared_ptr<Connection> &connection)
{
    QByteArray &buffer = connection->buffer;
    buffer += socket->readAll();
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    const QByteArray head = buffer.left(headEnd);
    const qsizetype at = head.toLower().indexOf("\ncontent-length:");
    const qint64 length = at < 0 ? 0 : head.mid(at + 16).split('\r').first().trimmed().toLongLong();
    if (connection->handled || headEnd < 0 || buffer.size() < headEnd + 4 + length)
        return;
    connection->handled = true;
    const QString path = QString::fromLatin1(head.split(' ').value(1));
    const QString action = QString::fromLatin1(head).section(u'#', 1).section(u'"', 0, 0);
    const QString body = QString::fromUtf8(buffer.mid(headEnd + 4, length));
    requests.append({path, action, head, body, steady_clock::now()});
    actions << action;
    connection->open = true;
    concurrency->peak = std::max(concurrency->peak, ++concurrency->open);

    const QString key = action.isEmpty() ? path : action;
    const Behaviour mode = behaviour.value(key);
    if (mode == Behaviour::Hang) // the connection stays open and nothing is said
        return;
    QByteArray reply;
    if (mode == Behaviour::Garbage) {
        reply = "\x01\x02 SONOS? \xff\xfe\r\n\r\n<CurrentURI>garbage</CurrentURI>";
    } else if (mode == Behaviour::Fault) {
        reply = httpReply("500 Internal Server Error", fault(faultCode));
    } else if (action.isEmpty()) {
        reply = responses.contains(path) ? httpReply("200 OK", responses.value(path))
                                         : httpReply("404 Not Found", QByteArray());
    } else {
        const auto [inner, error] = responses.contains(action)
                                        ? std::pair{responses.value(action), QByteArray()}
                                        : perform(action, body);
        const QByteArray name = action.toUtf8();
        reply = !error.isEmpty()
                    ? httpReply("500 Internal Server Error", fault(error))
                    : httpReply("200 OK",
                                "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                                "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:" +
                                    name + "Response>" + inner + "</u:" + name +
                                    "Response></s:Body></s:Envelope>");
    }
    if (answerDelay > milliseconds(0))
        QTimer::singleShot(answerDelay, socket,
                           [this, socket, connection, reply] { send(socket, connection, reply); });
    else
        send(socket, connection, reply);
}

void FakeSonosPlayer::send(QTcpSocket *socket, const std::shared_ptr<Connection> &connection,
                           const QByteArray &reply)
{
    if (std::exchange(connection->open, false))
        --concurrency->open;
    socket->write(reply);
    socket->disconnectFromHost();
}

std::pair<QByteArray, QByteArray> FakeSonosPlayer::perform(const QString &action, const QString &body)
{
    const State now = state();
    if (action == u"GetMediaInfo") {
        const QByteArray tracks = now.uri.startsWith(u"x-rincon-queue:") ? "12"
                                  : now.uri.isEmpty()                    ? "0"
                                                                         : "1";
        return {"<NrTracks>" + tracks +
                    "</NrTracks><MediaDuration>NOT_IMPLEMENTED</MediaDuration><CurrentURI>" +
                    escaped(now.uri) + "</CurrentURI><CurrentURIMetaData>" + escaped(now.metadata) +
                    "</CurrentURIMetaData><NextURI></NextURI><NextURIMetaData></NextURIMetaData>"
                    "<PlayMedium>NETWORK</PlayMedium>",
                {}};
    }
    if (action == u"GetPositionInfo")
        return {"<Track>" + QByteArray::number(now.track) +
                    "</Track><TrackDuration>0:00:00</TrackDuration>"
                    "<TrackMetaData></TrackMetaData><TrackURI></TrackURI><RelTime>" +
                    clockText(now.position) + "</RelTime><AbsTime>NOT_IMPLEMENTED</AbsTime>",
                {}};
    if (action == u"GetTransportInfo")
        return {"<CurrentTransportState>" + now.transportState.toLatin1() +
                    "</CurrentTransportState><CurrentTransportStatus>OK</CurrentTransportStatus>"
                    "<CurrentSpeed>1</CurrentSpeed>",
                {}};
    if (action == u"GetVolume")
        return {"<CurrentVolume>" + QByteArray::number(now.volume) + "</CurrentVolume>", {}};
    if (action == u"SetVolume") {
        bool ok = false;
        const int volume = argument(body, u"DesiredVolume"_s).toInt(&ok);
        if (!ok || volume < 0 || volume > 100)
            return {{}, "402"}; // invalid arguments
        m_state.volume = volume;
        return {};
    }
    if (action == u"SetAVTransportURI") {
        // A new source starts stopped, at its beginning.
        setState({argument(body, u"CurrentURI"_s), argument(body, u"CurrentURIMetaData"_s), 1,
                  milliseconds(0), kStopped, m_state.volume});
        return {};
    }
    if (action == u"Seek") {
        const QString unit = argument(body, u"Unit"_s);
        const QString target = argument(body, u"Target"_s);
        bool ok = false;
        const int track = target.toInt(&ok);
        if (unit == u"TRACK_NR" && ok && track >= 1 && now.uri.startsWith(u"x-rincon-queue:")) {
            m_state = now;
            m_state.track = track;
            m_state.position = milliseconds(0);
            m_playingSince = steady_clock::now();
            return {};
        }
        const auto position = parseClock(target);
        if (unit != u"REL_TIME" || !position || now.uri.isEmpty())
            return {{}, "711"}; // illegal seek target
        m_state = now;
        m_state.position = *position;
        m_playingSince = steady_clock::now();
        return {};
    }
    if (action == u"Play") {
        if (now.uri.isEmpty())
            return {{}, "701"}; // transition not available
        if (now.transportState != kPlaying) {
            setTransportState(kPlaying);
            if (now.uri.startsWith(u"http://", Qt::CaseInsensitive))
                startClip();
        }
        return {};
    }
    return {{}, "401"}; // invalid action
}

void FakeSonosPlayer::startClip()
{
    const int generation = ++m_clipGeneration;
    const QNetworkRequest request{QUrl(m_state.uri)};
    QNetworkReply *head = m_client.head(request);
    QObject::connect(head, &QNetworkReply::finished, head, [this, head, generation, request] {
        head->deleteLater();
        const int headStatus = head->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        fetches.append({"HEAD", headStatus, 0});
        if (generation != m_clipGeneration)
            return;
        if (headStatus < 200 || headStatus > 299)
            return clipFetched(generation, {});
        QNetworkReply *get = m_client.get(request);
        auto bytes = std::make_shared<qint64>(0);
        QObject::connect(get, &QNetworkReply::readyRead, get,
                         [get, bytes] { *bytes += get->readAll().size(); });
        QObject::connect(get, &QNetworkReply::finished, get, [this, get, bytes, generation] {
            get->deleteLater();
            *bytes += get->readAll().size();
            clipFetched(generation,
                        {"GET", get->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), *bytes});
        });
    });
}

void FakeSonosPlayer::clipFetched(int generation, const Fetch &get)
{
    if (!get.method.isEmpty())
        fetches.append(get);
    if (generation != m_clipGeneration)
        return;
    const bool playable = get.status >= 200 && get.status <= 299 && get.bytes > 0;
    // The clip plays for a while once it is all here; a failed fetch stops at once.
    QTimer::singleShot(playable ? clipPlayTime : milliseconds(0), &m_server, [this, generation] {
        if (generation == m_clipGeneration && m_state.transportState == kPlaying) {
            setTransportState(kStopped);
            m_state.position = milliseconds(0);
        }
    });
}

} // namespace pealix::test
