#include "house/CastRoom.h"

#include <chrono>

namespace pealix::house {

using namespace Qt::StringLiterals;
using Event = SimulatedCastDevice::Event;
using Kind = SimulatedCastDevice::Event::Kind;

namespace {

constexpr std::chrono::seconds kPingInterval{5};

QString seconds(std::chrono::milliseconds length)
{
    return QString::number(length.count() / 1000.0, 'f', 1) + u" s"_s;
}

} // namespace

CastRoom::CastRoom(const RoomDescription &description, QString deviceId, HouseLog &log)
    : m_description(description), m_deviceId(std::move(deviceId)), m_log(log)
{
}

QList<QByteArray> CastRoom::txt() const
{
    return {"id=" + m_deviceId.toLatin1(),
            "cd=" + m_deviceId.left(32).toUpper().toLatin1(),
            "rm=",
            "ve=05",
            "md=Chromecast",
            "ic=/setup/icon.png",
            "fn=" + m_description.name.toUtf8(),
            "ca=199172",
            "st=0",
            "bs=FA8FCA3C7D3E",
            "nf=1",
            "rs="};
}

bool CastRoom::start(QString *problem)
{
    m_device = std::make_unique<SimulatedCastDevice>();
    SimulatedCastDevice &device = *m_device;
    device.tls = TlsMaterial::throwAway(m_deviceId);
    if (device.tls.isNull()) {
        *problem = u"openssl made no certificate for "_s + m_description.name;
        return false;
    }
    device.launch = m_description.fault == Fault::NeverLaunches ? SimulatedCastDevice::Launch::Never
                                                                : SimulatedCastDevice::Launch::MediaReceiver;
    device.accept = m_description.fault == Fault::Hangs ? SimulatedCastDevice::Accept::NeverHandshake
                                                        : SimulatedCastDevice::Accept::Handshake;
    device.refuseLoad = m_description.fault == Fault::RefusesClip;
    device.fetchOnLoad = true;
    device.fetchFrom = m_description.address;
    device.pingInterval = kPingInterval;
    device.onEvent = [this](const Event &event) { onEvent(event); };
    if (!device.start(m_description.address, kPort)) {
        *problem = m_description.name + u": cannot listen on "_s + m_description.address.toString() + u':' +
                   QString::number(kPort) + u": "_s + device.errorString();
        return false;
    }
    return true;
}

void CastRoom::introduce()
{
    QJsonObject fields{{u"kind"_s, u"cast"_s},
                       {u"address"_s, m_description.address.toString()},
                       {u"port"_s, kPort},
                       {u"id"_s, m_deviceId}};
    QString human = u"Cast device at %1"_s.arg(m_description.address.toString());
    if (m_description.fault != Fault::None) {
        fields.insert(u"fault"_s, faultName(m_description.fault));
        human += u" (it "_s + faultName(m_description.fault) + u')';
    }
    m_log.note(m_description.name, u"room"_s, fields, human);
}

void CastRoom::onEvent(const Event &event)
{
    const QString &room = m_description.name;
    switch (event.kind) {
    case Kind::Connected:
        m_log.note(room, u"connected"_s, {{u"peer"_s, event.peer}},
                   m_description.fault == Fault::Hangs ? u"%1 connects and gets no answer"_s.arg(event.peer)
                                                       : u"%1 connects"_s.arg(event.peer));
        return;
    case Kind::Closed:
        m_log.note(room, u"closed"_s, {{u"peer"_s, event.peer}}, u"%1 hangs up"_s.arg(event.peer));
        return;
    case Kind::Received:
        m_log.note(room, u"message"_s,
                   {{u"type"_s, event.type},
                    {u"namespace"_s, event.namespace_},
                    {u"destination"_s, event.destination}});
        return;
    case Kind::Launched:
        m_log.note(room, u"launched"_s, {{u"transportId"_s, event.transportId}},
                   u"LAUNCH → default media receiver (%1)"_s.arg(event.transportId));
        return;
    case Kind::StayedIdle:
        m_log.note(room, u"stayed-idle"_s, {}, u"LAUNCH → stays on its idle screen"_s);
        return;
    case Kind::Fetched: {
        QJsonObject fields{{u"url"_s, event.url},
                           {u"range"_s, QString::fromLatin1(event.fetch.range)},
                           {u"status"_s, event.fetch.status},
                           {u"contentRange"_s, QString::fromLatin1(event.fetch.contentRange)},
                           {u"bytes"_s, event.fetch.body.size()}};
        if (event.fetch.firstBodyByte)
            fields.insert(u"firstByte"_s, HouseLog::secondsOf(*event.fetch.firstBodyByte));
        m_log.note(room, u"fetch"_s, fields);
        return;
    }
    case Kind::LoadFailed:
        m_log.note(room, u"load-failed"_s, {{u"url"_s, event.url}, {u"reason"_s, event.reason}},
                   u"LOAD → LOAD_FAILED (%1)"_s.arg(event.reason));
        return;
    case Kind::Media: {
        QJsonObject fields{
            {u"url"_s, event.url}, {u"seconds"_s, event.length.count() / 1000.0}, {u"bytes"_s, event.bytes}};
        if (event.state == u"PLAYING") {
            m_log.note(room, u"playing"_s, fields,
                       u"LOAD → PLAYING %1 (%2)"_s.arg(event.url, seconds(event.length)));
        } else {
            fields.insert(u"whole"_s, event.idleReason == u"FINISHED");
            fields.insert(u"idleReason"_s, event.idleReason);
            m_log.note(room, u"finished"_s, fields,
                       u"IDLE, %1 after %2"_s.arg(event.idleReason, seconds(event.length)));
        }
        return;
    }
    }
}

} // namespace pealix::house
