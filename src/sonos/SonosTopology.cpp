#include "sonos/SonosTopology.h"

#include "sonos/SonosXml.h"

#include <QUrl>

namespace pealix::sonos {

namespace {

// The pieces after each occurrence of `separator`; the text before the first is dropped.
QStringList piecesAfter(const QString &text, const QString &separator)
{
    QStringList pieces = text.split(separator);
    pieces.removeFirst();
    return pieces;
}

} // namespace

SonosTopology SonosTopology::parse(const QString &state)
{
    SonosTopology topology;
    for (const QString &group : piecesAfter(state, QStringLiteral("<ZoneGroup "))) {
        const auto coordinator = attributeValue(QStringLiteral("Coordinator"), elementHead(group));
        if (!coordinator)
            continue;
        for (const QString &member : piecesAfter(group, QStringLiteral("<ZoneGroupMember "))) {
            const QString head = elementHead(member);
            const auto uuid = attributeValue(QStringLiteral("UUID"), head);
            if (!uuid)
                continue;
            topology.coordinator.insert(*uuid, *coordinator);
            if (const auto location = attributeValue(QStringLiteral("Location"), head)) {
                const QUrl url(*location);
                if (url.isValid() && !url.host().isEmpty())
                    topology.host.insert(*uuid, url.host());
            }
            if (const auto name = attributeValue(QStringLiteral("ZoneName"), head))
                topology.zoneName.insert(*uuid, *name);
        }
    }
    return topology;
}

QList<Speaker> SonosTopology::coordinatorsFor(const QList<Speaker> &speakers) const
{
    QList<Speaker> result;
    QHash<QString, qsizetype> indexById;
    for (const Speaker &speaker : speakers) {
        Speaker chosen = speaker;
        if (speaker.sonosUUID && coordinator.contains(*speaker.sonosUUID)) {
            const QString uuid = coordinator.value(*speaker.sonosUUID);
            chosen.id = QStringLiteral("sonos:") + uuid;
            chosen.kind = SpeakerKind::Sonos;
            chosen.name = zoneName.value(uuid, speaker.name);
            chosen.host = host.value(uuid, speaker.host);
            chosen.sonosUUID = uuid;
        }
        const auto known = indexById.constFind(chosen.id);
        if (known != indexById.constEnd()) {
            result[*known] = chosen;
        } else {
            indexById.insert(chosen.id, result.size());
            result.append(chosen);
        }
    }
    return result;
}

} // namespace pealix::sonos
