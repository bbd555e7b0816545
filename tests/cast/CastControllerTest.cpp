#include "cast/CastController.h"
#include "cast/CastTestWait.h"
#include "cast/FakeCastDevice.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

using namespace pealix;
using namespace pealix::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using Device = FakeCastDevice;

namespace {

const QString connectJson = uR"({"type":"CONNECT"})"_s;
const QString pong = uR"({"type":"PONG"})"_s;
const QString connectLine = "receiver-0 connection " + connectJson;
const QString launchLine = uR"(receiver-0 receiver {"type":"LAUNCH","appId":"CC1AD845","requestId":1})"_s;
const QString pongLine = "receiver-0 heartbeat " + pong;
const Device::Step ping = Device::message(u"tp.heartbeat"_s, uR"({"type":"PING"})"_s);

QString status(const QString &applications)
{
    return uR"({"type":"RECEIVER_STATUS","requestId":1,"status":{"applications":%1}})"_s.arg(applications);
}

QString loadLine(const QString &transport, const QString &url)
{
    return transport + uR"( media {"type":"LOAD","requestId":2,"autoplay":true,"media":{"contentId":")"_s +
           url + uR"(","streamType":"BUFFERED","contentType":"audio/mp4"}})"_s;
}

// Each test owns a device on loopback and a controller pointed at it.
class CastControllerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        PEALIX_REQUIRE(Device::tls().error.isEmpty(), Device::tls().error.toStdString());
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

    std::optional<bool> prepare()
    {
        auto task = controller->prepare(speaker);
        return finish(task);
    }

    Device device;
    Speaker speaker;
    std::unique_ptr<CastController> controller;
};

} // namespace

TEST_F(CastControllerTest, FullSessionSendsExactMessagesAndClosesAfterTheHold)
{
    // The first application has no transport id yet; the second one's is used.
    device.onLaunch = {Device::message(
        u"receiver"_s, status(uR"([{"appId":"X"},{"appId":"CC1AD845","transportId":"web-7"}])"_s))};
    ASSERT_EQ(prepare(), true);

    // A quote in the URL goes in unescaped.
    const QString url = uR"(http://127.0.0.1:8080/cl"ip.m4a)"_s;
    QElapsedTimer held;
    held.start();
    auto play = controller->play(url, 0.2);
    ASSERT_TRUE(finish(play));
    EXPECT_GE(held.elapsed(), 1200);
    ASSERT_TRUE(waitUntil([this] { return device.peerClosed(); }));
    EXPECT_EQ(device.received, QStringList({connectLine, launchLine, "web-7 connection " + connectJson,
                                            loadLine("web-7", url)}));
    // LOAD reaches the device a little after it is sent, so allow for that transit.
    EXPECT_GE(device.closedAtMs - device.lastFrameAtMs, 1200 - 50);
}

TEST_F(CastControllerTest, OnlyTheFirstTransportIdCountsGarbageIsIgnoredAndEveryPingIsAnswered)
{
    // A payload that claims more bytes than its frame holds.
    const QByteArray garbage = QByteArray::fromHex("00000008 32ffffffff0f") + "xx";
    // Invalid UTF-8 where the JSON needs a value: repaired to U+FFFD, then not JSON.
    const QByteArray badUtf8 =
        Device::message(u"receiver"_s, uR"({"status":@@@@})"_s).bytes.replace("@@@@", "\xff\xfe\xfd\xfc");
    const QString t1 = status(uR"([{"pad":"%1","transportId":"t-1"}])"_s.arg(QString(300 * 1024, u'p')));
    // Besides: a ping from an unusual source (answered to the platform receiver), a
    // stray PONG, a status before the application is up, one in the wrong namespace,
    // the real one spread over many reads, a different id, and a ping after it.
    device.onLaunch = {Device::message(u"tp.heartbeat"_s, uR"({"type":"PING"})"_s, u"Tr-9"_s),
                       Device::message(u"tp.heartbeat"_s, pong),
                       {garbage},
                       {badUtf8},
                       Device::message(u"receiver"_s, uR"({"type":"RECEIVER_STATUS","status":{}})"_s),
                       Device::message(u"receiver"_s, u"[1,2,3]"_s),
                       Device::message(u"media"_s, status(uR"([{"transportId":"media"}])"_s)),
                       Device::message(u"receiver"_s, t1),
                       Device::message(u"receiver"_s, status(uR"([{"transportId":"t-2"}])"_s)),
                       ping};
    device.onLoad = {ping};
    ASSERT_EQ(prepare(), true);
    EXPECT_EQ(controller->transportID(), "t-1");
    ASSERT_TRUE(waitUntil([this] { return device.received.size() == 5; }));

    // A long clip: the test ends it by dropping the controller mid-hold, which
    // must end the waiting play without touching the dead controller.
    auto play = controller->play(u"http://h/c.m4a"_s, 600);
    ASSERT_TRUE(waitUntil([this] { return device.received.size() == 7; }));
    EXPECT_EQ(device.received,
              QStringList({connectLine, launchLine, pongLine, "t-1 connection " + connectJson, pongLine,
                           loadLine("t-1", "http://h/c.m4a"), pongLine}));
    EXPECT_FALSE(play.isReady());
    controller.reset();
    EXPECT_TRUE(finish(play));
}

TEST_F(CastControllerTest, HostileDevicesFailPrepareAndEndTheSession)
{
    using enum Device::Accept;
    const std::tuple<const char *, Device::Accept, QList<Device::Step>> rows[] = {
        {"closes right after accept", CloseAtOnce, {}},
        {"announces a 4 GiB frame", Handshake, {{QByteArray(4, '\xff') + "a few bytes"}}},
        {"resets mid-frame",
         Handshake,
         {{Device::message(u"receiver"_s, status("[]")).bytes.left(30), Device::Step::Reset}}},
        // Far more pings than the kernel's socket buffers can absorb pongs for.
        {"pings but never reads", Handshake, {{ping.bytes.repeated(200000), Device::Step::StopReading}}},
    };
    for (const auto &[what, accept, onLaunch] : rows) {
        SCOPED_TRACE(what);
        Device hostile;
        hostile.accept = accept;
        hostile.onLaunch = onLaunch;
        pointAt(hostile);
        EXPECT_EQ(prepare(), false);
        EXPECT_EQ(hostile.connections, 1);
        EXPECT_TRUE(waitUntil([&hostile] { return hostile.peerClosed(); }));
    }
}

TEST_F(CastControllerTest, SilentDeviceTimeoutCloseAndDestructionAllResumeTheCaller)
{
    // The production timeout counts from the connection start, so it covers TLS.
    Device stalled;
    stalled.accept = Device::Accept::NeverHandshake;
    pointAt(stalled);
    controller->setTimings({});
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(prepare(), false);
    EXPECT_GE(clock.elapsed(), 6000);

    pointAt(device, 300ms);
    EXPECT_EQ(prepare(), false);
    EXPECT_FALSE(device.peerClosed()); // until close()
    // Without a transport id, play neither sends nor holds.
    auto play = controller->play(u"http://h/c.m4a"_s, 600);
    EXPECT_TRUE(play.isReady());
    controller->close();
    ASSERT_TRUE(waitUntil([this] { return device.peerClosed(); }));
    EXPECT_EQ(device.received, QStringList({connectLine, launchLine}));
    auto again = controller->prepare(speaker); // one use only
    EXPECT_EQ(finish(again), false);

    // A prepare still waiting when the controller is closed or destroyed.
    for (const bool destroy : {false, true}) {
        pointAt(device);
        auto pending = controller->prepare(speaker);
        const qsizetype sent = device.received.size() + 2;
        ASSERT_TRUE(waitUntil([this, sent] { return device.received.size() == sent; }));
        if (destroy)
            controller.reset();
        else
            controller->close();
        EXPECT_EQ(finish(pending), false) << destroy;
    }
}

TEST_F(CastControllerTest, PortsOutsideTheRangeFailAtOnce)
{
    // The last one would reach the device if the port were cut down to 32 bits.
    for (const qint64 port : {qint64(-1), qint64(0), qint64(65536), qint64(1) << 32 | device.serverPort()}) {
        controller = std::make_unique<CastController>();
        speaker.port = port;
        auto task = controller->prepare(speaker);
        EXPECT_TRUE(task.isReady()) << port;
        EXPECT_EQ(finish(task), false);
    }
    EXPECT_EQ(device.connections, 0);
}

TEST(CastControllerTransportId, ShapeRules)
{
    const std::pair<const char *, std::optional<QString>> rows[] = {
        {R"({"status":{"applications":[{"transportId":"a"},{"transportId":"b"}]}})", "a"},
        {R"({"status":{"applications":[{},{"transportId":1},{"transportId":"b"}]}})", "b"},
        {R"({"type":"MEDIA_STATUS","status":{"applications":[{"transportId":""}]}})", ""},
        {R"({"status":{"applications":[]}})", std::nullopt},
        {R"({"status":{"applications":[{"transportId":"a"},3]}})", std::nullopt},
        {R"({"status":{"applications":{"transportId":"a"}}})", std::nullopt},
        {R"({"status":[{"applications":[{"transportId":"a"}]}]})", std::nullopt},
        {R"([{"status":{"applications":[{"transportId":"a"}]}}])", std::nullopt},
        {R"({"status":{"applications":[{"transportId":"a"}]})", std::nullopt},
    };
    for (const auto &[json, expected] : rows)
        EXPECT_EQ(CastController::transportId(QString::fromUtf8(json)), expected) << json;
}
