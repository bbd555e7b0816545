// SSDP discovery against responders on lo. This program multicasts, so it
// only runs inside the private network namespace that run-in-netns.sh makes.
#include "sonos/SonosDiscovery.h"
#include "support/FakeSonosPlayer.h"
#include "support/MdnsSandbox.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QUdpSocket>

#include <QCoro/QCoroProcess>
#include <QCoro/QCoroTask>
#include <gtest/gtest.h>

#include <memory>

using namespace pealix;
using namespace Qt::StringLiterals;
using test::FakeSonosPlayer;

namespace {

const QString kPath = u"/xml/device_description.xml"_s;
const QHostAddress kGroup(u"239.255.255.250"_s);

class SsdpDiscoveryTest : public ::testing::Test
{
protected:
    // Plays the devices' SSDP side: records every M-SEARCH and answers each with one reply per location,
    // unicast.
    void SetUp() override
    {
        const QString refusal = test::sandboxRefusal("PEALIX_NETNS_INNER");
        PEALIX_REQUIRE(refusal.isEmpty(),
                       "SSDP runs only inside tests/sonos/run-in-netns.sh: " + refusal.toStdString());
        QObject::connect(&m_responder, &QUdpSocket::readyRead, &m_responder, [this] {
            while (m_responder.hasPendingDatagrams()) {
                const QNetworkDatagram datagram = m_responder.receiveDatagram();
                if (!datagram.data().startsWith("M-SEARCH"))
                    continue;
                m_searches << datagram.data();
                for (const QByteArray &line : std::as_const(m_locations))
                    m_responder.writeDatagram("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age = 1800\r\nEXT:\r\n" +
                                                  line +
                                                  "\r\nST: urn:schemas-upnp-org:device:ZonePlayer:1\r\n\r\n",
                                              datagram.senderAddress(), quint16(datagram.senderPort()));
            }
        });
        ASSERT_TRUE(m_responder.bind(QHostAddress::AnyIPv4, 1900,
                                     QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint) &&
                    m_responder.joinMulticastGroup(kGroup));
    }

    FakeSonosPlayer &player(const char *address, const QByteArray &room, const QByteArray &udn,
                            quint16 port = 0)
    {
        m_players.push_back(std::make_unique<FakeSonosPlayer>(QHostAddress(QLatin1String(address)), port));
        m_players.back()->responses[kPath] = FakeSonosPlayer::deviceDescription(room, udn);
        return *m_players.back();
    }

    static QByteArray location(const char *header, const FakeSonosPlayer &player)
    {
        return header + u": http://%1:%2%3"_s.arg(player.host()).arg(player.port()).arg(kPath).toUtf8();
    }

    static Speaker speaker(const QString &uuid, const QString &name, const FakeSonosPlayer &player)
    {
        return {"sonos:" + uuid, SpeakerKind::Sonos, name, player.host(), player.port(), uuid};
    }

    QUdpSocket m_responder;
    QList<QByteArray> m_locations; // the location line of each reply
    QList<QByteArray> m_searches;
    std::vector<std::unique_ptr<FakeSonosPlayer>> m_players;
};

} // namespace

TEST_F(SsdpDiscoveryTest, FindsPlayersFromRepliesAndAdvertisements)
{
    const QString peers = qEnvironmentVariable("PEALIX_NODE_PEERS");
    PEALIX_REQUIRE(test::havePrograms({u"node"_s}) && QFile::exists(peers + "/node_modules/node-ssdp"),
                   "node and the node-ssdp package (npm ci in tests/sonos) are needed");
    // An independent responder announcing one more player.
    auto &office = player("127.0.0.3", "Office", "uuid:RINCON_NODE1400");
    qputenv("NODE_PATH", (peers + u"/node_modules"_s).toLocal8Bit());
    QProcess node;
    node.start(u"node"_s, {qEnvironmentVariable("PEALIX_SSDP_PEER"),
                           u"http://%1:%2%3"_s.arg(office.host()).arg(office.port()).arg(kPath)});
    ASSERT_TRUE(QCoro::waitFor(qCoro(node).waitForReadyRead(std::chrono::seconds(20))));
    ASSERT_TRUE(node.readAllStandardOutput().contains("ready")) << node.readAllStandardError().toStdString();

    auto &hall = player("127.0.0.9", "Hall", "uuid:RINCON_H1400");
    auto &hung = player("127.0.0.8", "Never", "uuid:RINCON_N1400");
    hung.behaviour[kPath] = FakeSonosPlayer::Behaviour::Hang;
    auto &kitchen = player("127.0.0.2", "Kitchen", "uuid:RINCON_K1400");
    auto &kitchenAgain = player("127.0.0.12", "Kitchen again", "uuid:RINCON_K1400");
    auto &den = player("127.0.0.5", "\n  Den  ", {}, 80);
    auto &roomless = player("127.0.0.6", {}, "uuid:RINCON_R1400");
    auto &printer = player("127.0.0.7", "Printer", "uuid:PRINTER", 80);

    m_locations << location("LOCATION", hung);
    for (const char *header : {"LOCATION", "LoCaTiOn", "LOCATION"})
        m_locations << location(header, kitchen);
    m_locations << location("Location", kitchenAgain);
    m_locations << "LOCATION: http://127.0.0.5/xml/device_description.xml"; // no port: 80
    m_locations << location("location", roomless);
    m_locations << "LOCATION: http://127.0.0.7:80/printer.xml";
    m_locations << " " + location("LOCATION", printer);

    SonosDiscovery discovery(SonosDiscovery::Options{std::chrono::milliseconds(500)});
    QElapsedTimer clock;
    clock.start();
    auto scan = discovery.discover(1.0);
    // An unsolicited announcement from another player reaches the group port.
    m_responder.writeDatagram("NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNTS: ssdp:alive\r\n" +
                                  location("LOCATION", hall) + "\r\n\r\n",
                              kGroup, 1900);
    QList<Speaker> speakers = QCoro::waitFor(scan);
    EXPECT_GE(clock.elapsed(), 1000); // replies do not cut the window short
    node.closeWriteChannel();
    QCoro::waitFor(qCoro(node).waitForFinished(std::chrono::seconds(5)));

    EXPECT_EQ(m_searches, QList<QByteArray>{"M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n"
                                            "MAN: \"ssdp:discover\"\r\nMX: 1\r\n"
                                            "ST: urn:schemas-upnp-org:device:ZonePlayer:1\r\n\r\n"});
    // The independent responder answers after its own delay, so compare in id order.
    std::ranges::sort(speakers, {}, &Speaker::id);
    EXPECT_EQ(speakers, (QList<Speaker>{
                            {u"sonos:127.0.0.5"_s, SpeakerKind::Sonos, u"Den"_s, den.host(), 1400, QString()},
                            speaker(u"RINCON_H1400"_s, u"Hall"_s, hall),
                            speaker(u"RINCON_K1400"_s, u"Kitchen"_s, kitchen),
                            speaker(u"RINCON_NODE1400"_s, u"Office"_s, office)}));
    // Each distinct location is fetched once; the printer never.
    for (const auto *fetched : {&kitchen, &kitchenAgain, &hung, &roomless})
        EXPECT_EQ(fetched->requests.size(), 1) << fetched->host().toStdString();
    EXPECT_TRUE(printer.requests.isEmpty());
}
