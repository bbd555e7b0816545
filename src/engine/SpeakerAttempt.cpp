#include "engine/SpeakerAttempt.h"

#include <algorithm>

namespace pealix {

Delivery::Outcome SpeakerAttempt::outcome(const QList<QHostAddress> &fetchedBy) const
{
    if (notReady)
        return Delivery::Outcome::NotReady;
    if (reply.kind == DeviceReply::Kind::Refused)
        return Delivery::Outcome::Refused;
    const bool fetched = std::any_of(addresses.cbegin(), addresses.cend(), [&](const QHostAddress &address) {
        return fetchedBy.contains(address);
    });
    if (fetched && reply.kind == DeviceReply::Kind::Accepted)
        return Delivery::Outcome::Played;
    return Delivery::Outcome::NoAnswer;
}

QList<Delivery> deliveriesFor(const QList<Speaker> &selected, const std::vector<SpeakerAttempt> &attempts,
                              const QList<QHostAddress> &fetchedBy)
{
    QList<Delivery> deliveries;
    for (const Speaker &speaker : selected) {
        Delivery delivery{speaker, Delivery::Outcome::NoAnswer, {}};
        for (const SpeakerAttempt &attempt : attempts) {
            if (attempt.selected.contains(speaker)) {
                delivery.outcome = attempt.outcome(fetchedBy);
                delivery.code =
                    delivery.outcome == Delivery::Outcome::Refused ? attempt.reply.code : QString();
                break;
            }
        }
        deliveries << delivery;
    }
    return deliveries;
}

} // namespace pealix
