#include "house/SonosRoom.h"

#include "house/devices/SoapText.h"

#include <chrono>

namespace pealix::house {

using namespace Qt::StringLiterals;
using namespace std::chrono;
using Event = SimulatedSonosPlayer::Event;
using Kind = SimulatedSonosPlayer::Event::Kind;

namespace {

constexpr quint16 kPort = 1400;
// Restoring is a handful of commands in a row; once none has come for this
// long, the player is where the sender meant to leave it.
constexpr milliseconds kSettleTime{1000};

bool isClip(const QString &uri)
{
    return uri.startsWith(u"http://", Qt::CaseInsensitive) ||
           uri.startsWith(u"https://", Qt::CaseInsensitive);
}

QString seconds(milliseconds length)
{
    return QString::number(length.count() / 1000.0, 'f', 1) + u" s"_s;
}

QString title(const QString &metadata)
{
    const QString text = soap::argument(metadata, u"dc:title"_s);
    return text.isEmpty() ? QString() : u"“"_s + text + u"”"_s;
}

// Alike for the person who left the player: the same thing at the same
// second, playing or not, at the same volume. (A restored player that was
// paused comes back stopped, which is how a paused player looks anyway.)
bool sameSituation(const SonosRoom::State &a, const SonosRoom::State &b)
{
    return a.uri == b.uri && a.metadata == b.metadata && a.track == b.track &&
           duration_cast<std::chrono::seconds>(a.position) ==
               duration_cast<std::chrono::seconds>(b.position) &&
           (a.transportState == u"PLAYING") == (b.transportState == u"PLAYING") && a.volume == b.volume;
}

QString radioUri(const RoomDescription &room)
{
    return u"x-sonosapi-stream:s%1?sid=254&flags=8224"_s.arg(24940 + (room.address.toIPv4Address() & 0xff));
}

QString radioMetadata(const QString &station)
{
    QString text = station;
    text.replace(u'&', u"&amp;"_s).replace(u'<', u"&lt;"_s).replace(u'>', u"&gt;"_s);
    return uR"(<DIDL-Lite xmlns:dc="http://purl.org/dc/elements/1.1/"><item id="-1" parentID="-1">)"_s
           u"<dc:title>"_s +
           text +
           u"</dc:title><upnp:class>object.item.audioItem.audioBroadcast</upnp:class></item></DIDL-Lite>"_s;
}

} // namespace

SonosRoom::SonosRoom(const RoomDescription &description, QString uuid, HouseLog &log)
    : m_description(description), m_uuid(std::move(uuid)), m_log(log)
{
    m_settled.setSingleShot(true);
    m_settled.setInterval(kSettleTime);
    QObject::connect(&m_settled, &QTimer::timeout, &m_settled, [this] { sayBack(); });
}

QString SonosRoom::location() const
{
    return u"http://%1:%2"_s.arg(m_description.address.toString()).arg(kPort) +
           SimulatedSonosPlayer::kDescriptionPath;
}

bool SonosRoom::start()
{
    m_player = std::make_unique<SimulatedSonosPlayer>(m_description.address, kPort);
    SimulatedSonosPlayer &player = *m_player;
    const QString name = QString::fromUtf8(soap::escaped(m_description.name));
    player.responses[SimulatedSonosPlayer::kDescriptionPath] =
        (uR"(<?xml version="1.0" encoding="utf-8" ?><root xmlns="urn:schemas-upnp-org:device-1-0">)"_s
         u"<specVersion><major>1</major><minor>0</minor></specVersion><device>"
         u"<deviceType>urn:schemas-upnp-org:device:ZonePlayer:1</deviceType>"
         u"<friendlyName>%1 - Sonos One - %2</friendlyName><manufacturer>Sonos, Inc.</manufacturer>"
         u"<modelNumber>S18</modelNumber><modelName>Sonos One</modelName><roomName>%3</roomName>"
         u"<displayName>One</displayName><UDN>uuid:%2</UDN></device></root>"_s)
            .arg(m_description.address.toString(), m_uuid, name)
            .toUtf8();
    State state{{}, {}, 0, {}, m_description.transportState, m_description.volume};
    if (!m_description.coordinator.isEmpty()) {
        state.uri = u"x-rincon:"_s; // completed by the house once every player has its id
        state.track = 1;
    } else if (m_description.plays == RoomDescription::Plays::Queue) {
        state.uri = u"x-rincon-queue:"_s + m_uuid + u"#0"_s;
        state.track = m_description.track;
        state.position = m_description.at;
    } else if (m_description.plays == RoomDescription::Plays::Radio) {
        state.uri = radioUri(m_description);
        state.metadata = radioMetadata(m_description.station);
        state.track = 1;
        state.position = m_description.at;
    }
    player.setState(state);
    if (m_description.fault == Fault::Hangs)
        player.otherActions = SimulatedSonosPlayer::Behaviour::Hang;
    player.refusesClips = m_description.fault == Fault::RefusesClip;
    player.onEvent = [this](const Event &event) { onEvent(event); };
    m_latest = state;
    m_reported = state;
    m_reported.position = duration_cast<std::chrono::seconds>(state.position);
    return player.isListening();
}

void SonosRoom::joinGroupOf(const QString &coordinatorUuid)
{
    State state = m_player->state();
    state.uri = u"x-rincon:"_s + coordinatorUuid;
    m_player->setState(state);
    m_latest = m_reported = state;
    m_reported.position = duration_cast<std::chrono::seconds>(state.position);
}

QString SonosRoom::describe(const State &state) const
{
    QString text;
    if (state.uri.startsWith(u"x-rincon-queue:"))
        text =
            u"queue track %1 at "_s.arg(state.track) + QString::fromLatin1(soap::clockText(state.position));
    else if (state.uri.startsWith(u"x-rincon:"))
        text = u"%1's group"_s.arg(nameOf ? nameOf(state.uri.mid(9)) : state.uri.mid(9));
    else if (isClip(state.uri))
        text = u"the clip "_s + state.uri;
    else if (state.uri.isEmpty())
        text = u"nothing"_s;
    else
        text = u"radio "_s + (title(state.metadata).isEmpty() ? state.uri : title(state.metadata));
    if (state.transportState == u"PAUSED_PLAYBACK")
        text += u", paused"_s;
    else if (state.transportState != u"PLAYING" && !state.uri.isEmpty() &&
             !state.uri.startsWith(u"x-rincon:"))
        text += u", stopped"_s;
    return text + u", volume %1"_s.arg(state.volume);
}

QJsonObject SonosRoom::toJson(const State &state)
{
    return {{u"uri"_s, state.uri},
            {u"metadata"_s, state.metadata},
            {u"track"_s, state.track},
            {u"position"_s, QString::fromLatin1(soap::clockText(state.position))},
            {u"transportState"_s, state.transportState},
            {u"volume"_s, state.volume}};
}

void SonosRoom::introduce()
{
    const State state = m_player->state();
    QJsonObject fields{{u"kind"_s, u"sonos"_s},
                       {u"address"_s, m_description.address.toString()},
                       {u"port"_s, kPort},
                       {u"uuid"_s, m_uuid},
                       {u"state"_s, toJson(state)}};
    QString human = u"Sonos at %1: "_s.arg(m_description.address.toString()) + describe(state);
    if (!m_description.coordinator.isEmpty())
        fields.insert(u"coordinator"_s, m_description.coordinator);
    if (m_description.fault != Fault::None) {
        fields.insert(u"fault"_s, faultName(m_description.fault));
        human += u" (it "_s + faultName(m_description.fault) + u')';
    }
    m_log.note(m_description.name, u"room"_s, fields, human);
}

void SonosRoom::onEvent(const Event &event)
{
    const QString &room = m_description.name;
    switch (event.kind) {
    case Kind::Request:
        m_log.note(room, u"request"_s, {{u"action"_s, event.action}});
        return remember(event);
    case Kind::Changed:
        return noteChange(event);
    case Kind::Refused:
        m_log.note(room, u"refused"_s,
                   {{u"action"_s, event.action}, {u"code"_s, QString::fromUtf8(event.code)}},
                   u"refuses %1 (%2)"_s.arg(event.action, QString::fromUtf8(event.code)));
        return;
    case Kind::Unanswered:
        m_log.note(room, u"unanswered"_s, {{u"action"_s, event.action}},
                   u"leaves %1 unanswered"_s.arg(event.action));
        return;
    case Kind::Fetched: {
        const bool ok = event.fetch.status >= 200 && event.fetch.status <= 299;
        QJsonObject fields{{u"url"_s, event.url},
                           {u"method"_s, QString::fromLatin1(event.fetch.method)},
                           {u"status"_s, event.fetch.status},
                           {u"bytes"_s, event.fetch.bytes},
                           {u"length"_s, event.fetch.declaredLength}};
        if (event.fetch.firstBodyByte)
            fields.insert(u"firstByte"_s, HouseLog::secondsOf(*event.fetch.firstBodyByte));
        m_log.note(room, u"fetch"_s, fields,
                   ok ? QString()
                      : u"%1 %2 failed (%3)"_s.arg(QString::fromLatin1(event.fetch.method), event.url)
                            .arg(event.fetch.status));
        return;
    }
    case Kind::ClipFailed:
        m_log.note(room, u"clip-failed"_s,
                   {{u"url"_s, event.url}, {u"reason"_s, QString::fromUtf8(event.code)}},
                   u"cannot play %1: %2"_s.arg(event.url, QString::fromUtf8(event.code)));
        return;
    case Kind::ClipStarted:
    case Kind::ClipEnded:
        hearCoordinator(event, {});
        if (followers)
            for (SonosRoom *member : followers())
                member->hearCoordinator(event, room);
        return;
    }
}

void SonosRoom::hearCoordinator(const Event &event, const QString &coordinator)
{
    const QString with = coordinator.isEmpty() ? QString() : u", grouped with "_s + coordinator;
    QJsonObject fields{{u"url"_s, event.url},
                       {u"seconds"_s, event.length.count() / 1000.0},
                       {u"bytes"_s, event.fetch.bytes}};
    if (!coordinator.isEmpty())
        fields.insert(u"with"_s, coordinator);
    if (event.kind == Kind::ClipStarted) {
        m_log.note(m_description.name, u"playing"_s, fields,
                   u"playing %1 (%2%3)"_s.arg(event.url, seconds(event.length), with));
        return;
    }
    fields.insert(u"whole"_s, event.whole);
    fields.remove(u"bytes"_s);
    m_log.note(m_description.name, u"finished"_s, fields,
               event.whole ? u"played the whole clip (%1%2)"_s.arg(seconds(event.length), with)
                           : u"clip cut off after %1%2"_s.arg(seconds(event.length), with));
}

void SonosRoom::remember(const Event &event)
{
    const State &now = event.after;
    if (event.action == u"GetMediaInfo") {
        m_asked = true;
        m_reported.uri = now.uri;
        m_reported.metadata = now.metadata;
    } else if (event.action == u"GetPositionInfo") {
        m_reported.track = now.track;
        m_reported.position = duration_cast<std::chrono::seconds>(now.position);
    } else if (event.action == u"GetTransportInfo") {
        m_reported.transportState = now.transportState;
    } else if (event.action == u"GetVolume") {
        m_reported.volume = now.volume;
    }
}

void SonosRoom::noteChange(const Event &event)
{
    const QString &room = m_description.name;
    // A new announcement may begin before the last restore had its moment of quiet.
    if (m_awayFrom && m_settled.isActive() && isClip(event.after.uri) && !isClip(event.before.uri))
        sayBack();
    if (!m_awayFrom) {
        m_awayFrom = event.before;
        if (m_asked)
            m_reportedWhenTaken = m_reported;
    }
    m_latest = event.after;
    if (event.before.volume != event.after.volume)
        m_log.note(room, u"volume"_s, {{u"from"_s, event.before.volume}, {u"to"_s, event.after.volume}},
                   u"volume %1 → %2"_s.arg(event.before.volume).arg(event.after.volume));
    if (event.before.uri != event.after.uri || event.action == u"SetAVTransportURI")
        m_log.note(room, u"source"_s, {{u"uri"_s, event.after.uri}});
    if (event.before.transportState != event.after.transportState)
        m_log.note(room, u"transport"_s, {{u"state"_s, event.after.transportState}});
    if (event.action == u"Seek")
        m_log.note(room, u"seek"_s,
                   {{u"track"_s, event.after.track},
                    {u"position"_s, QString::fromLatin1(soap::clockText(event.after.position))}});
    if (isClip(event.after.uri))
        m_settled.stop();
    else
        m_settled.start();
}

void SonosRoom::sayBack()
{
    m_settled.stop();
    if (!m_awayFrom)
        return;
    // Compared with what the player said when it was asked before it was
    // taken away: that is all a sender can know, and all it can put back.
    const State was = m_reportedWhenTaken.value_or(*m_awayFrom);
    const bool same = sameSituation(m_latest, was);
    m_log.note(m_description.name, u"back"_s,
               {{u"state"_s, toJson(m_latest)}, {u"was"_s, toJson(was)}, {u"same"_s, same}},
               same ? u"back on "_s + describe(m_latest)
                    : u"not back as it was: on "_s + describe(m_latest) + u"; it was on "_s + describe(was));
    m_awayFrom.reset();
    m_reportedWhenTaken.reset();
    m_asked = false;
}

void SonosRoom::finish()
{
    if (m_awayFrom && m_settled.isActive())
        sayBack();
    const State state = m_player->state();
    m_log.note(m_description.name, u"final"_s, {{u"state"_s, toJson(state)}},
               u"ends on "_s + describe(state));
}

} // namespace pealix::house
