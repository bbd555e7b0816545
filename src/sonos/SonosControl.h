#pragma once

#include "model/DeviceReply.h"
#include "model/Speaker.h"
#include "sonos/HttpExchange.h"
#include "sonos/SonosXml.h"

#include <QList>
#include <QString>

#include <QCoro/QCoroTask>

#include <optional>

namespace pealix {

// Drives Sonos players over UPnP SOAP. Holds no state between requests, so one
// instance serves every concurrent per-player task of a broadcast. Every
// operation is a coroutine that never throws; a player that fails, times out
// or answers nonsense is simply "no answer".
class SonosControl
{
public:
    // What a player was doing, as it reported it: each value exactly as it
    // stood between its tags (not trimmed, entities still escaped).
    struct Snapshot
    {
        QString uri;
        QString metadata;
        QString track;
        QString relTime;
        QString transportState;
        QString volume;

        friend bool operator==(const Snapshot &, const Snapshot &) = default;
    };

    static inline const QString avTransport = QStringLiteral("urn:schemas-upnp-org:service:AVTransport:1");
    static inline const QString rendering = QStringLiteral("urn:schemas-upnp-org:service:RenderingControl:1");
    static inline const QString topology = QStringLiteral("urn:schemas-upnp-org:service:ZoneGroupTopology:1");

    static constexpr auto kAvTransportPath = "/MediaRenderer/AVTransport/Control";
    static constexpr auto kRenderingPath = "/MediaRenderer/RenderingControl/Control";
    static constexpr auto kTopologyPath = "/ZoneGroupTopology/Control";

    // `limits` bound every request; tests shorten the timeouts.
    explicit SonosControl(sonos::HttpLimits limits = {});

    // One POST; the body of a 2xx answer decoded as UTF-8 (invalid sequences
    // replaced), or nothing.
    QCoro::Task<std::optional<QString>> soap(QString action, QString service, QString path, QString host,
                                             qint64 port, sonos::SoapArguments args) const;

    QCoro::Task<QList<Speaker>> coordinators(QList<Speaker> speakers) const;

    // The four reads one after another; nothing when GetMediaInfo gives nothing.
    QCoro::Task<std::optional<Snapshot>> snapshot(Speaker speaker) const;
    // The source and the volume, read together; track, relTime and
    // transportState keep their defaults. These cannot change while the user
    // speaks, so they may be read during a recording.
    QCoro::Task<std::optional<Snapshot>> snapshotSource(Speaker speaker) const;
    // `source` with track, relTime and transportState read now (both reads
    // together); the rest of it unchanged.
    QCoro::Task<Snapshot> snapshotPosition(Snapshot source, Speaker speaker) const;

    QCoro::Task<> setVolume(qint64 volume, Speaker speaker) const;
    // Switches the player to `url`. Only once the player took the new source:
    // `volume` (clamped to 0..100) if given, then Play. Accepted when Play was
    // answered with 2xx; refused with the UPnP error code when the switch or
    // Play was faulted; no answer otherwise. A refused switch sends nothing more.
    QCoro::Task<DeviceReply> play(QString url, Speaker speaker,
                                  std::optional<qint64> volume = std::nullopt) const;
    // Puts back what the snapshot recorded. A whole-number volume always goes
    // back; the source, position and play state only when there is a source.
    QCoro::Task<> restore(Snapshot snapshot, Speaker speaker) const;

private:
    // The work itself runs in static coroutines that hold copies of what they
    // need, so a controller dropped mid-request leaves nothing dangling.
    static QCoro::Task<sonos::HttpResult> soapExchange(sonos::HttpLimits limits, QString action,
                                                       QString service, QString path, QString host,
                                                       qint64 port, sonos::SoapArguments args);
    static QCoro::Task<std::optional<QString>> soapRequest(sonos::HttpLimits limits, QString action,
                                                           QString service, QString path, QString host,
                                                           qint64 port, sonos::SoapArguments args);
    static QCoro::Task<QList<Speaker>> coordinatorsTask(sonos::HttpLimits limits, QList<Speaker> speakers);
    static QCoro::Task<std::optional<Snapshot>> snapshotTask(sonos::HttpLimits limits, Speaker speaker);
    static QCoro::Task<std::optional<Snapshot>> snapshotSourceTask(sonos::HttpLimits limits, Speaker speaker);
    static QCoro::Task<Snapshot> snapshotPositionTask(sonos::HttpLimits limits, Snapshot source,
                                                      Speaker speaker);
    static QCoro::Task<> setVolumeTask(sonos::HttpLimits limits, qint64 volume, Speaker speaker);
    static QCoro::Task<DeviceReply> playTask(sonos::HttpLimits limits, QString url, Speaker speaker,
                                             std::optional<qint64> volume);
    static QCoro::Task<> restoreTask(sonos::HttpLimits limits, Snapshot snapshot, Speaker speaker);

    sonos::HttpLimits m_limits;
};

} // namespace pealix
