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

using namespace pealix;
using namespace Qt::StringLiterals;
using test::FakeSonosPlayer;

TEST(SsdpDiscoveryTest, FindsPlayersFromRepliesAndAdvertisements)
{
    const std::string refusal = test::sandboxRefusal();
    PEALIX_REQUIRE(refusal.empty(), "SSDP runs only inside tests/support/run-in-netns.sh: " + refusal);
    const QString peers = qEnvironmentVariable("PEALIX_NODE_PEERS");
    PEALIX_REQUIRE(test::havePrograms({u"node"_s}) && QFile::exists(peers + "/node_modules/node-ssdp"),
                   "node and the node-ssdp package (npm ci in tests/sonos) are needed");

    // Each reply or advertisement carries one location line pointing at a fake player's description.
    const auto location = [](const char *header, const FakeSonosPlayer &player) {
        return header + (": " + player.descriptionUrl()).toUtf8();
    };
    const QHostAddress group(u"239.255.255.250"_s);

    // An independent responder announcing one more player.
    FakeSonosPlayer office("127.0.0.3", "Office", "uuid:RINCON_NODE1400");
    qputenv("NODE_PATH", (peers + u"/node_modules"_s).toLocal8Bit());
    QProcess node;
    node.start(u"node"_s, {qEnvironmentVariable("PEALIX_SSDP_PEER"), office.descriptionUrl()});
    // It writes "ready" once it listens; on failure it only writes to stderr and ends.
    ASSERT_TRUE(QCoro::waitFor(qCoro(node).waitForReadyRead(std::chrono::seconds(20))));

    FakeSonosPlayer hall("127.0.0.9", "Hall", "uuid:RINCON_H1400");
    FakeSonosPlayer hung("127.0.0.8", "Never", "uuid:RINCON_N1400");
    hung.behaviour[FakeSonosPlayer::kDescriptionPath] = FakeSonosPlayer::Behaviour::Hang;
    FakeSonosPlayer kitchen("127.0.0.2", "Kitchen", "uuid:RINCON_K1400");
    FakeSonosPlayer kitchenAgain("127.0.0.12", "Kitchen again", "uuid:RINCON_K1400");
    FakeSonosPlayer den("127.0.0.5", "\n  Den  ", {}, 80);
    FakeSonosPlayer roomless("127.0.0.6", {}, "uuid:RINCON_R1400");
    FakeSonosPlayer printer("127.0.0.7", "Printer", "uuid:PRINTER", 80);
    FakeSonosPlayer huge("127.0.0.10", QByteArray(2 << 20, ' ') + "Big", "uuid:RINCON_BIG");

    // Den's location has no port, so 80; the printer's does not look like a player's, and a line
    // starting with a space is no location header.
    const QList<QByteArray> locations = {
        location("LOCATION", hung),          location("LOCATION", kitchen),
        location("LoCaTiOn", kitchen),       location("LOCATION", kitchen),
        location("Location", kitchenAgain),  "LOCATION: http://127.0.0.5/xml/device_description.xml",
        location("location", roomless),      "LOCATION: http://127.0.0.7:80/printer.xml",
        " " + location("LOCATION", printer), location("LOCATION", huge)};
    // The players' SSDP side: records every M-SEARCH and answers it with one unicast reply per location.
    QUdpSocket responder;
    QList<QByteArray> searches;
    QObject::connect(&responder, &QUdpSocket::readyRead, &responder, [&] {
        while (responder.hasPendingDatagrams()) {
            const QNetworkDatagram search = responder.receiveDatagram();
            if (!search.data().startsWith("M-SEARCH"))
                continue;
            searches << search.data();
            for (const QByteArray &line : locations)
                responder.writeDatagram("HTTP/1.1 200 OK\r\nEXT:\r\n" + line +
                                            "\r\nST: urn:schemas-upnp-org:device:ZonePlayer:1\r\n\r\n",
                                        search.senderAddress(), quint16(search.senderPort()));
        }
    });
    ASSERT_TRUE(responder.bind(QHostAddress::AnyIPv4, 1900,
                               QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint) &&
                responder.joinMulticastGroup(group));

    SonosDiscovery discovery(SonosDiscovery::Options{std::chrono::milliseconds(500)});
    QElapsedTimer clock;
    clock.start();
    auto scan = discovery.discover(1.0);
    // An unsolicited announcement from another player reaches the group port.
    responder.writeDatagram("NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNTS: ssdp:alive\r\n" +
                                location("LOCATION", hall) + "\r\n\r\n",
                            group, 1900);
    QList<Speaker> speakers = QCoro::waitFor(scan);
    EXPECT_GE(clock.elapsed(), 1000); // replies do not cut the window short
    node.closeWriteChannel();
    QCoro::waitFor(qCoro(node).waitForFinished(std::chrono::seconds(5)));

    EXPECT_EQ(searches, QList<QByteArray>{"M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n"
                                          "MAN: \"ssdp:discover\"\r\nMX: 1\r\n"
                                          "ST: urn:schemas-upnp-org:device:ZonePlayer:1\r\n\r\n"});
    // The independent responder answers after its own delay, so compare in id order.
    std::ranges::sort(speakers, {}, &Speaker::id);
    const auto found = [](const FakeSonosPlayer &player, const QString &uuid, const QString &name) {
        return Speaker{"sonos:" + uuid, SpeakerKind::Sonos, name, player.host(), player.port(), uuid};
    };
    EXPECT_EQ(speakers, (QList<Speaker>{
                            {u"sonos:127.0.0.5"_s, SpeakerKind::Sonos, u"Den"_s, den.host(), 1400, QString()},
                            found(hall, u"RINCON_H1400"_s, u"Hall"_s),
                            found(kitchen, u"RINCON_K1400"_s, u"Kitchen"_s),
                            found(office, u"RINCON_NODE1400"_s, u"Office"_s)}));
    // Each distinct location is fetched once; the printer never.
    for (const auto *fetched : {&kitchen, &kitchenAgain, &hung, &roomless, &huge})
        EXPECT_EQ(fetched->requests.size(), 1) << fetched->host().toStdString();
    EXPECT_TRUE(printer.requests.isEmpty());
}
