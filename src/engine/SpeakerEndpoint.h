#pragma once

#include "engine/BroadcasterSetup.h"

#include <QCoro/QCoroTask>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

namespace pealix {

// Where one speaker is, and the clip URL that speaker can fetch: speakers on
// different subnets each get the address of ours that their network reaches.
struct SpeakerEndpoint
{
    // The speaker's IPv4 addresses: the ones its fetches come from.
    QList<QHostAddress> addresses;
    // Ours, as the speaker can reach it; nothing when there is none.
    std::optional<QString> localAddress;

    QString clipUrl(quint16 port) const;

    static constexpr std::chrono::milliseconds lookupLimit{3000};

    // Resolves `host` (an address at once, a name through the system's
    // resolver for at most lookupLimit) and picks our address for it.
    static QCoro::Task<SpeakerEndpoint> reach(QString host,
                                              BroadcasterSetup::LocalAddressFor localAddressFor);
    // The same for an address given as text, without any lookup: a name gives
    // no addresses, and our address is the one for no particular speaker.
    static SpeakerEndpoint reachNow(const QString &host,
                                    const BroadcasterSetup::LocalAddressFor &localAddressFor);
};

} // namespace pealix
