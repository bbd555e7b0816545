#pragma once

#include "model/Speaker.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace pealix::sonos {

// The single search for zone players, exactly as sent (126 bytes).
extern const QByteArray kZonePlayerSearch;

// Description locations of one SSDP datagram that look like a Sonos player's.
// Datagrams that are not valid UTF-8 give nothing.
QStringList sonosLocations(const QByteArray &datagram);

// True for a location text that belongs to a player: ":1400", "sonos" in any
// letter case, or "device_description".
bool isSonosLocation(const QString &location);

// The speaker a device description at `location` describes, or nothing when
// the description has no roomName. The room name is trimmed, then its
// entities decoded once; the id is made from the UDN as it stands.
std::optional<Speaker> speakerFromDescription(const QString &location, const QString &description);

} // namespace pealix::sonos
