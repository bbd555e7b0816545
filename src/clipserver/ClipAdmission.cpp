#include "clipserver/ClipAdmission.h"

#include "clipserver/ClipConnection.h"

namespace pealix {

ClipAdmission::Decision ClipAdmission::decide(const QHostAddress &peer, qint64 nowMs) const
{
    using Kind = Decision::Kind;
    if (m_perPeer.value(peer) >= m_bounds.perPeer) {
        // The address's own connections make room for it, or it is turned away:
        // one greedy address must not hold up everyone else.
        ClipConnection *victim = leastUseful(&peer, nowMs);
        return victim ? Decision{Kind::Admit, victim} : Decision{Kind::Refuse, nullptr};
    }
    if (m_open.size() < m_bounds.total)
        return {};
    ClipConnection *victim = leastUseful(nullptr, nowMs);
    return victim ? Decision{Kind::Admit, victim} : Decision{Kind::Wait, nullptr};
}

ClipConnection *ClipAdmission::leastUseful(const QHostAddress *peer, qint64 nowMs) const
{
    ClipConnection *waitingLongest = nullptr;
    ClipConnection *stalledLongest = nullptr;
    for (ClipConnection *connection : m_open) {
        if (peer && connection->peer() != *peer)
            continue;
        const qint64 idleMs = nowMs - connection->lastUsefulMs();
        if (!connection->hasRequest()) {
            // Even a speaker's request can arrive a moment after its connection,
            // and one already waiting in the kernel is about to be answered.
            if (idleMs >= m_bounds.headGraceMs && !connection->hasUnreadInput() &&
                (!waitingLongest || connection->lastUsefulMs() < waitingLongest->lastUsefulMs()))
                waitingLongest = connection;
        } else if (idleMs >= m_bounds.stalledMs && connection->waitsOnClient() &&
                   (!stalledLongest || connection->lastUsefulMs() < stalledLongest->lastUsefulMs())) {
            // A response stalled by our own slowness under load is no reason to drop it.
            stalledLongest = connection;
        }
    }
    return waitingLongest ? waitingLongest : stalledLongest;
}

void ClipAdmission::add(ClipConnection *connection)
{
    m_open.append(connection);
    ++m_perPeer[connection->peer()];
}

void ClipAdmission::remove(ClipConnection *connection)
{
    if (!m_open.removeOne(connection))
        return;
    auto count = m_perPeer.find(connection->peer());
    if (count != m_perPeer.end() && --*count <= 0)
        m_perPeer.erase(count);
}

} // namespace pealix
