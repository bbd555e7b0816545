#include "house/HouseDescription.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cmath>

namespace pealix::house {

using namespace Qt::StringLiterals;

namespace {

const QStringList kTopKeys = {u"rooms"_s, u"groups"_s};
const QStringList kRoomKeys = {u"name"_s,  u"kind"_s, u"address"_s, u"fault"_s, u"plays"_s,
                               u"track"_s, u"at"_s,   u"station"_s, u"state"_s, u"volume"_s};
const QStringList kSituationKeys = {u"plays"_s, u"track"_s, u"at"_s, u"station"_s, u"state"_s};
const QStringList kGroupKeys = {u"coordinator"_s, u"members"_s};
constexpr quint32 kFirstRoomHost = 11;

QString quoted(const QString &text)
{
    return u'"' + text + u'"';
}

std::optional<int> wholeNumber(const QJsonValue &value)
{
    if (!value.isDouble() || std::trunc(value.toDouble()) != value.toDouble() ||
        std::abs(value.toDouble()) > 1e9)
        return std::nullopt;
    return int(value.toDouble());
}

std::optional<std::chrono::seconds> clock(const QString &text)
{
    const QStringList parts = text.split(u':');
    if (parts.size() != 3 || parts[1].size() != 2 || parts[2].size() != 2)
        return std::nullopt;
    bool ok[3] = {false, false, false};
    const int h = parts[0].toInt(&ok[0]), m = parts[1].toInt(&ok[1]), s = parts[2].toInt(&ok[2]);
    if (!ok[0] || !ok[1] || !ok[2] || h < 0 || m > 59 || s > 59)
        return std::nullopt;
    return std::chrono::seconds(h * 3600 + m * 60 + s);
}

// Reads one room; an empty problem when it is a room.
QString readRoom(const QJsonObject &object, RoomDescription &room, bool *hasSituation)
{
    const QString name = object.value(u"name"_s).toString();
    if (name.trimmed().isEmpty())
        return u"a room has no name"_s;
    room.name = name;
    const QString where = u"room "_s + quoted(name) + u": "_s;
    for (const QString &key : object.keys())
        if (!kRoomKeys.contains(key))
            return where + u"unknown key "_s + quoted(key);
    const QString kind = object.value(u"kind"_s).toString();
    if (kind != u"sonos" && kind != u"cast" && kind != u"stranger")
        return where + u"\"kind\" must be \"sonos\", \"cast\" or \"stranger\", not "_s + quoted(kind);
    room.kind = kind == u"sonos" ? RoomKind::Sonos : kind == u"cast" ? RoomKind::Cast : RoomKind::Stranger;
    if (room.kind == RoomKind::Stranger) {
        for (const QString &key : object.keys())
            if (key != u"name" && key != u"kind" && key != u"address")
                return where + u"a stranger has a name and an address, no "_s + quoted(key);
        return {};
    }

    if (object.contains(u"fault"_s)) {
        const QString fault = object.value(u"fault"_s).toString();
        for (Fault known : {Fault::Hangs, Fault::RefusesClip, Fault::NeverLaunches})
            if (fault == faultName(known))
                room.fault = known;
        if (room.fault == Fault::None)
            return where + u"unknown fault "_s + quoted(fault) +
                   u" (a room may have \"hangs\", \"refuses the clip\" or \"never launches\")"_s;
        if (room.fault == Fault::NeverLaunches && room.kind == RoomKind::Sonos)
            return where + u"\"never launches\" is a fault of Cast devices, not of Sonos players"_s;
    }

    *hasSituation = false;
    for (const QString &key : kSituationKeys + QStringList{u"volume"_s})
        if (object.contains(key) && room.kind == RoomKind::Cast)
            return where + quoted(key) + u" is for Sonos players, and this room is a Cast device"_s;
    for (const QString &key : kSituationKeys)
        *hasSituation = *hasSituation || object.contains(key);
    if (room.kind == RoomKind::Cast)
        return {};

    const QString plays = object.value(u"plays"_s).toString(u"nothing"_s);
    if (plays != u"nothing" && plays != u"queue" && plays != u"radio")
        return where + u"\"plays\" must be \"queue\", \"radio\" or \"nothing\", not "_s + quoted(plays);
    room.plays = plays == u"queue"   ? RoomDescription::Plays::Queue
                 : plays == u"radio" ? RoomDescription::Plays::Radio
                                     : RoomDescription::Plays::Nothing;
    if (object.contains(u"track"_s)) {
        const std::optional<int> track = wholeNumber(object.value(u"track"_s));
        if (room.plays != RoomDescription::Plays::Queue)
            return where + u"\"track\" is for a player that plays its queue"_s;
        if (!track || *track < 1 || *track > 9999)
            return where + u"\"track\" must be a whole number from 1 to 9999"_s;
        room.track = *track;
    }
    if (object.contains(u"station"_s)) {
        if (room.plays != RoomDescription::Plays::Radio)
            return where + u"\"station\" is for a player that plays the radio"_s;
        room.station = object.value(u"station"_s).toString();
    } else if (room.plays == RoomDescription::Plays::Radio) {
        room.station = u"Radio"_s;
    }
    if (object.contains(u"at"_s)) {
        const std::optional<std::chrono::seconds> at = clock(object.value(u"at"_s).toString());
        if (room.plays == RoomDescription::Plays::Nothing)
            return where + u"\"at\" is for a player that plays something"_s;
        if (!at)
            return where + u"\"at\" must be a time such as \"0:02:17\""_s;
        room.at = *at;
    }
    const QString state =
        object.value(u"state"_s)
            .toString(room.plays == RoomDescription::Plays::Nothing ? u"stopped"_s : u"playing"_s);
    if (state != u"playing" && state != u"paused" && state != u"stopped")
        return where + u"\"state\" must be \"playing\", \"paused\" or \"stopped\", not "_s + quoted(state);
    if (state != u"stopped" && room.plays == RoomDescription::Plays::Nothing)
        return where + u"a player that plays nothing can only be \"stopped\""_s;
    room.transportState = state == u"playing"  ? u"PLAYING"_s
                          : state == u"paused" ? u"PAUSED_PLAYBACK"_s
                                               : u"STOPPED"_s;
    if (object.contains(u"volume"_s)) {
        const std::optional<int> volume = wholeNumber(object.value(u"volume"_s));
        if (!volume || *volume < 0 || *volume > 100)
            return where + u"\"volume\" must be a whole number from 0 to 100"_s;
        room.volume = *volume;
    }
    return {};
}

// Reads the rooms' addresses; the ones without get the next free one.
QString placeRooms(const QJsonArray &rooms, QList<RoomDescription> &placed)
{
    const quint32 network = QHostAddress(u"10.77.0.0"_s).toIPv4Address();
    QHash<quint32, QString> taken{
        {HouseDescription::kHouseAddress.toIPv4Address(), u"the house's side of the link"_s},
        {HouseDescription::kAppAddress.toIPv4Address(), u"the computer that runs Pealix"_s}};
    for (qsizetype i = 0; i < rooms.size(); ++i) {
        if (!rooms[i].toObject().contains(u"address"_s))
            continue;
        const QString text = rooms[i].toObject().value(u"address"_s).toString();
        const QString where = u"room "_s + quoted(placed[i].name) + u": "_s;
        bool ok = false;
        const QHostAddress address(text);
        const quint32 ip = address.toIPv4Address(&ok);
        if (!ok || text != address.toString())
            return where + u"address "_s + quoted(text) + u" is not an IPv4 address"_s;
        if ((ip & 0xffffff00u) != network || (ip & 0xff) == 0 || (ip & 0xff) == 255)
            return where + u"address "_s + text + u" is not a host of the house network "_s +
                   HouseDescription::kNetwork;
        if (taken.contains(ip)) {
            const QString other = taken.value(ip);
            return other.startsWith(u"room ")
                       ? u"rooms "_s + quoted(other.mid(5)) + u" and "_s + quoted(placed[i].name) +
                             u" both have the address "_s + text
                       : where + u"address "_s + text + u" belongs to "_s + other;
        }
        taken.insert(ip, u"room "_s + placed[i].name);
        placed[i].address = address;
    }
    quint32 next = network + kFirstRoomHost;
    for (RoomDescription &room : placed) {
        if (!room.address.isNull())
            continue;
        while (taken.contains(next))
            ++next;
        if ((next & 0xff) == 255)
            return u"too many rooms for the house network "_s + HouseDescription::kNetwork;
        taken.insert(next, u"room "_s + room.name);
        room.address = QHostAddress(next);
    }
    return {};
}

QString readGroups(const QJsonArray &groups, HouseDescription &house, const QSet<QString> &withSituation)
{
    QSet<QString> grouped;
    for (const QJsonValue &value : groups) {
        const QJsonObject group = value.toObject();
        const QString leader = group.value(u"coordinator"_s).toString();
        const QString where = u"group of "_s + quoted(leader) + u": "_s;
        for (const QString &key : group.keys())
            if (!kGroupKeys.contains(key))
                return where + u"unknown key "_s + quoted(key);
        if (leader.isEmpty())
            return u"a group names no coordinator"_s;
        const RoomDescription *coordinator = house.room(leader);
        if (!coordinator)
            return where + u"the coordinator "_s + quoted(leader) + u" is not a room of the house"_s;
        if (coordinator->kind != RoomKind::Sonos)
            return where + u"the coordinator must be a Sonos player"_s;
        if (grouped.contains(leader))
            return where + quoted(leader) + u" is already in another group"_s;
        grouped.insert(leader);
        const QJsonArray members = group.value(u"members"_s).toArray();
        if (members.isEmpty())
            return where + u"a group needs \"members\", a list of room names"_s;
        for (const QJsonValue &member : members) {
            const QString name = member.toString();
            RoomDescription *room = nullptr;
            for (RoomDescription &each : house.rooms)
                if (each.name == name)
                    room = &each;
            if (!room)
                return where + u"the member "_s + quoted(name) + u" is not a room of the house"_s;
            if (room->kind != RoomKind::Sonos)
                return where + u"the member "_s + quoted(name) + u" is not a Sonos player"_s;
            if (grouped.contains(name))
                return where + quoted(name) + u" is already in a group"_s;
            if (withSituation.contains(name))
                return where + u"the member "_s + quoted(name) + u" plays what "_s + quoted(leader) +
                       u" plays, so it cannot say what it plays itself"_s;
            grouped.insert(name);
            room->coordinator = leader;
            room->plays = coordinator->plays;
            room->transportState = coordinator->transportState;
        }
    }
    return {};
}

} // namespace

QString faultName(Fault fault)
{
    switch (fault) {
    case Fault::None:
        return {};
    case Fault::Hangs:
        return u"hangs"_s;
    case Fault::RefusesClip:
        return u"refuses the clip"_s;
    case Fault::NeverLaunches:
        return u"never launches"_s;
    }
    return {};
}

HouseDescription::Parsed HouseDescription::parse(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return {std::nullopt,
                u"not JSON: "_s + error.errorString() + u" at byte "_s + QString::number(error.offset)};
    const QJsonObject top = document.object();
    if (!document.isObject())
        return {std::nullopt, u"a house is a JSON object with \"rooms\""_s};
    for (const QString &key : top.keys())
        if (!kTopKeys.contains(key))
            return {std::nullopt,
                    u"unknown key "_s + quoted(key) + u" (a house has \"rooms\" and \"groups\")"_s};
    if (top.contains(u"groups"_s) && !top.value(u"groups"_s).isArray())
        return {std::nullopt, u"\"groups\" must be a list of groups"_s};
    const QJsonArray rooms = top.value(u"rooms"_s).toArray();
    if (rooms.isEmpty())
        return {std::nullopt, u"a house needs \"rooms\", a list with at least one room"_s};

    HouseDescription house;
    QSet<QString> names, withSituation;
    for (const QJsonValue &value : rooms) {
        RoomDescription room;
        bool hasSituation = false;
        if (!value.isObject())
            return {std::nullopt, u"every room is a JSON object"_s};
        if (QString problem = readRoom(value.toObject(), room, &hasSituation); !problem.isEmpty())
            return {std::nullopt, problem};
        if (names.contains(room.name))
            return {std::nullopt, u"two rooms are named "_s + quoted(room.name)};
        names.insert(room.name);
        if (hasSituation)
            withSituation.insert(room.name);
        house.rooms.append(room);
    }
    if (QString problem = placeRooms(rooms, house.rooms); !problem.isEmpty())
        return {std::nullopt, problem};
    if (QString problem = readGroups(top.value(u"groups"_s).toArray(), house, withSituation);
        !problem.isEmpty())
        return {std::nullopt, problem};
    return {house, {}};
}

HouseDescription::Parsed HouseDescription::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, u"cannot read it: "_s + file.errorString()};
    if (file.size() > (1 << 20))
        return {std::nullopt, u"larger than a house description can be (1 MiB)"_s};
    return parse(file.readAll());
}

const RoomDescription *HouseDescription::room(const QString &name) const
{
    for (const RoomDescription &each : rooms)
        if (each.name == name)
            return &each;
    return nullptr;
}

QList<const RoomDescription *> HouseDescription::members(const QString &coordinator) const
{
    QList<const RoomDescription *> found;
    for (const RoomDescription &each : rooms)
        if (each.coordinator == coordinator)
            found << &each;
    return found;
}

} // namespace pealix::house
