#include "ui/DeliverySummary.h"

namespace pealix {

namespace {
QString nameOf(const Speaker &speaker)
{
    if (!speaker.name.trimmed().isEmpty())
        return speaker.name;
    return speaker.host.isEmpty() ? speaker.id : speaker.host;
}
} // namespace

QString DeliverySummary::reason(const Delivery &delivery)
{
    const QString name = nameOf(delivery.speaker);
    switch (delivery.outcome) {
    case Delivery::Outcome::Played:
        return {};
    case Delivery::Outcome::NoAnswer:
        return QStringLiteral("%1 didn't answer").arg(name);
    case Delivery::Outcome::Refused:
        if (delivery.code.isEmpty())
            return QStringLiteral("%1 refused the clip").arg(name);
        return QStringLiteral("%1 refused the clip (%2)").arg(name, delivery.code);
    case Delivery::Outcome::NotReady:
        return QStringLiteral("%1 wasn't ready in time").arg(name);
    }
    return {};
}

DeliverySummary DeliverySummary::of(const QList<Delivery> &deliveries)
{
    DeliverySummary summary;
    if (deliveries.isEmpty())
        return summary;
    qsizetype played = 0;
    for (const Delivery &delivery : deliveries) {
        if (delivery.outcome == Delivery::Outcome::Played)
            ++played;
        else
            summary.missing << reason(delivery);
    }
    const qsizetype total = deliveries.size();
    summary.headline = QStringLiteral("Played in %1 of %2 %3")
                           .arg(played)
                           .arg(total)
                           .arg(total == 1 ? QStringLiteral("room") : QStringLiteral("rooms"));
    return summary;
}

} // namespace pealix
