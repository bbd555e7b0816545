#include "house/House.h"

#include "house/devices/SoapText.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QJsonArray>
#include <QNetworkInterface>
#include <QStandardPaths>

#include <unistd.h>

namespace pealix::house {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QByteArray kBusConfig =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>%LISTEN%</listen><auth>EXTERNAL</auth>%ANONYMOUS%
 <policy context="default"><allow user="*"/><allow own="*"/>
  <allow send_destination="*"/><allow receive_sender="*"/></policy>
</busconfig>
)";

// avahi-daemon insists that its runtime folder belong to the user "avahi";
// in a user namespace only root exists, so its private /run holds a passwd
// and group file in which avahi is root.
const QByteArray kPasswd = "root:x:0:0:root:/root:/bin/sh\navahi:x:0:0:avahi:/run:/usr/sbin/nologin\n";
const QByteArray kGroup = "root:x:0:\navahi:x:0:\n";

QByteArray avahiConfig(const QString &hostName, const QString &interface, bool publishAddresses)
{
    return "[server]\nhost-name=" + hostName.toLatin1() +
           "\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=" + interface.toLatin1() +
           "\nenable-dbus=yes\nratelimit-interval-usec=0\n[wide-area]\nenable-wide-area=no\n"
           "[publish]\npublish-addresses=" +
           QByteArray(publishAddresses ? "yes" : "no") +
           "\npublish-hinfo=no\npublish-workstation=no\npublish-domain=no\n";
}

// The system programs live in sbin, which a person's PATH may leave out.
QString program(const QString &name)
{
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? QStandardPaths::findExecutable(name, {u"/usr/sbin"_s, u"/sbin"_s}) : found;
}

} // namespace

QString House::sonosUuid(const RoomDescription &room)
{
    // A player's id holds its network card's address; the house makes one up from the room's address.
    const QString card = u"%1"_s.arg(room.address.toIPv4Address() & 0xff, 2, 16, QChar(u'0')).toUpper();
    return u"RINCON_000E584D00"_s + card + u"01400"_s;
}

QString House::castId(const RoomDescription &room)
{
    return QString::fromLatin1(QCryptographicHash::hash(room.name.toUtf8(), QCryptographicHash::Md5).toHex());
}

House::House(const HouseDescription &description, Sandbox &sandbox, HouseLog &log, QObject *parent)
    : QObject(parent), m_description(description), m_sandbox(sandbox), m_log(log)
{
}

House::~House()
{
    close();
}

HelperProcess &House::helper(const QString &name, const ChildPlan &plan)
{
    m_helpers.push_back(std::make_unique<HelperProcess>(name, m_sandbox, plan));
    return *m_helpers.back();
}

bool House::start(QString *problem)
{
    return configureNetwork(problem) && startServices(problem) && startRooms(problem) &&
           publishCastDevices(problem) && (announceReady(), true);
}

bool House::configureNetwork(QString *problem)
{
    // The link between the namespaces is made from the house's side, its
    // other end going straight into the app namespace (handed over as fd 3).
    QByteArray house = "link set lo up\n";
    if (m_linkDelay.count() > 0) {
        // A link with a delay: the two ends are TAP devices and the house carries the frames.
        const int houseTap =
            m_sandbox.openTap(kHouseInterface.toLatin1().constData(), ChildPlan::Network::House, problem);
        const int appTap = houseTap < 0 ? -1
                                        : m_sandbox.openTap(kAppInterface.toLatin1().constData(),
                                                            ChildPlan::Network::App, problem);
        if (appTap < 0) {
            if (houseTap >= 0)
                ::close(houseTap);
            return false;
        }
        m_delayedLink = std::make_unique<DelayedLink>(houseTap, appTap, m_linkDelay);
    } else {
        house += "link add " + kHouseInterface.toLatin1() + " type veth peer name " +
                 kAppInterface.toLatin1() + " netns /proc/self/fd/3\n";
    }
    house += "addr add " + HouseDescription::kHouseAddress.toString().toLatin1() + "/24 dev " +
             kHouseInterface.toLatin1() + '\n';
    for (const RoomDescription &room : m_description.rooms)
        house +=
            "addr add " + room.address.toString().toLatin1() + "/24 dev " + kHouseInterface.toLatin1() + '\n';
    // Multicast leaves by the link, the only way out of either namespace.
    house += "link set " + kHouseInterface.toLatin1() + " up\nroute add 224.0.0.0/4 dev " +
             kHouseInterface.toLatin1() + '\n';
    const QByteArray app = "link set lo up\naddr add " + HouseDescription::kAppAddress.toString().toLatin1() +
                           "/24 dev " + kAppInterface.toLatin1() + "\nlink set " + kAppInterface.toLatin1() +
                           " up\nroute add 224.0.0.0/4 dev " + kAppInterface.toLatin1() + '\n';
    const QString ip = program(u"ip"_s);
    if (ip.isEmpty()) {
        *problem = u"ip (iproute2) is not installed"_s;
        m_lacksPrograms = true;
        return false;
    }
    ChildPlan housePlan;
    housePlan.appNamespaceFd = 3;
    ChildPlan appPlan;
    appPlan.network = ChildPlan::Network::App;
    return helper(u"ip (house side)"_s, housePlan).run(ip, {u"-batch"_s, u"-"_s}, house, 10s, problem) &&
           helper(u"ip (app side)"_s, appPlan).run(ip, {u"-batch"_s, u"-"_s}, app, 10s, problem);
}

bool House::startServices(QString *problem)
{
    const QString dbus = program(u"dbus-daemon"_s), avahi = program(u"avahi-daemon"_s);
    if (dbus.isEmpty() || avahi.isEmpty()) {
        *problem = u"dbus-daemon and avahi-daemon must be installed (Debian: dbus, avahi-daemon)"_s;
        m_lacksPrograms = true;
        return false;
    }
    struct Side
    {
        QString name, bus, interface, hostName;
        ChildPlan::Network network;
        bool anonymous;
    };
    // A sender in the app namespace may run as the person, with ids the bus
    // cannot match to its own (a user namespace in between): it may connect
    // without them.
    const Side sides[] = {
        {u"house"_s, kHouseBus, kHouseInterface, u"house"_s, ChildPlan::Network::House, false},
        {u"app"_s, kAppBus, kAppInterface, u"pealix"_s, ChildPlan::Network::App, true}};
    std::vector<HelperProcess *> daemons;
    for (const Side &side : sides) {
        ChildPlan busPlan;
        busPlan.network = side.network;
        busPlan.privateRun = true;
        QByteArray config = kBusConfig;
        config.replace("%LISTEN%", side.bus.toLatin1())
            .replace("%ANONYMOUS%", side.anonymous ? "<auth>ANONYMOUS</auth><allow_anonymous/>" : "");
        busPlan.runFiles = {{"bus.conf", config}};
        HelperProcess &bus = helper(u"dbus-daemon ("_s + side.name + u" side)"_s, busPlan);
        if (!bus.startAndAwait(
                dbus,
                {u"--config-file=/run/bus.conf"_s, u"--nofork"_s, u"--nopidfile"_s, u"--print-address"_s},
                QProcessEnvironment::systemEnvironment(), "unix:", 10s, problem))
            return false;
        if (side.network == ChildPlan::Network::App)
            m_appBus = &bus;
    }
    for (const Side &side : sides) {
        ChildPlan plan;
        plan.network = side.network;
        plan.privateRun = true;
        plan.runFiles = {{"avahi.conf", avahiConfig(side.hostName, side.interface, side.anonymous)},
                         {"passwd", kPasswd},
                         {"group", kGroup}};
        plan.binds = {{"passwd", "/etc/passwd"}, {"group", "/etc/group"}};
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, side.bus);
        HelperProcess &daemon = helper(u"avahi-daemon ("_s + side.name + u" side)"_s, plan);
        if (!daemon.startAndAwait(
                avahi,
                {u"-f"_s, u"/run/avahi.conf"_s, u"--no-drop-root"_s, u"--no-chroot"_s, u"--no-rlimits"_s},
                environment, "Server startup complete", 20s, problem))
            return false;
    }
    return true;
}

bool House::startRooms(QString *problem)
{
    QList<SsdpResponder::Answer> answers;
    for (const RoomDescription &room : m_description.rooms) {
        if (room.kind == RoomKind::Stranger) {
            m_strangers.push_back(std::make_unique<StrangerRoom>(room, m_log));
            continue;
        }
        if (room.kind == RoomKind::Cast) {
            m_cast.push_back(std::make_unique<CastRoom>(room, castId(room), m_log));
            if (!m_cast.back()->start(problem))
                return false;
            continue;
        }
        auto sonos = std::make_unique<SonosRoom>(room, sonosUuid(room), m_log);
        if (!sonos->start()) {
            *problem = room.name + u": cannot listen on "_s + room.address.toString() + u":1400"_s;
            return false;
        }
        SonosRoom *self = sonos.get();
        sonos->nameOf = [this](const QString &uuid) {
            for (const auto &other : m_sonos)
                if (other->uuid() == uuid)
                    return other->description().name;
            return uuid;
        };
        sonos->followers = [this, self] { return membersOf(*self); };
        sonos->player().zoneGroupState = [this] { return zoneGroupState(); };
        sonos->player().fetchFrom = room.address;
        answers.append(SsdpResponder::Answer("LOCATION: " + sonos->location().toLatin1(), room.address,
                                             "uuid:" + sonos->uuid().toLatin1() +
                                                 "::urn:schemas-upnp-org:device:ZonePlayer:1"));
        m_sonos.push_back(std::move(sonos));
    }
    // Members play their coordinator's stream.
    for (const auto &sonos : m_sonos) {
        const QString &leader = sonos->description().coordinator;
        if (leader.isEmpty())
            continue;
        for (const auto &other : m_sonos)
            if (other->description().name == leader)
                sonos->joinGroupOf(other->uuid());
    }
    for (const auto &sonos : m_sonos)
        sonos->introduce();
    for (const auto &cast : m_cast)
        cast->introduce();
    for (const auto &stranger : m_strangers)
        stranger->introduce();
    if (!m_strangers.empty())
        m_log.overhear = [this](const QString &, const QString &event, const QJsonObject &fields) {
            // A clip's URL goes by when a player is given it and when a device fetches it.
            const QString url = event == u"source"  ? fields.value(u"uri"_s).toString()
                                : event == u"fetch" ? fields.value(u"url"_s).toString()
                                                    : QString();
            if (url.startsWith(u"http://"))
                for (const auto &stranger : m_strangers)
                    QMetaObject::invokeMethod(
                        stranger.get(), [each = stranger.get(), url] { each->tryUrl(url); },
                        Qt::QueuedConnection);
        };
    m_ssdp = std::make_unique<SsdpResponder>(answers, QNetworkInterface::interfaceFromName(kHouseInterface));
    m_ssdp->onSearch = [this](const QNetworkDatagram &search) {
        m_log.note({}, u"search"_s, {{u"from"_s, search.senderAddress().toString()}});
    };
    if (!m_sonos.empty() && !m_ssdp->listening) {
        *problem = u"cannot answer SSDP on "_s + kHouseInterface;
        return false;
    }
    return true;
}

bool House::publishCastDevices(QString *problem)
{
    if (m_cast.empty())
        return true;
    QDBusConnection bus = QDBusConnection::connectToBus(kHouseBus, u"pealix-house"_s);
    if (!bus.isConnected()) {
        *problem = u"cannot reach the house's D-Bus: "_s + bus.lastError().message();
        return false;
    }
    m_publisher = std::make_unique<AvahiPublisher>(bus);
    for (const auto &cast : m_cast)
        if (!m_publisher->publish(u"Chromecast-"_s + cast->deviceId(), u"_googlecast._tcp"_s,
                                  cast->hostName(), cast->description().address, CastRoom::kPort, cast->txt(),
                                  problem))
            return false;
    return m_publisher->awaitEstablished(20s, problem);
}

void House::announceReady()
{
    QJsonArray processes;
    for (const auto &each : m_helpers)
        if (each->pid() > 0)
            processes.append(each->pid());
    const qint64 holder = m_appBus ? m_appBus->pid() : 0;
    m_log.note(
        {}, u"ready"_s,
        {{u"houseNetwork"_s, qint64(m_sandbox.houseNetwork())},
         {u"appNetwork"_s, qint64(m_sandbox.appNetwork())},
         {u"userNamespace"_s, m_sandbox.inUserNamespace()},
         {u"processes"_s, processes},
         {u"appAddress"_s, HouseDescription::kAppAddress.toString()},
         {u"appProcess"_s, holder}},
        u"House ready: %1 rooms on %2; Pealix's side is %3 (a shell there: nsenter --target %4 --net%5)"_s
            .arg(m_sonos.size() + m_cast.size())
            .arg(HouseDescription::kNetwork, HouseDescription::kAppAddress.toString())
            .arg(holder)
            .arg(m_sandbox.inUserNamespace() ? u" --user --preserve-credentials"_s : QString()));
}

QList<SonosRoom *> House::membersOf(const SonosRoom &coordinator) const
{
    QList<SonosRoom *> members;
    const QString source = u"x-rincon:"_s + coordinator.uuid();
    for (const auto &sonos : m_sonos)
        if (sonos.get() != &coordinator && sonos->player().state().uri == source)
            members << sonos.get();
    return members;
}

QString House::zoneGroupState() const
{
    // Groups as the players' sources make them: a player that follows
    // another ("x-rincon:" and its id) is in that player's group.
    QString groups;
    for (const auto &sonos : m_sonos) {
        const QString uri = sonos->player().state().uri;
        bool follows = false;
        for (const auto &other : m_sonos)
            follows = follows || (other.get() != sonos.get() && uri == u"x-rincon:"_s + other->uuid());
        if (follows)
            continue;
        const auto member = [](const SonosRoom &room) {
            return uR"(<ZoneGroupMember UUID="%1" Location="%2" ZoneName="%3" SoftwareVersion="70.3-35220"/>)"_s
                .arg(room.uuid(), room.location(), QString::fromUtf8(soap::escaped(room.description().name)));
        };
        groups += uR"(<ZoneGroup Coordinator="%1" ID="%1:7">)"_s.arg(sonos->uuid()) + member(*sonos);
        for (const SonosRoom *each : membersOf(*sonos))
            groups += member(*each);
        groups += u"</ZoneGroup>"_s;
    }
    return u"<ZoneGroupState><ZoneGroups>"_s + groups + u"</ZoneGroups><VanishedDevices/></ZoneGroupState>"_s;
}

bool House::runCommand(const QStringList &command, QString *problem)
{
    ChildPlan plan;
    plan.network = ChildPlan::Network::App;
    plan.asUser = true;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, kAppBus);
    m_command = std::make_unique<QProcess>();
    m_command->setProcessChannelMode(QProcess::ForwardedChannels);
    m_command->setInputChannelMode(QProcess::ForwardedInputChannel);
    m_command->setProcessEnvironment(environment);
    m_command->setChildProcessModifier(m_sandbox.childSetup(plan));
    const QString name = command.first();
    connect(m_command.get(), &QProcess::finished, this,
            [this, name](int exitCode, QProcess::ExitStatus status) {
                const int code = status == QProcess::NormalExit ? exitCode : 1;
                m_log.note({}, u"command-ended"_s, {{u"exitCode"_s, code}},
                           u"%1 ended (exit status %2)"_s.arg(name).arg(code));
                Q_EMIT commandFinished(code);
            });
    const QStringList relayed = m_sandbox.command(plan, command.first(), command.mid(1));
    m_command->start(relayed.first(), relayed.mid(1));
    if (!m_command->waitForStarted(10000)) {
        *problem = u"cannot start "_s + command.first() + u": "_s + m_command->errorString();
        return false;
    }
    m_log.note({}, u"command"_s, {{u"pid"_s, m_command->processId()}, {u"program"_s, command.first()}},
               u"Running %1 in Pealix's namespace"_s.arg(command.join(u' ')));
    return true;
}

void House::close()
{
    if (std::exchange(m_closed, true))
        return;
    if (m_command && m_command->state() != QProcess::NotRunning) {
        m_command->disconnect(this);
        m_command->terminate();
        if (!m_command->waitForFinished(5000)) {
            m_command->kill();
            m_command->waitForFinished(1000);
        }
    }
    m_log.overhear = nullptr;
    for (const auto &sonos : m_sonos)
        sonos->finish();
    m_publisher.reset();
    // The daemons go in the reverse order of their start.
    for (auto each = m_helpers.rbegin(); each != m_helpers.rend(); ++each)
        (*each)->stop(2s);
    m_delayedLink.reset();
    m_log.note({}, u"closed"_s, {}, u"House closed."_s);
}

} // namespace pealix::house
