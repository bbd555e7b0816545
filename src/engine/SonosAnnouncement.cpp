#include "engine/SonosAnnouncement.h"

#include "engine/PreciseWait.h"
#include "engine/SpeakerEndpoint.h"
#include "net/WhenAll.h"
#include "sonos/SonosTopology.h"
#include "sonos/SonosXml.h"

namespace pealix {

QCoro::Task<QList<SonosAnnouncement::Group>> SonosAnnouncement::groupsOf(SonosControl control,
                                                                         QList<Speaker> speakers)
{
    QList<Group> groups;
    if (speakers.isEmpty())
        co_return groups;
    const Speaker first = speakers.first();
    const QString path = QLatin1String(SonosControl::kTopologyPath);
    const auto body = co_await control.soap(QStringLiteral("GetZoneGroupState"), SonosControl::topology, path,
                                            first.host, first.port, sonos::SoapArguments());
    std::optional<sonos::SonosTopology> topology;
    if (body) {
        const QString state =
            sonos::xmlUnescape(sonos::tagValue(QStringLiteral("ZoneGroupState"), *body).value_or(QString()));
        if (state.contains(QLatin1String("ZoneGroup")))
            topology = sonos::SonosTopology::parse(state);
    }
    for (const Speaker &speaker : std::as_const(speakers)) {
        const QList<Speaker> one{speaker};
        const Speaker coordinator = topology ? topology->coordinatorsFor(one).value(0, speaker) : speaker;
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const Group &g) { return g.coordinator.id == coordinator.id; });
        if (group == groups.end()) {
            groups.append(Group{coordinator, one});
        } else {
            // A later member's view of the coordinator replaces the earlier one.
            group->coordinator = coordinator;
            group->members.append(speaker);
        }
    }
    // A coordinator that was itself selected is addressed as discovery found
    // it; the topology names its host but not its port.
    for (Group &group : groups) {
        for (const Speaker &speaker : std::as_const(speakers)) {
            if (speaker.id == group.coordinator.id)
                group.coordinator = speaker;
        }
    }
    co_return groups;
}

QCoro::Task<std::shared_ptr<SonosAnnouncement::Plan>> SonosAnnouncement::look(SonosControl control,
                                                                              QList<Speaker> speakers)
{
    auto plan = std::make_shared<Plan>();
    plan->groups = co_await groupsOf(control, speakers);
    co_return plan;
}

QCoro::Task<std::shared_ptr<SonosAnnouncement::Plan>>
SonosAnnouncement::prepare(SonosControl control, QList<Speaker> speakers, bool restore,
                           std::shared_ptr<SonosCustody> custody)
{
    std::shared_ptr<Plan> plan = co_await look(control, speakers);
    if (restore) {
        for (const Group &group : std::as_const(plan->groups)) {
            const AheadRead ahead{net::OneShot<std::optional<Snapshot>>(),
                                  custody->mark(group.coordinator.id)};
            plan->sources.insert(group.coordinator.id, ahead);
            readSource(control, group.coordinator, ahead.source);
        }
    }
    co_return plan;
}

QCoro::Task<> SonosAnnouncement::readSource(SonosControl control, Speaker speaker,
                                            net::OneShot<std::optional<Snapshot>> done)
{
    done.complete(co_await control.snapshotSource(speaker));
}

QCoro::Task<std::vector<SpeakerAttempt>>
SonosAnnouncement::play(SonosControl control, QCoro::Task<std::shared_ptr<Plan>> plan, AnnouncementCue cue)
{
    const std::shared_ptr<Plan> found = co_await plan;
    std::vector<QCoro::Task<std::vector<SpeakerAttempt>>> children;
    for (const Group &group : std::as_const(found->groups)) {
        std::optional<AheadRead> ahead;
        if (found->sources.contains(group.coordinator.id))
            ahead = found->sources.value(group.coordinator.id);
        children.push_back(playGroup(control, group, ahead, cue));
    }
    std::vector<SpeakerAttempt> attempts;
    for (auto &done : co_await net::whenAll(std::move(children)))
        attempts.insert(attempts.end(), done.begin(), done.end());
    co_return attempts;
}

std::optional<qint64> SonosAnnouncement::volumeFor(const AnnouncementCue &cue,
                                                   const std::optional<Snapshot> &snapshot)
{
    if (cue.volume <= 0)
        return std::nullopt;
    // A volume that restoring could not put back is never changed.
    if (cue.restore && !(snapshot && sonos::parseWholeNumber(snapshot->volume)))
        return std::nullopt;
    return cue.volume;
}

QCoro::Task<std::optional<SonosAnnouncement::Snapshot>> SonosAnnouncement::snapshotNow(SonosControl control,
                                                                                       Speaker speaker)
{
    // The four reads at once: nothing was read ahead.
    auto sourceRead = control.snapshotSource(speaker);
    auto positionRead = control.snapshotPosition(Snapshot(), speaker);
    std::optional<Snapshot> snapshot = co_await sourceRead;
    const Snapshot position = co_await positionRead;
    if (snapshot) {
        snapshot->track = position.track;
        snapshot->relTime = position.relTime;
        snapshot->transportState = position.transportState;
    }
    co_return snapshot;
}

QCoro::Task<std::optional<SonosAnnouncement::Snapshot>>
SonosAnnouncement::snapshotFirst(SonosControl control, Speaker coordinator, std::optional<AheadRead> ahead,
                                 std::shared_ptr<SonosCustody> custody)
{
    const QString id = coordinator.id;
    if (custody->busy(id))
        co_return co_await custody->join(id);
    // Read ahead while nothing of ours was on the player: still what the user left.
    const bool aheadHolds = ahead && custody->unchangedSince(id, ahead->mark);
    custody->begin(id);
    std::optional<Snapshot> snapshot;
    if (aheadHolds) {
        const std::optional<Snapshot> source = co_await ahead->source;
        if (source)
            snapshot = co_await control.snapshotPosition(*source, coordinator);
    } else {
        snapshot = co_await snapshotNow(control, coordinator);
    }
    custody->settle(id, snapshot);
    co_return snapshot;
}

QCoro::Task<std::vector<SpeakerAttempt>> SonosAnnouncement::playGroup(SonosControl control, Group group,
                                                                      std::optional<AheadRead> ahead,
                                                                      AnnouncementCue cue)
{
    const Speaker coordinator = group.coordinator;
    // The coordinator fetches the clip for the whole group; the members play what it streams them.
    const SpeakerEndpoint endpoint = co_await SpeakerEndpoint::reach(coordinator.host, cue.localAddressFor);
    const ClipAccess access = cue.openTo(endpoint);
    SpeakerAttempt attempt{group.members, access.fetchers, DeviceReply::noAnswer(), false};
    if (access.url.isEmpty())
        co_return std::vector{attempt};

    std::optional<Snapshot> snapshot;
    if (cue.restore)
        snapshot = co_await snapshotFirst(control, coordinator, ahead, cue.custody);

    const std::optional<qint64> volume = volumeFor(cue, snapshot);
    attempt.reply = co_await control.play(access.url, coordinator, volume);
    co_await waitPrecisely(cue.hold());
    // Only the last broadcast still on the player puts it back.
    if (cue.restore && cue.custody->leave(coordinator.id)) {
        if (snapshot)
            co_await control.restore(*snapshot, coordinator);
        cue.custody->restored(coordinator.id);
    }
    co_return std::vector{attempt};
}

} // namespace pealix
