// SSDP discovery against responders on lo. This program multicasts, so it
// only runs inside the private network namespace that run-in-netns.sh makes.
#include "sonos/SonosDiscovery.h"
#include "support/FakeSonosPlayer.h"
#include "support/MdnsSandbox.h"
#include "support/SsdpResponder.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <QCoro/QCoroProcess>
#include <QCoro/QCoroTask>
#include <gtest/gtest.h>

#include <memory>

using namespace pealix;
using namespace Qt::StringLiterals;
using test::FakeSonosPlayer;
using test::SsdpResponder;

namespace {

const QString kPath = u"/xml/device_description.xml"_s;

class SsdpDiscoveryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString refusal = test::sandboxRefusal("PEALIX_NETNS_INNER");
        PEALIX_REQUIRE(refusal.isEmpty(),
                       "SSDP runs only inside tests/sonos/run-in-netns.sh: " + refusal.toStdString());
    }

    FakeSonosPlayer &player(const char *address, const QString &room, const QString &udn, quint16 port = 0)
    {
        m_players.push_back(std::make_unique<FakeSonosPlayer>(QHostAddress(QLatin1String(address)), port));
        m_players.back()->setDescription(kPath, FakeSonosPlayer::deviceDescription(room, udn));
        EXPECT_TRUE(m_players.back()->isListening()) << address;
        return *m_players.back();
    }

    static QByteArray location(const char *header, const FakeSonosPlayer &player)
    {
        return QByteArray(header) + ": http://" + player.host().toUtf8() + ':' +
               QByteArray::number(player.port()) + kPath.toUtf8();
    }

    std::vector<std::unique_ptr<FakeSonosPlayer>> m_players;
};

} // namespace

TEST_F(SsdpDiscoveryTest, FindsPlayersFromRepliesAndAdvertisements)
{
    auto &hall = player("127.0.0.9", u"Hall"_s, u"uuid:RINCON_H1400"_s);
    auto &hung = player("127.0.0.8", u"Never"_s, u"uuid:RINCON_N1400"_s);
    hung.setDescription(kPath, QByteArray());
    auto &kitchen = player("127.0.0.2", u"Kitchen"_s, u"uuid:RINCON_K1400"_s);
    auto &kitchenAgain = player("127.0.0.12", u"Kitchen again"_s, u"uuid:RINCON_K1400"_s);
    auto &den = player("127.0.0.5", u"\n  Den  "_s, QString(), 80);
    auto &roomless = player("127.0.0.6", QString(), u"uuid:RINCON_R1400"_s);
    auto &printer = player("127.0.0.7", u"Printer"_s, u"uuid:PRINTER"_s, 80);

    SsdpResponder responder;
    ASSERT_TRUE(responder.start());
    responder.addReply(location("LOCATION", hung));
    for (const char *header : {"LOCATION", "location", "Location", "LoCaTiOn", "LOCATION"})
        responder.addReply(location(header, kitchen));
    responder.addReply(location("Location", kitchenAgain));
    responder.addReply("LOCATION: http://127.0.0.5/xml/device_description.xml"); // no port: 80
    responder.addReply(location("location", roomless));
    responder.addReply("LOCATION: http://127.0.0.7:80/printer.xml");
    responder.addReply(" " + location("LOCATION", printer));

    SonosDiscovery discovery(SonosDiscovery::Options{std::chrono::milliseconds(500)});
    auto scan = discovery.discover(1.0);
    // An unsolicited announcement from another player reaches the group port.
    responder.advertise("NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNT: "
                        "urn:schemas-upnp-org:device:ZonePlayer:1\r\nNTS: ssdp:alive\r\n" +
                        location("LOCATION", hall) + "\r\n\r\n");
    const QList<Speaker> speakers = QCoro::waitFor(scan);

    EXPECT_EQ(responder.searches(),
              QList<QByteArray>{"M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n"
                                "MAN: \"ssdp:discover\"\r\nMX: 1\r\n"
                                "ST: urn:schemas-upnp-org:device:ZonePlayer:1\r\n\r\n"});
    const QList<Speaker> expected{
        {u"sonos:RINCON_H1400"_s, SpeakerKind::Sonos, u"Hall"_s, hall.host(), hall.port(), u"RINCON_H1400"_s},
        {u"sonos:RINCON_K1400"_s, SpeakerKind::Sonos, u"Kitchen"_s, kitchen.host(), kitchen.port(),
         u"RINCON_K1400"_s},
        {u"sonos:127.0.0.5"_s, SpeakerKind::Sonos, u"Den"_s, den.host(), 1400, QString()},
    };
    EXPECT_EQ(speakers, expected);
    // Each distinct location is fetched once; the printer never.
    for (const auto *fetched : {&kitchen, &kitchenAgain, &hung, &roomless})
        EXPECT_EQ(fetched->requests().size(), 1) << fetched->host().toStdString();
    EXPECT_TRUE(printer.requests().isEmpty());
}

TEST_F(SsdpDiscoveryTest, AnIndependentResponderIsFound)
{
    const QString peers = qEnvironmentVariable("PEALIX_NODE_PEERS");
    PEALIX_REQUIRE(test::havePrograms({u"node"_s}) && QFile::exists(peers + "/node_modules/node-ssdp"),
                   "node and the node-ssdp package (npm ci in tests/sonos) are needed");
    auto &office = player("127.0.0.3", u"Office"_s, u"uuid:RINCON_NODE1400"_s);

    QProcess node;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"NODE_PATH"_s, peers + u"/node_modules"_s);
    node.setProcessEnvironment(environment);
    node.start(u"node"_s, {qEnvironmentVariable("PEALIX_SSDP_PEER"),
                           u"http://%1:%2%3"_s.arg(office.host()).arg(office.port()).arg(kPath)});
    ASSERT_TRUE(QCoro::waitFor(qCoro(node).waitForReadyRead(std::chrono::seconds(20))));
    ASSERT_TRUE(node.readAllStandardOutput().contains("ready")) << node.readAllStandardError().toStdString();

    SonosDiscovery discovery;
    const QList<Speaker> speakers = QCoro::waitFor(discovery.discover(1.0));
    node.closeWriteChannel();
    QCoro::waitFor(qCoro(node).waitForFinished(std::chrono::seconds(5)));
    EXPECT_EQ(speakers, (QList<Speaker>{{u"sonos:RINCON_NODE1400"_s, SpeakerKind::Sonos, u"Office"_s,
                                         office.host(), office.port(), u"RINCON_NODE1400"_s}}));
}

TEST_F(SsdpDiscoveryTest, AQuietNetworkWaitsTheWindowAndDroppingTheObjectEndsTheSearch)
{
    SonosDiscovery quiet;
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(QCoro::waitFor(quiet.discover(0.5)).isEmpty());
    EXPECT_GE(clock.elapsed(), 500);

    auto &kitchen = player("127.0.0.2", u"Kitchen"_s, u"uuid:RINCON_K1400"_s);
    SsdpResponder responder;
    ASSERT_TRUE(responder.start());
    responder.addReply(location("LOCATION", kitchen));
    auto *discovery = new SonosDiscovery;
    auto search = discovery->findLocations(600.0);
    // Dropped once the reply is in: the search must end then, not after ten minutes.
    QTimer::singleShot(300, discovery, [discovery] { delete discovery; });
    EXPECT_EQ(QCoro::waitFor(search), QStringList{u"http://127.0.0.2:%1%2"_s.arg(kitchen.port()).arg(kPath)});
}
