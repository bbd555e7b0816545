#pragma once

#include "model/Speaker.h"

#include <QHash>
#include <QList>
#include <QString>

namespace pealix::sonos {

// What a player's zone group state says about each member, keyed by member UUID.
struct SonosTopology
{
    QHash<QString, QString> coordinator;
    QHash<QString, QString> host;
    QHash<QString, QString> zoneName;

    // Reads the unescaped state text. Groups and members are found by splitting
    // on "<ZoneGroup " and "<ZoneGroupMember " (trailing space included, so the
    // ZoneGroups wrapper and member children never match); only the
    // Coordinator, UUID, Location and ZoneName attributes are read.
    static SonosTopology parse(const QString &state);

    // Each speaker with a known UUID becomes its group's coordinator; the rest
    // pass through. Later speakers with an already seen id replace the earlier
    // one in its place.
    QList<Speaker> coordinatorsFor(const QList<Speaker> &speakers) const;
};

} // namespace pealix::sonos
