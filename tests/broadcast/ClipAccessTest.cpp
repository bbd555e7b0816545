// Who may fetch a broadcast's clip: the speakers it is sent to, on every
// address they are known by, and nobody else on the network, whether the clip
// is a push-to-talk recording or a saved message tapped in the panel. The
// stranger is another loopback address (Linux routes all of 127/8 to lo).
#include "broadcast/BroadcastRig.h"
#include "engine/AnnouncementCue.h"
#include "ui/PanelRig.h"
#include "ui/RowButton.h"

#include <QCoro/QCoroAbstractSocket>
#include <QTcpSocket>
#include <gtest/gtest.h>

using namespace pealix;
using namespace pealix::test;

namespace {

const QHostAddress stranger(u"127.0.0.2"_s);

// What a device on the network that is no speaker gets when it asks for the clip.
struct StrangerFetch
{
    bool connected = false; // the TCP handshake completed
    bool closed = false;    // then the server ended the connection
    QByteArray received;
};

QCoro::Task<StrangerFetch> fetchAsStranger(QUrl url)
{
    StrangerFetch fetch;
    QTcpSocket socket;
    if (!socket.bind(stranger))
        co_return fetch;
    fetch.connected = co_await qCoro(socket).connectToHost(QHostAddress(url.host()), quint16(url.port()));
    if (!fetch.connected)
        co_return fetch;
    socket.write("GET " + url.path().toLatin1() + " HTTP/1.1\r\nHost: " + url.authority().toLatin1() +
                 "\r\n\r\n");
    fetch.closed = co_await qCoro(socket).waitForDisconnected(5s);
    fetch.received = socket.readAll();
    co_return fetch;
}

// The stranger asks for the clip at `url` while the broadcast still runs.
void expectTurnedAway(const QString &url, const Broadcaster &broadcaster)
{
    ASSERT_FALSE(url.isEmpty());
    const StrangerFetch fetch = QCoro::waitFor(fetchAsStranger(QUrl(url)));
    EXPECT_EQ(broadcaster.status().kind, BroadcastStatus::Kind::Broadcasting) << "asked too late to tell";
    EXPECT_TRUE(fetch.connected);
    EXPECT_TRUE(fetch.closed);
    EXPECT_TRUE(fetch.received.isEmpty()) << "it was sent " << fetch.received.left(40).toStdString();
}

QString loadedUrl(const FakeCastDevice &device)
{
    const QStringList loads = device.received.filter(u"\"LOAD\""_s);
    return loads.isEmpty() ? QString() : loads.first().section(u"\"contentId\":\""_s, 1).section(u'"', 0, 0);
}

TEST(ClipAccess, AStrangerGetsNothingWhileEverySpeakerFetchesTheWholeRecording)
{
    // Long enough a hold that the stranger surely asks while the broadcast runs.
    BroadcastRig rig([](BroadcasterSetup &setup) { setup.holdPadding = 1500ms; });
    FakeSonosPlayer kitchen(QHostAddress::LocalHost);
    FakeCastDevice den;
    ASSERT_TRUE(startReceiver(den));
    const QList<Speaker> speakers{sonosSpeaker(kitchen, u"RINCON_K"_s), castSpeaker(den, u"Den"_s)};

    ASSERT_TRUE(rig.run(rig.broadcaster->startRecording(speakers)));
    ASSERT_TRUE(awaitReceiver(den));
    auto release = rig.broadcaster->stopAndSend(speakers);
    ASSERT_TRUE(waitUntil([&] { return !clipUrls(kitchen).isEmpty() && !loadedUrl(den).isEmpty(); }));
    EXPECT_EQ(loadedUrl(den), clipUrls(kitchen).first());
    expectTurnedAway(clipUrls(kitchen).first(), *rig.broadcaster);
    ASSERT_TRUE(rig.run(std::move(release)));

    ASSERT_FALSE(kitchen.fetches.isEmpty());
    EXPECT_EQ(kitchen.fetches.last().bytes, rig.clipBytes.size());
    EXPECT_EQ(den.fetchedBytes(), rig.clipBytes);
    EXPECT_EQ(rig.broadcaster->deliveries(), (QList<Delivery>{{speakers[0], Delivery::Outcome::Played, {}},
                                                              {speakers[1], Delivery::Outcome::Played, {}}}));
}

TEST(ClipAccess, ASavedMessageTappedInThePanelIsKeptFromStrangersToo)
{
    PanelRig rig;
    FakeSonosPlayer kitchen(QHostAddress::LocalHost);
    rig.saveMessage(u"Dinner"_s, rig.broadcast.clipBytes);
    const Speaker speaker = sonosSpeaker(kitchen, u"RINCON_K"_s);
    rig.findAndEnable({speaker});
    const QList<RowButton *> rows = children<RowButton>(rig.panel.get(), "messageRow");
    ASSERT_EQ(rows.size(), 1);
    settleLayouts();

    QTest::mouseClick(rows.first(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !clipUrls(kitchen).isEmpty(); }));
    expectTurnedAway(clipUrls(kitchen).first(), *rig.broadcast.broadcaster);
    ASSERT_TRUE(rig.awaitStatus(BroadcastStatus::Kind::Idle));
    EXPECT_EQ(kitchen.fetches.last().bytes, rig.broadcast.clipBytes.size());
    EXPECT_EQ(rig.broadcast.broadcaster->deliveries(),
              (QList<Delivery>{{speaker, Delivery::Outcome::Played, {}}}));
}

TEST(ClipAccess, APlayerWhoseFetchComesFromAnotherAddressHasNotPlayed)
{
    // Found at 127.0.0.3, it fetches from 127.0.0.1: as a player would whose
    // request leaves by another link than the one it answered discovery on.
    BroadcastRig rig;
    FakeSonosPlayer attic(QHostAddress(u"127.0.0.3"_s));
    const Speaker speaker = sonosSpeaker(attic, u"RINCON_A"_s);

    ASSERT_TRUE(rig.run(rig.broadcaster->broadcast(QUrl::fromLocalFile(rig.clipPath), {speaker}, 0.5)));
    EXPECT_EQ(clipUrls(attic).size(), 1); // it was told, and it tried
    ASSERT_FALSE(attic.fetches.isEmpty());
    EXPECT_EQ(attic.fetches.first().status, 0); // no answer came
    EXPECT_EQ(rig.broadcaster->deliveries(), (QList<Delivery>{{speaker, Delivery::Outcome::NoAnswer, {}}}));
}

TEST(ClipAccess, EachDeviceIsLetInOnItsOwnAddressesBeforeItIsGivenTheUrl)
{
    const QHostAddress first(u"10.0.0.5"_s), second(u"10.0.0.6"_s), loopback(u"127.0.0.1"_s);
    const struct
    {
        const char *situation;
        SpeakerEndpoint endpoint;
        bool loopbackSpeakers;
        QList<QHostAddress> letIn; // and the device gets a URL exactly when this is not empty
    } rows[] = {
        {"a name that resolves to two addresses", {{first, second}, u"10.0.0.1"_s}, false, {first, second}},
        {"a name that did not resolve", {{}, u"10.0.0.1"_s}, false, {}},
        {"none of our addresses reaches it", {{first}, std::nullopt}, false, {}},
        {"a device on loopback", {{loopback}, u"10.0.0.1"_s}, false, {}},
        {"loopback among its addresses", {{loopback, first}, u"10.0.0.1"_s}, false, {first}},
        {"loopback, in a test that allows it", {{loopback}, u"10.0.0.1"_s}, true, {loopback}},
    };
    for (const auto &row : rows) {
        QList<QHostAddress> told;
        AnnouncementCue cue;
        cue.port = 41234;
        cue.loopbackSpeakers = row.loopbackSpeakers;
        cue.allowFetches = [&told](const QList<QHostAddress> &peers) { told << peers; };
        const ClipAccess access = cue.openTo(row.endpoint);
        EXPECT_EQ(told, row.letIn) << row.situation;
        EXPECT_EQ(access.fetchers, row.letIn) << row.situation;
        EXPECT_EQ(access.url, row.letIn.isEmpty() ? QString() : u"http://10.0.0.1:41234/clip.m4a"_s)
            << row.situation;
    }
}

} // namespace
