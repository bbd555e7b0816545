#pragma once

#include "cast/CastController.h"
#include "engine/AnnouncementCue.h"
#include "engine/SpeakerAttempt.h"

#include <QCoro/QCoroTask>
#include <QPointer>

#include <vector>

namespace pealix {

// One broadcast on one Cast device, through a session opened while the user
// spoke (warm) or one opened now (cold). Either way the session is closed and
// let go when the device is done with the clip.
class CastAnnouncement
{
public:
    // Plays only if the session became ready in time; there is no second try.
    static QCoro::Task<std::vector<SpeakerAttempt>> playWarm(QPointer<CastController> session,
                                                             Speaker speaker, AnnouncementCue cue);
    // Prepares the session first; a device that cannot be prepared is left out.
    static QCoro::Task<std::vector<SpeakerAttempt>> playCold(QPointer<CastController> session,
                                                             Speaker speaker, AnnouncementCue cue);

    // Closes a session and frees it once its goodbye has had time to leave.
    static void retire(CastController *session);
};

} // namespace pealix
