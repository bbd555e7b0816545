#pragma once

#include "engine/Delivery.h"
#include "model/DeviceReply.h"
#include "model/Speaker.h"

#include <QHostAddress>
#include <QList>

#include <vector>

namespace pealix {

// What became of one device told to play the clip: a Sonos coordinator (for
// every selected member of its group) or a Cast device.
struct SpeakerAttempt
{
    QList<Speaker> selected;       // the selected speakers this device played for
    QList<QHostAddress> addresses; // where its fetches of the clip come from
    DeviceReply reply;             // what it said to the command to play
    bool notReady = false;         // a Cast session opened during the recording, not ready in time

    // Played when the device said yes (a Cast device: that it is playing) and
    // fetched the whole clip from one of its addresses.
    Delivery::Outcome outcome(const QList<QHostAddress> &fetchedBy) const;
};

// One delivery per speaker of `selected`, in its order, from the attempts that
// stand for them; a speaker no attempt stands for had no answer.
QList<Delivery> deliveriesFor(const QList<Speaker> &selected, const std::vector<SpeakerAttempt> &attempts,
                              const QList<QHostAddress> &fetchedBy);

} // namespace pealix
