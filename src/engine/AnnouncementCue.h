#pragma once

#include "engine/BroadcasterSetup.h"
#include "engine/SonosCustody.h"
#include "engine/SpeakerEndpoint.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>

namespace pealix {

// What one device is given of the clip: where to fetch it, and the addresses
// its fetches may come from. Without a URL the device is told nothing.
struct ClipAccess
{
    QList<QHostAddress> fetchers;
    QString url;
};

// What every device of one broadcast is told, fixed when the broadcast starts:
// the children use these copies and never the broadcaster's state.
struct AnnouncementCue
{
    quint16 port = 0;    // the clip server's
    double duration = 0; // the clip's length in seconds, finite and not negative
    std::chrono::milliseconds holdPadding{1000};
    int volume = 0;      // the announcement volume; 0 leaves each player's own
    bool restore = true; // put each Sonos player back afterwards
    BroadcasterSetup::LocalAddressFor localAddressFor;
    std::shared_ptr<SonosCustody> custody; // the broadcaster's, shared by overlapping broadcasts
    // Lets addresses fetch from this broadcast's clip server, which answers no one else.
    std::function<void(const QList<QHostAddress> &)> allowFetches;
    bool loopbackSpeakers = false; // see BroadcasterSetup

    // Opens the clip to the device at `endpoint` and gives it the URL: every
    // IPv4 address of the device may fetch from the moment this returns, so
    // call it before the URL goes out. A device that could not fetch the clip
    // gets no URL: one with no address we know it by (a name that did not
    // resolve), only a loopback one, or none of ours it can reach. Sending it
    // the URL anyway would only make a player drop what it was playing.
    ClipAccess openTo(const SpeakerEndpoint &endpoint) const;

    // How long a device is left with the clip before it is put back: its
    // length plus the padding (4.2 s gives 5.2 s), capped at what a timer can wait.
    std::chrono::milliseconds hold() const { return holdFor(duration, holdPadding); }

    static std::chrono::milliseconds holdFor(double duration, std::chrono::milliseconds padding)
    {
        const double clip = std::isfinite(duration) && duration > 0 ? duration * 1000.0 : 0.0;
        const double total = std::round(clip + double(padding.count()));
        return std::chrono::milliseconds(qint64(std::min(total, double(std::numeric_limits<int>::max()))));
    }
};

} // namespace pealix
