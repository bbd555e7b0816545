#pragma once

#include "net/OneShot.h"
#include "sonos/SonosControl.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace pealix {

// Which Sonos players are in the middle of an announcement, and what each was
// doing before the first of them began. Two broadcasts can overlap on one
// player (a second chord right after the first, a saved message tapped twice);
// the second must not take the first one's clip for what the user was
// listening to, or the player would end on our clip at announcement volume.
// So the first to begin keeps the snapshot, every later one shares it, and
// only the last to finish puts the player back. Main thread only.
class SonosCustody
{
public:
    using Snapshot = SonosControl::Snapshot;

    // A mark of what has begun on a player, taken before reading it ahead.
    struct Mark
    {
        quint64 begun = 0;
        bool busy = false;
    };
    Mark mark(const QString &player) const;
    // False when the player may have been showing our clip since `mark`.
    bool unchangedSince(const QString &player, const Mark &mark) const;

    // True when an earlier announcement on the player has not finished: join() then.
    bool busy(const QString &player) const { return m_players.contains(player); }
    // Begins the first announcement on the player; give its snapshot to settle().
    void begin(const QString &player);
    void settle(const QString &player, std::optional<Snapshot> snapshot);
    // Begins a later one: the snapshot the first one took, once it has it.
    net::OneShot<std::optional<Snapshot>> join(const QString &player);

    // Ends one announcement. True when it was the last: the caller restores,
    // then calls restored().
    bool leave(const QString &player);
    void restored(const QString &player);

private:
    struct Player
    {
        int holders = 0;
        std::optional<std::optional<Snapshot>> snapshot; // absent until settled
        QList<net::OneShot<std::optional<Snapshot>>> waiting;
    };

    QHash<QString, Player> m_players;
    QHash<QString, quint64> m_begun; // announcements ever begun, by player
};

} // namespace pealix
