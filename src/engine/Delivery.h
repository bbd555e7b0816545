#pragma once

#include "model/Speaker.h"

#include <QList>
#include <QMetaType>
#include <QString>

namespace pealix {

// How one selected speaker fared in the last broadcast.
struct Delivery
{
    enum class Outcome {
        Played,   // fetched the clip from our server (and, for Cast, reported it playing)
        NoAnswer, // said nothing, or never fetched the clip
        Refused,  // said no: a UPnP fault or a Cast LOAD_FAILED, with its code
        NotReady  // a Cast session opened during the recording was not ready in time
    };

    Speaker speaker; // as selected (a Sonos group member, not its coordinator)
    Outcome outcome = Outcome::NoAnswer;
    QString code; // the device's own word for a refusal; empty otherwise

    friend bool operator==(const Delivery &, const Delivery &) = default;
};

} // namespace pealix

Q_DECLARE_METATYPE(pealix::Delivery)
