#include "engine/AnnouncementCue.h"

namespace pealix {

ClipAccess AnnouncementCue::openTo(const SpeakerEndpoint &endpoint) const
{
    ClipAccess access;
    for (const QHostAddress &address : endpoint.addresses) {
        // Any program of any user of this computer can connect from loopback.
        if (loopbackSpeakers || !address.isLoopback())
            access.fetchers << address;
    }
    if (access.fetchers.isEmpty() || !endpoint.localAddress)
        return {};
    if (allowFetches)
        allowFetches(access.fetchers);
    access.url = endpoint.clipUrl(port);
    return access;
}

} // namespace pealix
