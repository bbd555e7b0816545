// SSDP discovery against responders on lo. This program multicasts, so it
// only runs inside the private network namespace that run-in-netns.sh makes;
// that namespace also puts 10.77.9.1 and 10.77.9.2 on its lo, addresses that
// Qt would send through a proxy (it never proxies loopback ones).
#include "house/devices/SsdpResponder.h"
#include "sonos/SonosControl.h"
#include "sonos/SonosDiscovery.h"
#include "support/FakeSonosPlayer.h"
#include "support/MdnsSandbox.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <QCoro/QCoroProcess>
#include <QCoro/QCoroTask>
#include <gtest/gtest.h>

#include <deque>

using namespace pealix;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using test::FakeSonosPlayer;

namespace {

QByteArray location(const char *header, const FakeSonosPlayer &player)
{
    return header + (": " + player.descriptionUrl()).toUtf8();
}

// The players' SSDP side: records every M-SEARCH and answers it with one
// unicast reply per location line.
using Responder = house::SsdpResponder;

// A proxy that counts who reached it and answers nothing.
struct RecordingProxy : QTcpServer
{
    RecordingProxy()
    {
        setProxy(QNetworkProxy::NoProxy);
        listen(QHostAddress::LocalHost);
    }

    void incomingConnection(qintptr descriptor) override
    {
        ++connections;
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
    }

    int connections = 0;
};

// The environment of a company laptop, and a Qt application that follows it:
// every socket that does not opt out goes through `proxy`. Undone on leaving.
struct ProxiedProcess
{
    explicit ProxiedProcess(const RecordingProxy &proxy)
    {
        const QByteArray url = "socks5://127.0.0.1:" + QByteArray::number(proxy.serverPort());
        for (const char *variable : {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "ALL_PROXY"})
            qputenv(variable, url);
        qunsetenv("no_proxy");
        qunsetenv("NO_PROXY");
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::Socks5Proxy, u"127.0.0.1"_s, proxy.serverPort()));
    }
    ~ProxiedProcess()
    {
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        for (const char *variable : {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "ALL_PROXY"})
            qunsetenv(variable);
    }
};

std::string refusal()
{
    return test::sandboxRefusal();
}

} // namespace

TEST(SsdpDiscoveryTest, FindsPlayersFromRepliesAndAdvertisements)
{
    PEALIX_REQUIRE(refusal().empty(), "SSDP runs only inside tests/support/run-in-netns.sh: " + refusal());
    const QString peers = qEnvironmentVariable("PEALIX_NODE_PEERS");
    PEALIX_REQUIRE(test::havePrograms({u"node"_s}) && QFile::exists(peers + "/node_modules/node-ssdp"),
                   "node and the node-ssdp package (npm ci in tests/sonos) are needed");

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
    FakeSonosPlayer den("127.0.0.5", "\n  Kid&apos;s Room &amp; Den  ", {}, 80);
    FakeSonosPlayer roomless("127.0.0.6", {}, "uuid:RINCON_R1400");
    FakeSonosPlayer printer("127.0.0.7", "Printer", "uuid:PRINTER", 80);
    FakeSonosPlayer huge("127.0.0.10", QByteArray(2 << 20, ' ') + "Big", "uuid:RINCON_BIG");

    // Den's location has no port, so 80; the printer's does not look like a player's, and a line
    // starting with a space is no location header.
    Responder responder({location("LOCATION", hung), location("LOCATION", kitchen),
                         location("LoCaTiOn", kitchen), location("LOCATION", kitchen),
                         location("Location", kitchenAgain),
                         "LOCATION: http://127.0.0.5/xml/device_description.xml",
                         location("location", roomless), "LOCATION: http://127.0.0.7:80/printer.xml",
                         " " + location("LOCATION", printer), location("LOCATION", huge)});
    ASSERT_TRUE(responder.listening);

    SonosDiscovery discovery(SonosDiscovery::Options{500ms});
    QElapsedTimer clock;
    clock.start();
    auto scan = discovery.discover(1.0);
    // An unsolicited announcement from another player reaches the group port.
    responder.notify("NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNTS: ssdp:alive\r\n" +
                     location("LOCATION", hall) + "\r\n\r\n");
    QList<Speaker> speakers = QCoro::waitFor(scan);
    EXPECT_GE(clock.elapsed(), 1000); // replies do not cut the window short
    node.closeWriteChannel();
    QCoro::waitFor(qCoro(node).waitForFinished(std::chrono::seconds(5)));

    EXPECT_EQ(responder.searches, QList<QByteArray>{"M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n"
                                                    "MAN: \"ssdp:discover\"\r\nMX: 1\r\n"
                                                    "ST: urn:schemas-upnp-org:device:ZonePlayer:1\r\n\r\n"});
    // The independent responder answers after its own delay, so compare in id order.
    std::ranges::sort(speakers, {}, &Speaker::id);
    const auto found = [](const FakeSonosPlayer &player, const QString &uuid, const QString &name) {
        return Speaker{"sonos:" + uuid, SpeakerKind::Sonos, name, player.host(), player.port(), uuid};
    };
    EXPECT_EQ(speakers, (QList<Speaker>{{u"sonos:127.0.0.5"_s, SpeakerKind::Sonos, u"Kid's Room & Den"_s,
                                         den.host(), 1400, QString()},
                                        found(hall, u"RINCON_H1400"_s, u"Hall"_s),
                                        found(kitchen, u"RINCON_K1400"_s, u"Kitchen"_s),
                                        found(office, u"RINCON_NODE1400"_s, u"Office"_s)}));
    // Each distinct location is fetched once; the printer never.
    for (const auto *fetched : {&kitchen, &kitchenAgain, &hung, &roomless, &huge})
        EXPECT_EQ(fetched->requests.size(), 1) << fetched->host().toStdString();
    EXPECT_TRUE(printer.requests.isEmpty());
}

TEST(SsdpDiscoveryTest, AScanEndsInTimeWhateverThePlayersDo)
{
    PEALIX_REQUIRE(refusal().empty(), "SSDP runs only inside tests/support/run-in-netns.sh: " + refusal());
    // One player takes the connection and never answers; ten are slow; two answer at once. All
    // count their open requests together.
    auto concurrency = std::make_shared<FakeSonosPlayer::Concurrency>();
    std::deque<FakeSonosPlayer> players;
    const auto addPlayer = [&](int index, std::chrono::milliseconds delay) -> FakeSonosPlayer & {
        const QByteArray address = "127.0.1." + QByteArray::number(index);
        FakeSonosPlayer &player =
            players.emplace_back(address.constData(), "Room " + QByteArray::number(index),
                                 "uuid:RINCON_" + QByteArray::number(index));
        player.answerDelay = delay;
        player.concurrency = concurrency;
        return player;
    };
    addPlayer(1, 0ms).behaviour[FakeSonosPlayer::kDescriptionPath] = FakeSonosPlayer::Behaviour::Hang;
    for (int index = 2; index <= 11; ++index)
        addPlayer(index, 300ms);
    addPlayer(12, 0ms);
    addPlayer(13, 0ms);
    QList<QByteArray> locations;
    for (const FakeSonosPlayer &player : players)
        locations << location("LOCATION", player);
    Responder responder(locations);
    ASSERT_TRUE(responder.listening);

    // A window of 2 s or more is where a coarse timer may end early.
    constexpr double kWindow = 2.0;
    SonosDiscovery discovery;
    QElapsedTimer clock;
    clock.start();
    const QList<Speaker> speakers = QCoro::waitFor(discovery.discover(kWindow));
    const qint64 elapsed = clock.elapsed();

    EXPECT_GE(elapsed, 2000);
    EXPECT_LE(elapsed, 4000 + 250); // the window plus the 2 s the descriptions get, and a little
    for (const FakeSonosPlayer &player : players)
        EXPECT_EQ(player.requests.size(), 1) << player.host().toStdString();
    EXPECT_EQ(concurrency->peak, 8);
    QStringList names;
    for (const Speaker &speaker : speakers)
        names << speaker.name;
    EXPECT_EQ(names.join(u','),
              u"Room 2,Room 3,Room 4,Room 5,Room 6,Room 7,Room 8,Room 9,Room 10,Room 11,Room 12,Room 13"_s);
}

TEST(SsdpDiscoveryTest, SpeakerTrafficNeverGoesThroughAProxy)
{
    PEALIX_REQUIRE(refusal().empty(), "SSDP runs only inside tests/support/run-in-netns.sh: " + refusal());
    FakeSonosPlayer kitchen("10.77.9.1", "Kitchen", "uuid:RINCON_K1400", 1400);
    PEALIX_REQUIRE(kitchen.port() == 1400,
                   "needs 10.77.9.1 on lo, which the namespace of this test's run adds");
    kitchen.setState(FakeSonosPlayer::queue(4, 20s, u"PAUSED_PLAYBACK"_s));
    Responder responder({location("LOCATION", kitchen)});
    ASSERT_TRUE(responder.listening);
    RecordingProxy proxy;
    ASSERT_TRUE(proxy.isListening());
    const ProxiedProcess proxied(proxy);

    SonosDiscovery discovery;
    const QList<Speaker> speakers = QCoro::waitFor(discovery.discover(0.5));
    ASSERT_EQ(speakers.size(), 1);
    const SonosControl control;
    const auto snapshot = QCoro::waitFor(control.snapshot(speakers.first()));
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(QCoro::waitFor(control.play(u"http://10.77.9.2:1/clip.m4a"_s, speakers.first(), 30)),
              DeviceReply::accepted());
    QCoro::waitFor(control.restore(*snapshot, speakers.first()));

    EXPECT_EQ(kitchen.actions.join(u' '),
              u" GetMediaInfo GetPositionInfo GetTransportInfo GetVolume SetAVTransportURI "
              u"SetVolume Play SetAVTransportURI SetVolume Seek Seek"_s);
    EXPECT_EQ(kitchen.state().transportState, u"STOPPED"_s);
    EXPECT_EQ(responder.searches.size(), 1);
    EXPECT_EQ(proxy.connections, 0);

    // The proxy is in force for a socket that does not opt out: the check above means something.
    QTcpSocket other;
    other.connectToHost(kitchen.host(), kitchen.port());
    EXPECT_TRUE(QTest::qWaitFor([&proxy] { return proxy.connections > 0; }, 5000));
}
