#pragma once

#include <QHash>
#include <QHostAddress>
#include <QList>

namespace pealix {

class ClipConnection;

// Keeps the clip server's open connections within bounds, in total and per
// remote address, so a flood of clients that never finish cannot use up the
// process's descriptors or the kernel's socket memory.
//
// When a new connection would pass a bound, room is made by letting go of the
// connection that serves least, among those idle for a while: first one still
// waiting for its request head (a speaker sends its request with the
// connection), the one waiting longest; otherwise the one whose client has
// stalled longest. A connection that is busy delivering the clip, or held up
// by our own side, is never pushed out: then a
// newcomer over its address's bound is turned away, and one over the total
// waits until a connection ends (the listener stops accepting meanwhile, so
// further clients wait in the kernel's queue, not in our memory).
class ClipAdmission
{
public:
    struct Bounds
    {
        int total;
        int perPeer;
        // A connection may be pushed out when its request head has not come
        // this long after it was accepted,
        qint64 headGraceMs;
        // or when its client has held up the response for this long.
        qint64 stalledMs;
    };

    explicit ClipAdmission(Bounds bounds) : m_bounds(bounds) {}

    // What to do with a connection from `peer`, and when admitted, which open
    // connection must go first to make room (nullptr when there is room).
    struct Decision
    {
        enum class Kind { Admit, Refuse, Wait };
        Kind kind = Kind::Admit;
        ClipConnection *evict = nullptr;
    };
    Decision decide(const QHostAddress &peer, qint64 nowMs) const;

    void add(ClipConnection *connection);
    void remove(ClipConnection *connection);

    int openConnections() const { return int(m_open.size()); }

private:
    // The best connection to let go of among those from `peer` (or all, when null).
    ClipConnection *leastUseful(const QHostAddress *peer, qint64 nowMs) const;

    Bounds m_bounds;
    QList<ClipConnection *> m_open;
    QHash<QHostAddress, int> m_perPeer;
};

} // namespace pealix
