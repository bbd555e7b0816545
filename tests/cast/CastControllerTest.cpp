#include "cast/CastController.h"
#include "support/FakeCastDevice.h"
#include "support/TestEnvironment.h"

#include <QFileInfo>
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

using namespace pealix;
using namespace pealix::test;
using namespace std::chrono_literals;
using Device = FakeCastDevice;

namespace {

// From an unusual source: the answer still goes to the platform receiver.
const Device::Step ping = Device::message(u"tp.heartbeat"_s, uR"({"type":"PING"})"_s, u"Tr-9"_s);

Device::Step status(const QString &applications, const QString &ns = u"receiver"_s)
{
    return Device::message(
        ns, uR"({"type":"RECEIVER_STATUS","requestId":1,"status":{"applications":%1}})"_s.arg(applications));
}

// Each test owns a device on loopback and a controller pointed at it.
class CastControllerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        PEALIX_REQUIRE(!Device::tlsDir().isEmpty(), "openssl made no certificate");
        speaker.kind = SpeakerKind::Chromecast;
        speaker.host = u"127.0.0.1"_s;
        pointAt(device);
    }

    // The long default means a prepare that ends early was ended by the device.
    void pointAt(Device &target, std::chrono::milliseconds prepareTimeout = 60s)
    {
        ASSERT_TRUE(target.isListening() || target.start());
        speaker.port = target.serverPort();
        controller = std::make_unique<CastController>();
        controller->setTimings({prepareTimeout, 1000ms});
    }

    Device device;
    Speaker speaker;
    std::unique_ptr<CastController> controller;
};

} // namespace

TEST_F(CastControllerTest, OnlyTheFirstTransportIdCountsGarbageIsIgnoredAndEveryPingIsAnswered)
{
    // Invalid UTF-8 where the JSON needs a value: repaired to U+FFFD, then not JSON.
    const QByteArray badUtf8 =
        Device::message(u"receiver"_s, uR"({"status":@@@@})"_s).bytes.replace("@@@@", "\xff\xfe\xfd\xfc");
    // Besides: a payload that claims more bytes than its frame holds, a status before the application is up,
    // one in the wrong namespace, the real one spread over many reads, a different id, and a ping after it.
    device.onLaunch = {ping,
                       {QByteArray::fromHex("00000008 32ffffffff0f") + "xx"},
                       {badUtf8},
                       Device::message(u"receiver"_s, uR"({"type":"RECEIVER_STATUS","status":{}})"_s),
                       status(uR"([{"transportId":"media"}])"_s, u"media"_s),
                       status(uR"([{"pad":"%1","transportId":"t-1"}])"_s.arg(QString(300 * 1024, u'p'))),
                       status(uR"([{"transportId":"t-2"}])"_s),
                       ping};
    device.onLoad = {ping};
    ASSERT_EQ(finish(controller->prepare(speaker)), true);
    EXPECT_EQ(controller->transportID(), "t-1");
    ASSERT_TRUE(waitUntil([this] { return device.received.size() == 5; }));

    // A long clip: the test ends it by dropping the controller mid-hold, which
    // must end the waiting play without touching the dead controller.
    auto play = controller->play(u"http://h/c.m4a"_s, 600);
    ASSERT_TRUE(waitUntil([this] { return device.received.size() == 7; }));
    EXPECT_EQ(device.received, QStringList({connectTo(u"receiver-0"_s), launch, pong, connectTo(u"t-1"_s),
                                            pong, load(u"t-1"_s, u"http://h/c.m4a"_s), pong}));
    EXPECT_FALSE(play.isReady());
    controller.reset();
    EXPECT_TRUE(waitUntil([&play] { return play.isReady(); }));
}

TEST_F(CastControllerTest, HostileDevicesFailPrepareAndEndTheSession)
{
    using enum Device::Accept;
    const std::tuple<const char *, Device::Accept, QList<Device::Step>> rows[] = {
        {"closes right after accept", CloseAtOnce, {}},
        {"announces a 4 GiB frame", Handshake, {{QByteArray(4, '\xff') + "a few bytes"}}},
        {"resets mid-frame", Handshake, {{status(u"[]"_s).bytes.left(30), Device::Step::Reset}}},
        // Far more pings than the kernel's socket buffers can absorb pongs for.
        {"pings but never reads", Handshake, {{ping.bytes.repeated(200000), Device::Step::StopReading}}},
    };
    for (const auto &[what, accept, onLaunch] : rows) {
        SCOPED_TRACE(what);
        Device hostile;
        hostile.accept = accept;
        hostile.onLaunch = onLaunch;
        pointAt(hostile);
        EXPECT_EQ(finish(controller->prepare(speaker)), false);
        EXPECT_TRUE(waitUntil([&hostile] { return hostile.peerClosed(); }));
    }
}

TEST_F(CastControllerTest, SilentDeviceTimeoutCloseAndDestructionAllResumeTheCaller)
{
    // The timeout counts from the connection start, so it covers TLS.
    Device stalled;
    stalled.accept = Device::Accept::NeverHandshake;
    pointAt(stalled, 300ms);
    EXPECT_EQ(finish(controller->prepare(speaker)), false);

    // A prepare still waiting when the controller is closed, and then one when it is destroyed.
    pointAt(device);
    auto pending = controller->prepare(speaker);
    ASSERT_TRUE(waitUntil([this] { return device.received.size() == 2; }));
    // Without a transport id, play neither sends nor holds.
    auto play = controller->play(u"http://h/c.m4a"_s, 600);
    EXPECT_TRUE(play.isReady());
    controller->close();
    EXPECT_EQ(finish(std::move(pending)), false);
    ASSERT_TRUE(waitUntil([this] { return device.peerClosed(); }));
    EXPECT_EQ(device.received, QStringList({connectTo(u"receiver-0"_s), launch}));
    EXPECT_EQ(finish(controller->prepare(speaker)), false); // one use only

    pointAt(device);
    auto orphaned = controller->prepare(speaker);
    ASSERT_TRUE(waitUntil([this] { return device.received.size() == 4; }));
    controller.reset();
    EXPECT_EQ(finish(std::move(orphaned)), false);
}

TEST_F(CastControllerTest, PortsOutsideTheRangeFailAtOnce)
{
    // The last one would reach the device if the port were cut down to 32 bits.
    for (const qint64 port : {qint64(-1), qint64(0), qint64(65536), qint64(1) << 32 | device.serverPort()}) {
        controller = std::make_unique<CastController>();
        speaker.port = port;
        auto task = controller->prepare(speaker);
        EXPECT_TRUE(task.isReady()) << port;
        EXPECT_EQ(finish(std::move(task)), false);
    }
    EXPECT_EQ(device.connections, 0);
}

TEST(CastControllerTransportId, ShapeRules)
{
    const std::pair<const char *, std::optional<QString>> rows[] = {
        {R"({"status":{"applications":[{"transportId":"a"},{"transportId":"b"}]}})", "a"},
        {R"({"status":{"applications":[{},{"transportId":1},{"transportId":"b"}]}})", "b"},
        {R"({"status":{"applications":[]}})", std::nullopt},
        {R"({"status":{"applications":[{"transportId":"a"}]})", std::nullopt},
        // Only the default media receiver's id, or one whose application is not named, is ours.
        {R"({"status":{"applications":[{"appId":"E8C28D3C","isIdleScreen":true,"transportId":"idle"},)"
         R"({"appId":"CC1AD845","transportId":"web"}]}})",
         "web"},
        {R"({"status":{"applications":[{"appId":"E8C28D3C","isIdleScreen":true,"transportId":"idle"}]}})",
         std::nullopt},
        {R"({"status":{"applications":[{"appId":"E8C28D3C","transportId":"other"}]}})", std::nullopt},
        {R"({"status":{"applications":[{"isIdleScreen":true,"transportId":"idle"}]}})", std::nullopt},
        {R"({"status":{"applications":[{"appId":"CC1AD845","isIdleScreen":false,"transportId":"web"}]}})",
         "web"},
    };
    for (const auto &[json, expected] : rows)
        EXPECT_EQ(CastController::transportId(QString::fromUtf8(json)), expected) << json;
}

// The castv2 npm package plays the device: an encoder and decoder we did not write.
TEST_F(CastControllerTest, CastV2PeerReadsAFullSessionWithAnIndependentDecoder)
{
    const QString node = findProgram(u"node"_s);
    const QString dir = QStringLiteral(PEALIX_CASTV2_PEER_DIR);
    PEALIX_REQUIRE(!node.isEmpty() && QFileInfo::exists(dir + u"/node_modules/castv2/index.js"_s),
                   "node or the castv2 package (npm ci) is missing");

    // The device prints a line when it listens, one per frame and one when the connection closes.
    QProcess peer;
    peer.setWorkingDirectory(dir);
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.start(node, {u"castv2-device.js"_s, Device::tlsDir() + u"/device.key"_s,
                      Device::tlsDir() + u"/device.crt"_s});
    ASSERT_TRUE(waitUntil([&peer] { return peer.canReadLine(); })) << "the castv2 device did not start";
    speaker.port = QString::fromUtf8(peer.readLine()).section(' ', 1).toInt();
    ASSERT_EQ(finish(controller->prepare(speaker)), true);

    // The clip is long so that the device's ping during playback is surely
    // answered before the session ends; dropping the controller then ends it.
    const QString url = u"http://127.0.0.1:40000/clip.m4a"_s;
    auto play = controller->play(url, 600);
    ASSERT_TRUE(waitUntil([&peer] { return peer.peek(1 << 20).count('\n') >= 6; }));
    controller.reset();
    ASSERT_TRUE(waitUntil([&play] { return play.isReady(); }));
    ASSERT_TRUE(waitUntil([&peer] { return peer.state() == QProcess::NotRunning; }));
    // The device pings before it reports the application, and once more while the clip plays.
    EXPECT_EQ(QString::fromUtf8(peer.readAll()).trimmed().split('\n'),
              QStringList({connectTo(u"receiver-0"_s), launch, pong, connectTo(u"castv2-web-1"_s),
                           load(u"castv2-web-1"_s, url), pong, u"closed"_s}));
}
