#pragma once

#include "house/AvahiPublisher.h"
#include "house/CastRoom.h"
#include "house/DelayedLink.h"
#include "house/HelperProcess.h"
#include "house/HouseDescription.h"
#include "house/HouseLog.h"
#include "house/Sandbox.h"
#include "house/SonosRoom.h"
#include "house/StrangerRoom.h"
#include "house/devices/SsdpResponder.h"

#include <QObject>
#include <QProcess>
#include <QStringList>

#include <memory>
#include <vector>

namespace pealix::house {

// The simulated house: its rooms' devices on their own addresses in the house
// namespace, the link to the app namespace, an avahi-daemon (with a bus of its
// own) on each side, SSDP answered for the Sonos players, the Cast devices
// published over DNS-SD, and optionally one command (Pealix, or a test's
// driver) run in the app namespace.
class House : public QObject
{
    Q_OBJECT

public:
    static inline const QString kHouseInterface = QStringLiteral("house0");
    static inline const QString kAppInterface = QStringLiteral("eth0");
    // Abstract sockets: each bus is reachable from its own network namespace only.
    static inline const QString kHouseBus = QStringLiteral("unix:abstract=pealix-house/bus");
    static inline const QString kAppBus = QStringLiteral("unix:abstract=pealix-app/bus");

    House(const HouseDescription &description, Sandbox &sandbox, HouseLog &log, QObject *parent = nullptr);

    // The ids a room's device goes by: a Sonos player's UUID, a Cast device's id.
    static QString sonosUuid(const RoomDescription &room);
    static QString castId(const RoomDescription &room);
    ~House() override;

    // Before start(): every frame between the two sides waits this long each
    // way (a round trip takes twice as long). Zero, the default, is a plain link.
    void setLinkDelay(std::chrono::microseconds oneWay) { m_linkDelay = oneWay; }

    // Everything up to the moment a sender may come; false with the reason.
    bool start(QString *problem);
    // Runs `command` in the app namespace, with the app's system bus, as the
    // person who started the house; commandFinished follows.
    bool runCommand(const QStringList &command, QString *problem);
    // Ends the command, says how every room ends, stops the services and takes
    // the namespaces down. Once; later calls do nothing.
    void close();
    // True when start() failed for want of a program (ip, dbus-daemon, avahi-daemon).
    bool lacksPrograms() const { return m_lacksPrograms; }

Q_SIGNALS:
    void commandFinished(int exitCode);

private:
    bool configureNetwork(QString *problem);
    bool startServices(QString *problem);
    bool startRooms(QString *problem);
    bool publishCastDevices(QString *problem);
    void announceReady();
    QString zoneGroupState() const;
    QList<SonosRoom *> membersOf(const SonosRoom &coordinator) const;
    HelperProcess &helper(const QString &name, const ChildPlan &plan);

    HouseDescription m_description;
    Sandbox &m_sandbox;
    HouseLog &m_log;
    std::vector<std::unique_ptr<SonosRoom>> m_sonos;
    std::vector<std::unique_ptr<CastRoom>> m_cast;
    std::vector<std::unique_ptr<StrangerRoom>> m_strangers;
    std::unique_ptr<SsdpResponder> m_ssdp;
    std::chrono::microseconds m_linkDelay{0};
    std::unique_ptr<DelayedLink> m_delayedLink;
    std::vector<std::unique_ptr<HelperProcess>> m_helpers;
    HelperProcess *m_appBus = nullptr;
    std::unique_ptr<AvahiPublisher> m_publisher;
    std::unique_ptr<QProcess> m_command;
    bool m_closed = false;
    bool m_lacksPrograms = false;
};

} // namespace pealix::house
