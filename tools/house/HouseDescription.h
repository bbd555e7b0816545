#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

namespace pealix::house {

// A stranger is no speaker: a guest's phone on the same network, which tries
// every clip URL it sees go by.
enum class RoomKind { Sonos, Cast, Stranger };
// How a device lets its sender down: "hangs" (takes the connection, never
// answers), "refuses the clip", "never launches" (a Cast device that stays on
// its idle screen).
enum class Fault { None, Hangs, RefusesClip, NeverLaunches };

QString faultName(Fault fault);

struct RoomDescription
{
    enum class Plays { Nothing, Queue, Radio };

    QString name;
    RoomKind kind = RoomKind::Sonos;
    QHostAddress address;
    Fault fault = Fault::None;
    // A Sonos player's situation; a group member plays what its coordinator plays.
    Plays plays = Plays::Nothing;
    int track = 1;
    std::chrono::seconds at{0};
    QString station;
    QString transportState = QStringLiteral("STOPPED");
    int volume = 20;
    QString coordinator; // for a group member: the room that leads its group
};

// A house as its JSON file describes it, every room with its address. The
// whole house lives on one /24: the house's side of the link, the computer
// that runs Pealix, and the rooms from .11 on unless they name their own.
struct HouseDescription
{
    static inline const QString kNetwork = QStringLiteral("10.77.0.0/24");
    static inline const QHostAddress kHouseAddress{QStringLiteral("10.77.0.1")};
    static inline const QHostAddress kAppAddress{QStringLiteral("10.77.0.10")};

    QList<RoomDescription> rooms;

    // The house, or the one line that says what keeps the text from being one.
    struct Parsed;
    static Parsed parse(const QByteArray &json);
    static Parsed load(const QString &path);

    const RoomDescription *room(const QString &name) const;
    QList<const RoomDescription *> members(const QString &coordinator) const;
};

struct HouseDescription::Parsed
{
    std::optional<HouseDescription> house;
    QString problem;
};

} // namespace pealix::house
