#include "sonos/SonosControl.h"

#include "sonos/SonosTopology.h"

#include <QUrl>

#include <algorithm>

namespace pealix {

namespace {

const QString kAvTransportPath = QLatin1String(SonosControl::kAvTransportPath);
const QString kRenderingPath = QLatin1String(SonosControl::kRenderingPath);
const QString kTopologyPath = QLatin1String(SonosControl::kTopologyPath);

const QString kInstance = QStringLiteral("InstanceID");
const QString kZero = QStringLiteral("0");

// A player restored onto its own queue must also be put back on the right track.
const QString kQueuePrefix = QStringLiteral("x-rincon-queue:");

// Argument lists are built outside the co_await expressions: g++ 12 miscompiles
// braced lists in a coroutine's awaited call.
sonos::SoapArguments instanceOnly()
{
    return {{kInstance, kZero}};
}

sonos::SoapArguments masterChannel()
{
    return {{kInstance, kZero}, {QStringLiteral("Channel"), QStringLiteral("Master")}};
}

sonos::SoapArguments withInstance(const QString &name, const QString &value)
{
    return {{kInstance, kZero}, {name, value}};
}

bool isSuccess(const sonos::HttpResult &result)
{
    return result.answered && result.status >= 200 && result.status <= 299;
}

// A player says no with a SOAP fault on status 500 whose UPnPError carries a
// number. Only a plain number is passed on: the code ends up in front of the
// user, and a device must not be able to put arbitrary text there.
DeviceReply replyOf(const sonos::HttpResult &result)
{
    if (isSuccess(result))
        return DeviceReply::accepted();
    if (!result.answered || result.status != 500)
        return DeviceReply::noAnswer();
    const QString body = QString::fromUtf8(result.body);
    if (!body.contains(QLatin1String(":Fault>")) && !body.contains(QLatin1String("<Fault>")))
        return DeviceReply::noAnswer();
    const QString code = sonos::tagValue(QStringLiteral("errorCode"), body).value_or(QString()).trimmed();
    constexpr qsizetype kLongestCode = 9;
    const bool number = !code.isEmpty() && code.size() <= kLongestCode &&
                        std::all_of(code.begin(), code.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    return DeviceReply::refused(number ? code : QString());
}

// What GetMediaInfo and GetVolume report; the position fields keep their defaults.
SonosControl::Snapshot sourceSnapshot(const QString &media, const QString &volume)
{
    using sonos::tagValue;
    SonosControl::Snapshot snapshot;
    snapshot.uri = tagValue(QStringLiteral("CurrentURI"), media).value_or(QString());
    snapshot.metadata = tagValue(QStringLiteral("CurrentURIMetaData"), media).value_or(QString());
    snapshot.track = QStringLiteral("1");
    snapshot.relTime = QStringLiteral("0:00:00");
    snapshot.transportState = QStringLiteral("STOPPED");
    snapshot.volume = tagValue(QStringLiteral("CurrentVolume"), volume).value_or(QString());
    return snapshot;
}

void fillPosition(SonosControl::Snapshot &snapshot, const QString &position, const QString &transport)
{
    using sonos::tagValue;
    snapshot.track = tagValue(QStringLiteral("Track"), position).value_or(QStringLiteral("1"));
    snapshot.relTime = tagValue(QStringLiteral("RelTime"), position).value_or(QStringLiteral("0:00:00"));
    snapshot.transportState =
        tagValue(QStringLiteral("CurrentTransportState"), transport).value_or(QStringLiteral("STOPPED"));
}

} // namespace

SonosControl::SonosControl(sonos::HttpLimits limits) : m_limits(limits) {}

QCoro::Task<std::optional<QString>> SonosControl::soap(QString action, QString service, QString path,
                                                       QString host, qint64 port,
                                                       sonos::SoapArguments args) const
{
    return soapRequest(m_limits, std::move(action), std::move(service), std::move(path), std::move(host),
                       port, std::move(args));
}

QCoro::Task<QList<Speaker>> SonosControl::coordinators(QList<Speaker> speakers) const
{
    return coordinatorsTask(m_limits, std::move(speakers));
}

QCoro::Task<std::optional<SonosControl::Snapshot>> SonosControl::snapshot(Speaker speaker) const
{
    return snapshotTask(m_limits, std::move(speaker));
}

QCoro::Task<std::optional<SonosControl::Snapshot>> SonosControl::snapshotSource(Speaker speaker) const
{
    return snapshotSourceTask(m_limits, std::move(speaker));
}

QCoro::Task<SonosControl::Snapshot> SonosControl::snapshotPosition(Snapshot source, Speaker speaker) const
{
    return snapshotPositionTask(m_limits, std::move(source), std::move(speaker));
}

QCoro::Task<> SonosControl::setVolume(qint64 volume, Speaker speaker) const
{
    return setVolumeTask(m_limits, volume, std::move(speaker));
}

QCoro::Task<DeviceReply> SonosControl::play(QString url, Speaker speaker, std::optional<qint64> volume) const
{
    return playTask(m_limits, std::move(url), std::move(speaker), volume);
}

QCoro::Task<> SonosControl::restore(Snapshot snapshot, Speaker speaker) const
{
    return restoreTask(m_limits, std::move(snapshot), std::move(speaker));
}

QCoro::Task<sonos::HttpResult> SonosControl::soapExchange(sonos::HttpLimits limits, QString action,
                                                          QString service, QString path, QString host,
                                                          qint64 port, sonos::SoapArguments args)
{
    const QUrl url(QStringLiteral("http://") + host + QLatin1Char(':') + QString::number(port) + path,
                   QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        co_return sonos::HttpResult{};

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/xml; charset=\"utf-8\""));
    request.setRawHeader("SOAPACTION", QByteArray("\"") + service.toUtf8() + '#' + action.toUtf8() + '"');
    const QByteArray body = sonos::soapEnvelope(action, service, args).toUtf8();

    co_return co_await sonos::httpExchange(request, body, limits);
}

QCoro::Task<std::optional<QString>> SonosControl::soapRequest(sonos::HttpLimits limits, QString action,
                                                              QString service, QString path, QString host,
                                                              qint64 port, sonos::SoapArguments args)
{
    const sonos::HttpResult result =
        co_await soapExchange(limits, std::move(action), std::move(service), std::move(path), std::move(host),
                              port, std::move(args));
    if (!isSuccess(result))
        co_return std::nullopt;
    co_return QString::fromUtf8(result.body);
}

QCoro::Task<QList<Speaker>> SonosControl::coordinatorsTask(sonos::HttpLimits limits, QList<Speaker> speakers)
{
    if (speakers.isEmpty())
        co_return speakers;
    const Speaker &first = speakers.first();
    const auto body =
        co_await soapRequest(limits, QStringLiteral("GetZoneGroupState"), SonosControl::topology,
                             kTopologyPath, first.host, first.port, sonos::SoapArguments());
    if (!body)
        co_return speakers;
    const QString state =
        sonos::xmlUnescape(sonos::tagValue(QStringLiteral("ZoneGroupState"), *body).value_or(QString()));
    if (!state.contains(QLatin1String("ZoneGroup")))
        co_return speakers;
    co_return sonos::SonosTopology::parse(state).coordinatorsFor(speakers);
}

QCoro::Task<std::optional<SonosControl::Snapshot>> SonosControl::snapshotTask(sonos::HttpLimits limits,
                                                                              Speaker speaker)
{
    const auto media = co_await soapRequest(limits, QStringLiteral("GetMediaInfo"), SonosControl::avTransport,
                                            kAvTransportPath, speaker.host, speaker.port, instanceOnly());
    if (!media)
        co_return std::nullopt;
    const QString position =
        (co_await soapRequest(limits, QStringLiteral("GetPositionInfo"), SonosControl::avTransport,
                              kAvTransportPath, speaker.host, speaker.port, instanceOnly()))
            .value_or(QString());
    const QString transport =
        (co_await soapRequest(limits, QStringLiteral("GetTransportInfo"), SonosControl::avTransport,
                              kAvTransportPath, speaker.host, speaker.port, instanceOnly()))
            .value_or(QString());
    const QString volume = (co_await soapRequest(limits, QStringLiteral("GetVolume"), SonosControl::rendering,
                                                 kRenderingPath, speaker.host, speaker.port, masterChannel()))
                               .value_or(QString());

    Snapshot snapshot = sourceSnapshot(*media, volume);
    fillPosition(snapshot, position, transport);
    co_return snapshot;
}

QCoro::Task<std::optional<SonosControl::Snapshot>> SonosControl::snapshotSourceTask(sonos::HttpLimits limits,
                                                                                    Speaker speaker)
{
    // Both requests are under way before either is awaited.
    auto mediaRead = soapRequest(limits, QStringLiteral("GetMediaInfo"), SonosControl::avTransport,
                                 kAvTransportPath, speaker.host, speaker.port, instanceOnly());
    auto volumeRead = soapRequest(limits, QStringLiteral("GetVolume"), SonosControl::rendering,
                                  kRenderingPath, speaker.host, speaker.port, masterChannel());
    const std::optional<QString> media = co_await mediaRead;
    const QString volume = (co_await volumeRead).value_or(QString());
    if (!media)
        co_return std::nullopt;
    co_return sourceSnapshot(*media, volume);
}

QCoro::Task<SonosControl::Snapshot> SonosControl::snapshotPositionTask(sonos::HttpLimits limits,
                                                                       Snapshot source, Speaker speaker)
{
    auto positionRead = soapRequest(limits, QStringLiteral("GetPositionInfo"), SonosControl::avTransport,
                                    kAvTransportPath, speaker.host, speaker.port, instanceOnly());
    auto transportRead = soapRequest(limits, QStringLiteral("GetTransportInfo"), SonosControl::avTransport,
                                     kAvTransportPath, speaker.host, speaker.port, instanceOnly());
    const QString position = (co_await positionRead).value_or(QString());
    const QString transport = (co_await transportRead).value_or(QString());
    fillPosition(source, position, transport);
    co_return source;
}

QCoro::Task<> SonosControl::setVolumeTask(sonos::HttpLimits limits, qint64 volume, Speaker speaker)
{
    const qint64 clamped = std::clamp<qint64>(volume, 0, 100);
    sonos::SoapArguments args = masterChannel();
    args.append({QStringLiteral("DesiredVolume"), QString::number(clamped)});
    co_await soapRequest(limits, QStringLiteral("SetVolume"), SonosControl::rendering, kRenderingPath,
                         speaker.host, speaker.port, args);
}

QCoro::Task<DeviceReply> SonosControl::playTask(sonos::HttpLimits limits, QString url, Speaker speaker,
                                                std::optional<qint64> volume)
{
    sonos::SoapArguments source = withInstance(QStringLiteral("CurrentURI"), url);
    source.append({QStringLiteral("CurrentURIMetaData"), QString()});
    const sonos::HttpResult switched =
        co_await soapExchange(limits, QStringLiteral("SetAVTransportURI"), SonosControl::avTransport,
                              kAvTransportPath, speaker.host, speaker.port, source);
    // A player that kept its own source must not be told to play it: a paused
    // one would resume the user's music, at the announcement volume at that.
    if (!isSuccess(switched))
        co_return replyOf(switched);
    // Only now, with the clip as the source, is the louder volume safe.
    if (volume)
        co_await setVolumeTask(limits, *volume, speaker);
    const sonos::HttpResult played = co_await soapExchange(
        limits, QStringLiteral("Play"), SonosControl::avTransport, kAvTransportPath, speaker.host,
        speaker.port, withInstance(QStringLiteral("Speed"), QStringLiteral("1")));
    co_return replyOf(played);
}

QCoro::Task<> SonosControl::restoreTask(sonos::HttpLimits limits, Snapshot snapshot, Speaker speaker)
{
    // An idle player has no source to go back to, but it may still have been
    // set to the announcement volume.
    if (snapshot.uri.isEmpty()) {
        if (const auto volume = sonos::parseWholeNumber(snapshot.volume))
            co_await setVolumeTask(limits, *volume, speaker);
        co_return;
    }
    const QString uri = sonos::xmlUnescape(snapshot.uri);
    sonos::SoapArguments source = withInstance(QStringLiteral("CurrentURI"), uri);
    source.append({QStringLiteral("CurrentURIMetaData"), sonos::xmlUnescape(snapshot.metadata)});
    co_await soapRequest(limits, QStringLiteral("SetAVTransportURI"), SonosControl::avTransport,
                         kAvTransportPath, speaker.host, speaker.port, source);
    if (const auto volume = sonos::parseWholeNumber(snapshot.volume))
        co_await setVolumeTask(limits, *volume, speaker);
    // Setting the queue as the source puts the player on its first track; the
    // time position only makes sense once it is back on the recorded one.
    if (uri.startsWith(kQueuePrefix)) {
        sonos::SoapArguments track = withInstance(QStringLiteral("Unit"), QStringLiteral("TRACK_NR"));
        track.append({QStringLiteral("Target"), snapshot.track});
        co_await soapRequest(limits, QStringLiteral("Seek"), SonosControl::avTransport, kAvTransportPath,
                             speaker.host, speaker.port, track);
    }
    sonos::SoapArguments position = withInstance(QStringLiteral("Unit"), QStringLiteral("REL_TIME"));
    position.append({QStringLiteral("Target"), snapshot.relTime});
    co_await soapRequest(limits, QStringLiteral("Seek"), SonosControl::avTransport, kAvTransportPath,
                         speaker.host, speaker.port, position);
    if (snapshot.transportState == QLatin1String("PLAYING"))
        co_await soapRequest(limits, QStringLiteral("Play"), SonosControl::avTransport, kAvTransportPath,
                             speaker.host, speaker.port,
                             withInstance(QStringLiteral("Speed"), QStringLiteral("1")));
}

} // namespace pealix
