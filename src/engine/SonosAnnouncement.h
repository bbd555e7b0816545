#pragma once

#include "engine/AnnouncementCue.h"
#include "engine/SonosCustody.h"
#include "engine/SpeakerAttempt.h"
#include "model/Speaker.h"
#include "net/OneShot.h"
#include "sonos/SonosControl.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QList>

#include <memory>
#include <optional>
#include <vector>

namespace pealix {

// One broadcast on Sonos players: each group is played to once, through its
// coordinator, and put back as it was. The reads that cannot change while the
// user speaks (the groups, each coordinator's source and volume) can be made
// during the recording, so that after the release a player is one read and
// three commands away from playing: position and play state (read together),
// the source switch, the volume, Play.
class SonosAnnouncement
{
public:
    using Snapshot = SonosControl::Snapshot;

    struct Group
    {
        Speaker coordinator;
        QList<Speaker> members; // the selected speakers it plays for, in their order
    };

    // A coordinator's source and volume read ahead, as it arrives, and what
    // had begun on the player when the read began.
    struct AheadRead
    {
        net::OneShot<std::optional<Snapshot>> source;
        SonosCustody::Mark mark;
    };

    // The groups, and the reads made ahead by coordinator id (none when the
    // sources were not read ahead).
    struct Plan
    {
        QList<Group> groups;
        QHash<QString, AheadRead> sources;
    };

    // The groups of `speakers`, from one topology query to the first of them;
    // without an answer every speaker is a group of its own.
    static QCoro::Task<QList<Group>> groupsOf(SonosControl control, QList<Speaker> speakers);
    // The groups alone, for a clip that has no recording before it.
    static QCoro::Task<std::shared_ptr<Plan>> look(SonosControl control, QList<Speaker> speakers);
    // The groups, then (when restoring) every coordinator's source and volume
    // read at once; a slow player delays only its own group.
    static QCoro::Task<std::shared_ptr<Plan>> prepare(SonosControl control, QList<Speaker> speakers,
                                                      bool restore, std::shared_ptr<SonosCustody> custody);

    // Plays the clip on every group of the plan at once and puts each back
    // after the hold. Reads not made ahead, or made while an earlier broadcast
    // may have had the player, are made now, all four together; a player
    // still announcing an earlier broadcast keeps that one's snapshot.
    static QCoro::Task<std::vector<SpeakerAttempt>>
    play(SonosControl control, QCoro::Task<std::shared_ptr<Plan>> plan, AnnouncementCue cue);

    // The announcement volume, unless it could not be put back afterwards:
    // with restoring on, only a player whose volume was read gets it.
    static std::optional<qint64> volumeFor(const AnnouncementCue &cue,
                                           const std::optional<Snapshot> &snapshot);

private:
    static QCoro::Task<std::vector<SpeakerAttempt>>
    playGroup(SonosControl control, Group group, std::optional<AheadRead> ahead, AnnouncementCue cue);
    static QCoro::Task<std::optional<Snapshot>> snapshotFirst(SonosControl control, Speaker coordinator,
                                                              std::optional<AheadRead> ahead,
                                                              std::shared_ptr<SonosCustody> custody);
    static QCoro::Task<std::optional<Snapshot>> snapshotNow(SonosControl control, Speaker speaker);
    static QCoro::Task<> readSource(SonosControl control, Speaker speaker,
                                    net::OneShot<std::optional<Snapshot>> done);
};

} // namespace pealix
