#pragma once

#include "house/HouseDescription.h"
#include "house/HouseLog.h"
#include "house/devices/SimulatedSonosPlayer.h"

#include <QJsonObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace pealix::house {

// One Sonos room of the house: its player, and the account of what happens to
// it. An announcement takes the player away from what it was doing (its volume
// and source change) and, when the sender restores it, puts it back; the room
// says where it is back once the commands have settled for a moment, and
// whether that is where it was when it was last asked.
class SonosRoom
{
public:
    using State = SimulatedSonosPlayer::State;

    SonosRoom(const RoomDescription &description, QString uuid, HouseLog &log);

    const RoomDescription &description() const { return m_description; }
    const QString &uuid() const { return m_uuid; }
    SimulatedSonosPlayer &player() { return *m_player; }
    const SimulatedSonosPlayer &player() const { return *m_player; }
    QString location() const;

    // The room name of the player with `uuid`, for texts such as "Kitchen's group".
    std::function<QString(const QString &uuid)> nameOf;
    // The rooms that play whatever this room plays (its group's members).
    std::function<QList<SonosRoom *>()> followers;

    // Starts listening on port 1400 of its address; false when it cannot.
    bool start();
    // A group member's source is its coordinator's stream.
    void joinGroupOf(const QString &coordinatorUuid);
    void introduce();
    // A member hears what its coordinator plays.
    void hearCoordinator(const SimulatedSonosPlayer::Event &event, const QString &coordinator);
    // Says what is still to be said and where the player ends.
    void finish();

    QString describe(const State &state) const;
    static QJsonObject toJson(const State &state);

private:
    void onEvent(const SimulatedSonosPlayer::Event &event);
    void noteChange(const SimulatedSonosPlayer::Event &event);
    void remember(const SimulatedSonosPlayer::Event &event);
    void sayBack();

    RoomDescription m_description;
    QString m_uuid;
    HouseLog &m_log;
    std::unique_ptr<SimulatedSonosPlayer> m_player;
    // What the player last reported when asked, field by field.
    State m_reported;
    bool m_asked = false; // asked what it plays since it was last put back
    // Set while the player is away from what it was doing.
    std::optional<State> m_awayFrom, m_reportedWhenTaken;
    State m_latest; // as the last command left it
    QTimer m_settled;
};

} // namespace pealix::house
