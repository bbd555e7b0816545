#pragma once

#include "cast/CastController.h"
#include "engine/ClipRecorder.h"
#include "model/Preferences.h"
#include "sonos/SonosControl.h"

#include <QHostAddress>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace pealix {

// Everything the broadcaster works with that is not its own state. Whatever is
// left empty, the broadcaster fills with the application's own: the
// microphone, the shared preferences, the routed address, real controllers.
// Tests replace the microphone, the waits and the address choice, and let
// speakers on loopback fetch the clip (no real speaker could be there).
struct BroadcasterSetup
{
    // Our address as a speaker at the given address would reach it; the
    // address is null for a speaker known only by a name that did not resolve.
    using LocalAddressFor = std::function<std::optional<QString>(const QHostAddress &speaker)>;

    std::unique_ptr<ClipRecorder> recorder;
    // Preferences::shared() when null.
    Preferences *preferences = nullptr;
    LocalAddressFor localAddressFor;
    // One per broadcast or recording that has Sonos speakers, none otherwise.
    std::function<SonosControl()> makeSonosControl;
    // One per Cast speaker per broadcast.
    std::function<CastController *()> makeCastController;

    // The level meter's period while recording.
    std::chrono::milliseconds meterInterval{60};
    // How much longer than the clip a Sonos player is left before it is restored.
    std::chrono::milliseconds holdPadding{1000};
    // A recording shorter than this is a brush of the chord, not a message.
    double shortestClipSeconds = 0.3;
    // The clip server answers only the speakers of its broadcast, and never
    // loopback: any program of any user of this computer could connect from
    // there. Tests whose fake speakers live on loopback turn this on, and
    // then those speakers' loopback addresses may fetch like any other.
    bool loopbackSpeakers = false;
};

} // namespace pealix
