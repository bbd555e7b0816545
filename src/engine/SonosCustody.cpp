#include "engine/SonosCustody.h"

namespace pealix {

SonosCustody::Mark SonosCustody::mark(const QString &player) const
{
    return {m_begun.value(player), busy(player)};
}

bool SonosCustody::unchangedSince(const QString &player, const Mark &mark) const
{
    return !mark.busy && !busy(player) && m_begun.value(player) == mark.begun;
}

void SonosCustody::begin(const QString &player)
{
    ++m_begun[player];
    Player &entry = m_players[player];
    entry.holders = 1;
}

void SonosCustody::settle(const QString &player, std::optional<Snapshot> snapshot)
{
    const auto entry = m_players.find(player);
    if (entry == m_players.end())
        return;
    entry->snapshot = snapshot;
    for (const auto &waiter : std::as_const(entry->waiting))
        waiter.complete(snapshot);
    entry->waiting.clear();
}

net::OneShot<std::optional<SonosCustody::Snapshot>> SonosCustody::join(const QString &player)
{
    ++m_begun[player];
    Player &entry = m_players[player];
    ++entry.holders;
    net::OneShot<std::optional<Snapshot>> snapshot;
    if (entry.snapshot)
        snapshot.complete(*entry.snapshot);
    else
        entry.waiting << snapshot;
    return snapshot;
}

bool SonosCustody::leave(const QString &player)
{
    const auto entry = m_players.find(player);
    return entry != m_players.end() && --entry->holders == 0;
}

void SonosCustody::restored(const QString &player)
{
    // One that joined while the player was being put back now holds it.
    const auto entry = m_players.find(player);
    if (entry != m_players.end() && entry->holders <= 0)
        m_players.erase(entry);
}

} // namespace pealix
