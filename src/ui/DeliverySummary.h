#pragma once

#include "engine/Delivery.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace pealix {

// What the panel says after a broadcast: how many rooms played it, and one
// line for each speaker that did not, with its reason.
struct DeliverySummary
{
    QString headline;    // "Played in 3 of 4 rooms"; empty for an empty list
    QStringList missing; // "Kitchen didn't answer", ...

    static DeliverySummary of(const QList<Delivery> &deliveries);
    // The reason line for one speaker that did not play; empty for one that did.
    static QString reason(const Delivery &delivery);
};

} // namespace pealix
