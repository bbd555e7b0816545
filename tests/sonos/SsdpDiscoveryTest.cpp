// SSDP discovery against responders on lo. This program multicasts, so it
// only runs inside the private network namespace that run-in-netns.sh makes.
#include "sonos/SonosDiscovery.h"
#include "sonos/SsdpReply.h"
#include "support/FakeSonosPlayer.h"
#include "support/SsdpResponder.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkInterface>
#include <QProcess>

#include <QCoro/QCoroProcess>
#include <QCoro/QCoroTask>
#include <gtest/gtest.h>

#include <memory>

using namespace pealix;
using test::FakeSonosPlayer;
using test::SsdpResponder;

namespace {

const QString kDescriptionPath = QStringLiteral("/xml/device_description.xml");

// A namespace of our own: not the one of PID 1, and nothing but loopback in it.
bool insidePrivateNetworkNamespace()
{
    const QString own = QFile::symLinkTarget(QStringLiteral("/proc/self/ns/net"));
    const QString init = QFile::symLinkTarget(QStringLiteral("/proc/1/ns/net"));
    if (own.isEmpty() || own == init)
        return false;
    const auto interfaces = QNetworkInterface::allInterfaces();
    return std::all_of(interfaces.begin(), interfaces.end(), [](const QNetworkInterface &interface) {
        return interface.flags().testFlag(QNetworkInterface::IsLoopBack);
    });
}

#define REQUIRE_SANDBOX()                                                                                    \
    PEALIX_REQUIRE(insidePrivateNetworkNamespace(),                                                          \
                   "SSDP tests run only inside a fresh network namespace (tests/sonos/run-in-netns.sh)")

std::unique_ptr<FakeSonosPlayer> playerWith(const char *address, quint16 port, const QString &room,
                                            const QString &udn)
{
    auto player = std::make_unique<FakeSonosPlayer>(QHostAddress(QLatin1String(address)), port);
    player->setDescription(kDescriptionPath, FakeSonosPlayer::deviceDescription(room, udn));
    return player;
}

QByteArray locationOf(const char *header, const FakeSonosPlayer &player)
{
    return QByteArray(header) + ": http://" + player.host().toUtf8() + ':' +
           QByteArray::number(player.port()) + kDescriptionPath.toUtf8();
}

} // namespace

TEST(SsdpDiscovery, FindsPlayersFromRepliesAndAdvertisements)
{
    REQUIRE_SANDBOX();
    auto hall = playerWith("127.0.0.9", 0, QStringLiteral("Hall"), QStringLiteral("uuid:RINCON_H1400"));
    auto hung = playerWith("127.0.0.8", 0, QStringLiteral("Never"), QStringLiteral("uuid:RINCON_N1400"));
    hung->setHangingPath(kDescriptionPath);
    auto kitchen = playerWith("127.0.0.2", 0, QStringLiteral("Kitchen"), QStringLiteral("uuid:RINCON_K1400"));
    auto kitchenAgain =
        playerWith("127.0.0.12", 0, QStringLiteral("Kitchen again"), QStringLiteral("uuid:RINCON_K1400"));
    auto den = playerWith("127.0.0.5", 80, QStringLiteral("\n  Den  "), QString());
    auto roomless = playerWith("127.0.0.6", 0, QString(), QStringLiteral("uuid:RINCON_R1400"));
    auto printer = playerWith("127.0.0.7", 80, QStringLiteral("Printer"), QStringLiteral("uuid:PRINTER"));
    for (const auto *player : {hall.get(), hung.get(), kitchen.get(), kitchenAgain.get(), den.get(),
                               roomless.get(), printer.get()})
        ASSERT_TRUE(player->isListening()) << player->host().toStdString();

    SsdpResponder responder;
    ASSERT_TRUE(responder.start());
    responder.addReply(SsdpResponder::reply(locationOf("LOCATION", *hung)));
    responder.addReply(SsdpResponder::reply(locationOf("LOCATION", *kitchen)));
    for (const char *header : {"location", "Location", "LoCaTiOn", "LOCATION"})
        responder.addReply(SsdpResponder::reply(locationOf(header, *kitchen)));
    responder.addReply(SsdpResponder::reply(locationOf("Location", *kitchenAgain)));
    responder.addReply(SsdpResponder::reply("LOCATION: http://127.0.0.5/xml/device_description.xml"));
    responder.addReply(SsdpResponder::reply(locationOf("location", *roomless)));
    responder.addReply(SsdpResponder::reply("LOCATION: http://127.0.0.7:80/printer.xml"));
    responder.addReply(SsdpResponder::reply(" " + locationOf("LOCATION", *printer)));

    SonosDiscovery::Options options;
    options.descriptionTimeout = std::chrono::milliseconds(500);
    SonosDiscovery discovery(options);
    EXPECT_EQ(discovery.objectName(), QStringLiteral("org.pealix.Pealix.sonos.ssdp"));
    auto scan = discovery.discover(1.0);
    // An unsolicited announcement from another player reaches the group port.
    responder.advertise(
        "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNT: urn:schemas-upnp-org:device:ZonePlayer:1\r\n"
        "NTS: ssdp:alive\r\n" +
        locationOf("LOCATION", *hall) + "\r\n\r\n");
    const QList<Speaker> speakers = QCoro::waitFor(scan);

    ASSERT_EQ(responder.searches().size(), 1);
    EXPECT_EQ(responder.searches().first(), sonos::kZonePlayerSearch);
    const QList<Speaker> expected{
        {QStringLiteral("sonos:RINCON_H1400"), SpeakerKind::Sonos, QStringLiteral("Hall"), hall->host(),
         hall->port(), QStringLiteral("RINCON_H1400")},
        {QStringLiteral("sonos:RINCON_K1400"), SpeakerKind::Sonos, QStringLiteral("Kitchen"), kitchen->host(),
         kitchen->port(), QStringLiteral("RINCON_K1400")},
        {QStringLiteral("sonos:127.0.0.5"), SpeakerKind::Sonos, QStringLiteral("Den"),
         QStringLiteral("127.0.0.5"), 1400, QString()},
    };
    EXPECT_EQ(speakers, expected);
    // Each distinct location is fetched once; the printer never.
    EXPECT_EQ(kitchen->requests().size(), 1);
    EXPECT_EQ(kitchenAgain->requests().size(), 1);
    EXPECT_EQ(hung->requests().size(), 1);
    EXPECT_EQ(roomless->requests().size(), 1);
    EXPECT_TRUE(printer->requests().isEmpty());
}

TEST(SsdpDiscovery, AnIndependentResponderIsFound)
{
    REQUIRE_SANDBOX();
    const QString peers = qEnvironmentVariable("PEALIX_NODE_PEERS");
    PEALIX_REQUIRE(test::havePrograms({QStringLiteral("node")}) &&
                       QFile::exists(peers + "/node_modules/node-ssdp"),
                   "node and the node-ssdp package (npm ci in tests/sonos) are needed");
    auto office =
        playerWith("127.0.0.3", 0, QStringLiteral("Office"), QStringLiteral("uuid:RINCON_NODE1400"));

    QProcess node;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NODE_PATH"), peers + QStringLiteral("/node_modules"));
    node.setProcessEnvironment(environment);
    node.start(
        QStringLiteral("node"),
        {qEnvironmentVariable("PEALIX_SSDP_PEER"),
         QStringLiteral("http://%1:%2%3").arg(office->host()).arg(office->port()).arg(kDescriptionPath)});
    ASSERT_TRUE(QCoro::waitFor(qCoro(node).waitForReadyRead(std::chrono::seconds(20))));
    ASSERT_TRUE(node.readAllStandardOutput().contains("ready")) << node.readAllStandardError().toStdString();

    SonosDiscovery discovery;
    const QList<Speaker> speakers = QCoro::waitFor(discovery.discover(1.0));
    node.closeWriteChannel();
    QCoro::waitFor(qCoro(node).waitForFinished(std::chrono::seconds(5)));
    ASSERT_EQ(speakers.size(), 1);
    EXPECT_EQ(speakers[0].id, QStringLiteral("sonos:RINCON_NODE1400"));
    EXPECT_EQ(speakers[0].name, QStringLiteral("Office"));
}

TEST(SsdpDiscovery, AQuietNetworkGivesNothingAfterTheWholeWindow)
{
    REQUIRE_SANDBOX();
    SonosDiscovery discovery;
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(QCoro::waitFor(discovery.discover(0.5)).isEmpty());
    EXPECT_GE(clock.elapsed(), 500);
}

TEST(SsdpDiscovery, DroppingTheObjectEndsTheSearchWithWhatItHas)
{
    REQUIRE_SANDBOX();
    auto kitchen = playerWith("127.0.0.2", 0, QStringLiteral("Kitchen"), QStringLiteral("uuid:RINCON_K1400"));
    SsdpResponder responder;
    ASSERT_TRUE(responder.start());
    responder.addReply(SsdpResponder::reply(locationOf("LOCATION", *kitchen)));
    auto *discovery = new SonosDiscovery;
    auto search = discovery->findLocations(600.0);
    // Dropped as soon as the reply has been collected: the search must end then, not after ten minutes.
    QTimer::singleShot(300, discovery, [discovery] { delete discovery; });
    EXPECT_EQ(
        QCoro::waitFor(search),
        QStringList{QStringLiteral("http://127.0.0.2:%1%2").arg(kitchen->port()).arg(kDescriptionPath)});
}
