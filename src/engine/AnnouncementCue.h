#pragma once

#include "engine/BroadcasterSetup.h"
#include "engine/SonosCustody.h"

#include <QtGlobal>

#include <chrono>
#include <cmath>
#include <limits>
#include <memory>

namespace pealix {

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
