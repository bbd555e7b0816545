#include "engine/CastAnnouncement.h"

#include "engine/SpeakerEndpoint.h"

#include <QTimer>

namespace pealix {

namespace {

// Long enough for a graceful TLS close, which the session cuts off after a second.
constexpr std::chrono::milliseconds retireAfter{1500};

} // namespace

void CastAnnouncement::retire(CastController *session)
{
    if (!session)
        return;
    session->close();
    QTimer::singleShot(retireAfter, session, &QObject::deleteLater);
}

QCoro::Task<std::vector<SpeakerAttempt>> CastAnnouncement::playWarm(QPointer<CastController> session,
                                                                    Speaker speaker, AnnouncementCue cue)
{
    // Whether it is ready is decided now, when the clip exists, not after a lookup.
    const bool ready = session && session->isPrepared();
    const SpeakerEndpoint endpoint = co_await SpeakerEndpoint::reach(speaker.host, cue.localAddressFor);
    const ClipAccess access = ready ? cue.openTo(endpoint) : ClipAccess();
    SpeakerAttempt attempt{{speaker}, access.fetchers, DeviceReply::noAnswer(), !ready};
    if (session && !access.url.isEmpty())
        attempt.reply = co_await session->play(access.url, cue.duration);
    retire(session);
    co_return std::vector{attempt};
}

QCoro::Task<std::vector<SpeakerAttempt>> CastAnnouncement::playCold(QPointer<CastController> session,
                                                                    Speaker speaker, AnnouncementCue cue)
{
    const SpeakerEndpoint endpoint = co_await SpeakerEndpoint::reach(speaker.host, cue.localAddressFor);
    const ClipAccess access = cue.openTo(endpoint);
    SpeakerAttempt attempt{{speaker}, access.fetchers, DeviceReply::noAnswer(), false};
    bool prepared = false;
    if (session && !access.url.isEmpty())
        prepared = co_await session->prepare(speaker);
    if (prepared && session)
        attempt.reply = co_await session->play(access.url, cue.duration);
    retire(session);
    co_return std::vector{attempt};
}

} // namespace pealix
