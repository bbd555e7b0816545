#include "house/devices/SimulatedSonosPlayer.h"

#include "house/devices/HttpFetch.h"
#include "house/devices/Mp4Duration.h"
#include "house/devices/SoapText.h"

#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace pealix::house {

namespace {

using namespace std::chrono;

const QByteArray kUserAgent = "Linux UPnP/1.0 Sonos/70.3-35220 (ZPS12)";

bool isClipUri(const QString &uri)
{
    return uri.startsWith(u"http://", Qt::CaseInsensitive) ||
           uri.startsWith(u"https://", Qt::CaseInsensitive);
}

} // namespace

struct SimulatedSonosPlayer::Connection
{
    QByteArray buffer;
    bool handled = false; // one request per connection
    bool open = false;    // read whole and not yet answered
};

SimulatedSonosPlayer::SimulatedSonosPlayer(const QHostAddress &address, quint16 port)
{
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
    // A device on the network, whatever proxy the process is told to use.
    m_server.setProxy(QNetworkProxy::NoProxy);
    m_server.listen(address, port);
}

SimulatedSonosPlayer::~SimulatedSonosPlayer()
{
    // Open sockets and clip fetches go with their owners; their handlers must
    // not run against a half-destroyed player.
    for (QTcpSocket *socket : m_server.findChildren<QTcpSocket *>())
        socket->disconnect();
}

SimulatedSonosPlayer::State SimulatedSonosPlayer::state() const
{
    State now = m_state;
    if (now.transportState == kPlaying)
        now.position += duration_cast<milliseconds>(steady_clock::now() - m_playingSince);
    return now;
}

void SimulatedSonosPlayer::setState(const State &state)
{
    endClip(false);
    m_state = state;
    m_playingSince = steady_clock::now();
    ++m_clipGeneration;
}

void SimulatedSonosPlayer::setTransportState(const QString &transportState)
{
    m_state = state();
    m_state.transportState = transportState;
    m_playingSince = steady_clock::now();
}

void SimulatedSonosPlayer::emitEvent(Event event) const
{
    if (onEvent)
        onEvent(event);
}

void SimulatedSonosPlayer::onData(QTcpSocket *socket, const std::shared_ptr<Connection> &connection)
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
    const Behaviour mode = behaviour.value(key, action.isEmpty() ? Behaviour::Answer : otherActions);
    Event event;
    event.action = key;
    if (mode == Behaviour::Hang) { // the connection stays open and nothing is said
        event.kind = Event::Kind::Unanswered;
        return emitEvent(event);
    }
    QByteArray reply;
    if (mode == Behaviour::Garbage) {
        reply = "\x01\x02 SONOS? \xff\xfe\r\n\r\n<CurrentURI>garbage</CurrentURI>";
        event.kind = Event::Kind::Refused;
        event.code = "garbage";
        emitEvent(event);
    } else if (mode == Behaviour::Fault) {
        reply = soap::httpReply("500 Internal Server Error", soap::fault(faultCode));
        event.kind = Event::Kind::Refused;
        event.code = faultCode;
        emitEvent(event);
    } else {
        reply = answer(path, action, body);
    }
    if (answerDelay > milliseconds(0))
        QTimer::singleShot(answerDelay, socket,
                           [this, socket, connection, reply] { send(socket, connection, reply); });
    else
        send(socket, connection, reply);
}

QByteArray SimulatedSonosPlayer::answer(const QString &path, const QString &action, const QString &body)
{
    if (action.isEmpty()) {
        emitEvent({.kind = Event::Kind::Request, .action = path, .after = state()});
        return responses.contains(path) ? soap::httpReply("200 OK", responses.value(path))
                                        : soap::httpReply("404 Not Found", QByteArray());
    }
    const State before = state();
    const State stored = m_state;
    const auto [inner, error] =
        responses.contains(action) ? std::pair{responses.value(action), QByteArray()} : perform(action, body);
    if (!error.isEmpty()) {
        emitEvent({.kind = Event::Kind::Refused,
                   .action = action,
                   .before = before,
                   .after = state(),
                   .code = error});
        return soap::httpReply("500 Internal Server Error", soap::fault(error));
    }
    const State after = state();
    emitEvent({.kind = Event::Kind::Request, .action = action, .before = before, .after = after});
    if (m_state != stored)
        emitEvent({.kind = Event::Kind::Changed, .action = action, .before = before, .after = after});
    return soap::httpReply("200 OK", soap::actionResponse(action.toUtf8(), inner));
}

void SimulatedSonosPlayer::send(QTcpSocket *socket, const std::shared_ptr<Connection> &connection,
                                const QByteArray &reply)
{
    if (std::exchange(connection->open, false))
        --concurrency->open;
    socket->write(reply);
    socket->disconnectFromHost();
}

std::pair<QByteArray, QByteArray> SimulatedSonosPlayer::perform(const QString &action, const QString &body)
{
    const State now = state();
    if (action == u"GetMediaInfo") {
        const QByteArray tracks = now.uri.startsWith(u"x-rincon-queue:") ? "12"
                                  : now.uri.isEmpty()                    ? "0"
                                                                         : "1";
        return {
            "<NrTracks>" + tracks + "</NrTracks><MediaDuration>NOT_IMPLEMENTED</MediaDuration><CurrentURI>" +
                soap::escaped(now.uri) + "</CurrentURI><CurrentURIMetaData>" + soap::escaped(now.metadata) +
                "</CurrentURIMetaData><NextURI></NextURI><NextURIMetaData></NextURIMetaData>"
                "<PlayMedium>NETWORK</PlayMedium>",
            {}};
    }
    if (action == u"GetPositionInfo")
        return {"<Track>" + QByteArray::number(now.track) +
                    "</Track><TrackDuration>0:00:00</TrackDuration>"
                    "<TrackMetaData></TrackMetaData><TrackURI></TrackURI><RelTime>" +
                    soap::clockText(now.position) + "</RelTime><AbsTime>NOT_IMPLEMENTED</AbsTime>",
                {}};
    if (action == u"GetTransportInfo")
        return {"<CurrentTransportState>" + now.transportState.toLatin1() +
                    "</CurrentTransportState><CurrentTransportStatus>OK</CurrentTransportStatus>"
                    "<CurrentSpeed>1</CurrentSpeed>",
                {}};
    if (action == u"GetVolume")
        return {"<CurrentVolume>" + QByteArray::number(now.volume) + "</CurrentVolume>", {}};
    if (action == u"GetZoneGroupState" && zoneGroupState)
        return {"<ZoneGroupState>" + soap::escaped(zoneGroupState()) + "</ZoneGroupState>", {}};
    return command(action, body);
}

std::pair<QByteArray, QByteArray> SimulatedSonosPlayer::command(const QString &action, const QString &body)
{
    const State now = state();
    if (action == u"SetVolume") {
        bool ok = false;
        const int volume = soap::argument(body, u"DesiredVolume"_s).toInt(&ok);
        if (!ok || volume < 0 || volume > 100)
            return {{}, "402"}; // invalid arguments
        m_state.volume = volume;
        return {};
    }
    if (action == u"SetAVTransportURI") {
        const QString uri = soap::argument(body, u"CurrentURI"_s);
        if (refusesClips && isClipUri(uri))
            return {{}, "714"}; // illegal MIME type
        // A new source starts stopped, at its beginning.
        setState({uri, soap::argument(body, u"CurrentURIMetaData"_s), 1, milliseconds(0), kStopped,
                  m_state.volume});
        return {};
    }
    if (action == u"Seek") {
        const QString unit = soap::argument(body, u"Unit"_s);
        const QString target = soap::argument(body, u"Target"_s);
        bool ok = false;
        const int track = target.toInt(&ok);
        if (unit == u"TRACK_NR" && ok && track >= 1 && now.uri.startsWith(u"x-rincon-queue:")) {
            m_state = now;
            m_state.track = track;
            m_state.position = milliseconds(0);
            m_playingSince = steady_clock::now();
            return {};
        }
        const auto position = soap::parseClock(target);
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
            if (isClipUri(now.uri))
                startClip();
        }
        return {};
    }
    if (action == u"Pause" || action == u"Stop") {
        if (now.uri.isEmpty())
            return {{}, "701"};
        endClip(false);
        ++m_clipGeneration;
        setTransportState(action == u"Pause" ? u"PAUSED_PLAYBACK"_s : kStopped);
        return {};
    }
    return {{}, "401"}; // invalid action
}

void SimulatedSonosPlayer::startClip()
{
    const int generation = ++m_clipGeneration;
    const QString url = m_state.uri;
    const HttpFetch::Request head{QUrl(url), "HEAD", {}, kUserAgent, fetchFrom};
    // Fetches end with the server socket that they run beside.
    HttpFetch::start(&m_server, head, [this, generation, url](const HttpFetch::Result &answer) {
        const Fetch got{"HEAD", answer.status, 0, answer.contentLength, {}};
        fetches.append(got);
        emitEvent({.kind = Event::Kind::Fetched, .url = url, .fetch = got});
        if (generation != m_clipGeneration)
            return;
        if (answer.status < 200 || answer.status > 299)
            return clipFetched(generation, url, {}, {});
        const HttpFetch::Request get{QUrl(url), "GET", {}, kUserAgent, fetchFrom};
        HttpFetch::start(&m_server, get, [this, generation, url](const HttpFetch::Result &body) {
            clipFetched(generation, url,
                        {"GET", body.status, body.body.size(), body.contentLength, body.firstBodyByte},
                        body.body);
        });
    });
}

void SimulatedSonosPlayer::clipFetched(int generation, const QString &url, const Fetch &get,
                                       const QByteArray &body)
{
    if (!get.method.isEmpty()) {
        fetches.append(get);
        emitEvent({.kind = Event::Kind::Fetched, .url = url, .fetch = get});
    }
    if (generation != m_clipGeneration)
        return;
    std::optional<milliseconds> length = clipPlayTime;
    QByteArray problem;
    if (get.status < 200 || get.status > 299 || get.bytes == 0)
        problem = "the clip could not be fetched";
    else if (get.declaredLength >= 0 && get.bytes != get.declaredLength)
        problem = "the clip arrived cut short";
    else if (!length) {
        if (const std::optional<double> seconds = mp4Duration(body); seconds && *seconds >= 0)
            length = milliseconds(qRound64(*seconds * 1000));
        else
            problem = "the clip has no MPEG-4 header with a length";
    }
    if (!problem.isEmpty()) {
        emitEvent({.kind = Event::Kind::ClipFailed, .url = url, .code = problem});
        length = milliseconds(0);
    } else {
        m_clip = {url, steady_clock::now(), *length, true};
        emitEvent({.kind = Event::Kind::ClipStarted, .url = url, .length = *length, .fetch = get});
    }
    // The clip plays for its length once it is all here; a failed fetch stops at once.
    QTimer::singleShot(*length, &m_server, [this, generation] {
        if (generation == m_clipGeneration && m_state.transportState == kPlaying) {
            endClip(true);
            setTransportState(kStopped);
            m_state.position = milliseconds(0);
        }
    });
}

void SimulatedSonosPlayer::endClip(bool whole)
{
    if (!std::exchange(m_clip.playing, false))
        return;
    const auto played = duration_cast<milliseconds>(steady_clock::now() - m_clip.started);
    emitEvent({.kind = Event::Kind::ClipEnded,
               .url = m_clip.url,
               .length = whole ? m_clip.length : played,
               .whole = whole});
}

} // namespace pealix::house
