#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

namespace pealix {

// What the broadcaster is doing, as the panel shows it. Known to the rest of
// the program as Broadcaster::Status.
struct BroadcastStatus
{
    Q_GADGET
public:
    enum class Kind { Idle, Recording, Broadcasting };
    Q_ENUM(Kind)

    Kind kind = Kind::Idle;
    QString text; // Broadcasting only: "1 speaker", "3 speakers"

    static BroadcastStatus idle() { return {Kind::Idle, {}}; }
    static BroadcastStatus recording() { return {Kind::Recording, {}}; }
    static BroadcastStatus broadcasting(QString text) { return {Kind::Broadcasting, std::move(text)}; }
    friend bool operator==(const BroadcastStatus &, const BroadcastStatus &) = default;
};

} // namespace pealix

Q_DECLARE_METATYPE(pealix::BroadcastStatus)
