#pragma once

#include "house/HouseDescription.h"
#include "house/HouseLog.h"
#include "house/devices/SimulatedCastDevice.h"

#include <memory>

namespace pealix::house {

// One Cast device of the house and the account of what happens to it: who
// connects, what it launches, what it loads and plays.
class CastRoom
{
public:
    static constexpr quint16 kPort = 8009;

    CastRoom(const RoomDescription &description, QString deviceId, HouseLog &log);

    const RoomDescription &description() const { return m_description; }
    const QString &deviceId() const { return m_deviceId; }
    // The host name its address is published under, without ".local".
    QString hostName() const { return m_deviceId; }
    // The TXT record a Cast device publishes with its service.
    QList<QByteArray> txt() const;

    // Starts listening on port 8009 of its address; false with the reason when it cannot.
    bool start(QString *problem);
    void introduce();

private:
    void onEvent(const SimulatedCastDevice::Event &event);

    RoomDescription m_description;
    QString m_deviceId;
    HouseLog &m_log;
    std::unique_ptr<SimulatedCastDevice> m_device;
};

} // namespace pealix::house
