#pragma once

#include "house/HouseDescription.h"
#include "house/HouseLog.h"

#include <QObject>
#include <QSet>
#include <QString>

namespace pealix::house {

// A device on the speakers' network that is no speaker: a guest's phone, a
// smart plug. It sees the clip URLs the speakers are sent go by (as anything
// on the same network can, or finds the open port by scanning) and asks for
// each one once, from its own address, with a plain HTTP GET. It says what it
// got: whether the connection was taken, how many bytes came back, and how it
// ended.
class StrangerRoom : public QObject
{
public:
    StrangerRoom(const RoomDescription &description, HouseLog &log);

    const RoomDescription &description() const { return m_description; }
    void introduce();
    // Asks for `url` unless it did already; returns at once.
    void tryUrl(const QString &url);

private:
    RoomDescription m_description;
    HouseLog &m_log;
    QSet<QString> m_tried;
};

} // namespace pealix::house
