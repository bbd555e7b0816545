#include "cast/CastController.h"
#include "cast/CastTestWait.h"
#include "support/FakeCastDevice.h"
#include "support/TestEnvironment.h"
#include "support/TlsTestCertificate.h"

#include <QElapsedTimer>
#include <QtEndian>
#include <gtest/gtest.h>

#include <memory>

using namespace pealix;
using namespace pealix::test;
using namespace std::chrono_literals;
using Frame = FakeCastDevice::Frame;

namespace {

const QString connectionNs = QStringLiteral("urn:x-cast:com.google.cast.tp.connection");
const QString heartbeatNs = QStringLiteral("urn:x-cast:com.google.cast.tp.heartbeat");
const QString receiverNs = QStringLiteral("urn:x-cast:com.google.cast.receiver");
const QString mediaNs = QStringLiteral("urn:x-cast:com.google.cast.media");

QString status(const QString &applications)
{
    return QStringLiteral(R"({"type":"RECEIVER_STATUS","requestId":1,"status":{"applications":%1}})")
        .arg(applications);
}

const QString launchedT1 = status(QStringLiteral(R"([{"appId":"CC1AD845","transportId":"t-1"}])"));

// Each test owns a device on loopback and a controller pointed at it.
class CastControllerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        PEALIX_REQUIRE(TlsTestCertificate::shared().isValid(),
                       TlsTestCertificate::shared().error.toStdString());
        ASSERT_TRUE(device.start());
        speaker.id = QStringLiteral("cast:fake");
        speaker.kind = SpeakerKind::Chromecast;
        speaker.name = QStringLiteral("Fake");
        speaker.host = QStringLiteral("127.0.0.1");
        speaker.port = device.serverPort();
        controller = std::make_unique<CastController>();
    }

    void shorten(std::chrono::milliseconds prepareTimeout, std::chrono::milliseconds holdPadding = 1000ms)
    {
        controller->setTimings({prepareTimeout, holdPadding});
    }

    std::optional<bool> prepare(std::chrono::milliseconds limit = 10s)
    {
        auto task = controller->prepare(speaker);
        return finish(task, limit);
    }

    bool received(const QString &ns, const QString &payload) const
    {
        for (const Frame &frame : device.received())
            if (frame.namespace_ == ns && frame.payload == payload)
                return true;
        return false;
    }

    FakeCastDevice device;
    Speaker speaker;
    std::unique_ptr<CastController> controller;
};

void expectFrame(const Frame &frame, const QString &destination, const QString &ns, const QString &payload)
{
    EXPECT_EQ(frame.protocolVersion, 0);
    EXPECT_EQ(frame.payloadType, 0);
    EXPECT_EQ(frame.source, "sender-0");
    EXPECT_EQ(frame.destination, destination);
    EXPECT_EQ(frame.namespace_, ns);
    EXPECT_EQ(frame.payload, payload);
}

} // namespace

TEST_F(CastControllerTest, FullSessionSendsExactMessagesAndClosesAfterTheHold)
{
    EXPECT_EQ(controller->objectName(), "org.pealix.Pealix.cast.session");
    // The first application has no transport id yet; the second one's is used.
    device.setOnLaunch({FakeCastDevice::receiverStatus(
        status(QStringLiteral(R"([{"appId":"X"},{"appId":"CC1AD845","transportId":"web-7"}])")))});

    ASSERT_EQ(prepare(), true);
    EXPECT_EQ(controller->transportID(), "web-7");

    // A quote in the URL goes in unescaped; the padding is the production one.
    const QString url = QStringLiteral(R"(http://127.0.0.1:8080/cl"ip.m4a)");
    QElapsedTimer held;
    held.start();
    auto play = controller->play(url, 0.2);
    ASSERT_TRUE(finish(play));
    EXPECT_GE(held.elapsed(), 1200);
    ASSERT_TRUE(waitUntil([this] { return device.peerClosed(); }));

    const QList<Frame> frames = device.received();
    ASSERT_EQ(frames.size(), 4);
    expectFrame(frames[0], "receiver-0", connectionNs, R"({"type":"CONNECT"})");
    expectFrame(frames[1], "receiver-0", receiverNs, R"({"type":"LAUNCH","appId":"CC1AD845","requestId":1})");
    expectFrame(frames[2], "web-7", connectionNs, R"({"type":"CONNECT"})");
    expectFrame(frames[3], "web-7", mediaNs,
                QStringLiteral(R"({"type":"LOAD","requestId":2,"autoplay":true,"media":{"contentId":")") +
                    url + R"(","streamType":"BUFFERED","contentType":"audio/mp4"}})");
    // LOAD reaches the device a little after it is sent, so allow for that transit.
    EXPECT_GE(device.closedAtMs() - frames[3].atMs, 1200 - 50);
    EXPECT_EQ(controller->requestID(), 2);
    EXPECT_EQ(controller->clipURL(), url);
}

TEST_F(CastControllerTest, OnlyTheFirstTransportIdCounts)
{
    // A status before the application is up, an application list with a
    // non-object (invalid as a whole), then the real one, then a different id.
    device.setOnLaunch(
        {FakeCastDevice::receiverStatus(QStringLiteral(R"({"type":"RECEIVER_STATUS","status":{}})")),
         FakeCastDevice::receiverStatus(status(QStringLiteral(R"([{"transportId":"bad"},3])"))),
         FakeCastDevice::receiverStatus(launchedT1),
         FakeCastDevice::receiverStatus(status(QStringLiteral(R"([{"transportId":"t-2"}])"))),
         FakeCastDevice::ping()});
    ASSERT_EQ(prepare(), true);
    ASSERT_TRUE(waitUntil([this] { return !device.receivedIn(heartbeatNs).isEmpty(); }));
    EXPECT_EQ(controller->transportID(), "t-1");

    const QList<Frame> connects = device.receivedIn(connectionNs);
    ASSERT_EQ(connects.size(), 2);
    EXPECT_EQ(connects[1].destination, "t-1");
}

TEST_F(CastControllerTest, HeartbeatsAreAnsweredDuringLaunchAndPlay)
{
    // The ping comes from an unusual source; the answer still goes to the platform receiver.
    device.setOnLaunch({FakeCastDevice::ping(QStringLiteral("Tr-9")),
                        FakeCastDevice::message(QStringLiteral("receiver-0"), heartbeatNs,
                                                QStringLiteral(R"({"type":"PONG"})")),
                        FakeCastDevice::receiverStatus(launchedT1)});
    device.setOnLoad({FakeCastDevice::ping()});
    ASSERT_EQ(prepare(), true);
    ASSERT_TRUE(waitUntil([this] { return device.received().size() == 4; }));

    const QList<Frame> beforePlay = device.received();
    ASSERT_EQ(beforePlay.size(), 4);
    expectFrame(beforePlay[2], "receiver-0", heartbeatNs, R"({"type":"PONG"})");
    EXPECT_EQ(beforePlay[3].destination, "t-1");

    // A long clip: the test ends it by dropping the controller mid-hold, which
    // must end the waiting play without touching the dead controller.
    auto play = controller->play(QStringLiteral("http://h/c.m4a"), 600);
    ASSERT_TRUE(waitUntil([this] { return device.receivedIn(heartbeatNs).size() == 2; }));
    EXPECT_EQ(device.received().last().payload, R"({"type":"PONG"})");
    EXPECT_FALSE(play.isReady());
    controller.reset();
    EXPECT_TRUE(finish(play));
}

TEST_F(CastControllerTest, DeviceClosingAtOnceFailsWithoutWaitingForTheTimeout)
{
    device.setAccept(FakeCastDevice::Accept::CloseAtOnce);
    shorten(60s);
    EXPECT_EQ(prepare(), false);
    EXPECT_EQ(device.connectionCount(), 1);
}

TEST_F(CastControllerTest, SilentDeviceTimesOutAndStaysConnectedUntilClose)
{
    shorten(300ms);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(prepare(), false);
    EXPECT_GE(clock.elapsed(), 300);
    ASSERT_TRUE(waitUntil([this] { return device.received().size() == 2; }));
    EXPECT_FALSE(device.peerClosed());

    // Without a transport id, play neither sends nor holds.
    auto play = controller->play(QStringLiteral("http://h/c.m4a"), 600);
    EXPECT_TRUE(play.isReady());
    controller->close();
    ASSERT_TRUE(waitUntil([this] { return device.peerClosed(); }));
    EXPECT_EQ(device.received().size(), 2);
}

TEST_F(CastControllerTest, TlsThatNeverCompletesEndsAfterSixSeconds)
{
    device.setAccept(FakeCastDevice::Accept::NeverHandshake);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(prepare(9s), false);
    EXPECT_GE(clock.elapsed(), 6000);
}

TEST_F(CastControllerTest, HostileFramesNeverPrepareAndEndTheSession)
{
    QByteArray hugeLength(4, '\xff');
    hugeLength.append("only a few bytes follow");
    const QByteArray half = FakeCastDevice::frame("receiver-0", "sender-0", receiverNs, launchedT1).left(30);
    const QList<FakeCastDevice::Step> scripts[] = {
        {FakeCastDevice::raw(hugeLength)},
        {FakeCastDevice::raw(half, FakeCastDevice::Step::End::Reset)},
        {FakeCastDevice::raw(half, FakeCastDevice::Step::End::Close)},
    };
    for (const auto &script : scripts) {
        FakeCastDevice hostile;
        ASSERT_TRUE(hostile.start());
        hostile.setOnLaunch(script);
        speaker.port = hostile.serverPort();
        controller = std::make_unique<CastController>();
        shorten(60s);
        EXPECT_EQ(prepare(), false);
        EXPECT_TRUE(waitUntil([&hostile] { return hostile.peerClosed(); }));
    }
}

TEST_F(CastControllerTest, DeviceThatPingsButNeverReadsIsCutOff)
{
    // Far more pongs than the kernel's socket buffers can absorb.
    const QByteArray ping = FakeCastDevice::ping().bytes;
    device.setOnLaunch({FakeCastDevice::raw(ping.repeated(200000))});
    device.setStopReadingAfterLaunch(true);
    shorten(60s);
    EXPECT_EQ(prepare(), false);
    EXPECT_TRUE(waitUntil([this] { return device.peerClosed(); }));
}

TEST_F(CastControllerTest, GarbageIsIgnoredAndALargeStatusStillArrives)
{
    QByteArray garbageBody = QByteArray::fromHex("32ffffffff0f") + "xx"; // a payload longer than the frame
    QByteArray garbage(4, Qt::Uninitialized);
    qToBigEndian(quint32(garbageBody.size()), garbage.data());
    garbage.append(garbageBody);
    // Invalid UTF-8 where the JSON needs a value: repaired to U+FFFD, then not JSON.
    const QByteArray badUtf8 =
        FakeCastDevice::frame("receiver-0", "sender-0", receiverNs, QStringLiteral(R"({"status":@@@@})"))
            .replace("@@@@", "\xff\xfe\xfd\xfc");
    const QString padding(300 * 1024, QLatin1Char('p'));
    device.setOnLaunch({
        FakeCastDevice::raw(garbage),
        FakeCastDevice::raw(badUtf8),
        FakeCastDevice::receiverStatus(QStringLiteral("[1,2,3]")),
        FakeCastDevice::receiverStatus(
            QStringLiteral(R"({"status":{"applications":{"transportId":"obj"}}})")),
        FakeCastDevice::receiverStatus(QStringLiteral(R"({"status":{"applications":[{"transportId":7}]}})")),
        FakeCastDevice::message("receiver-0", mediaNs, launchedT1),
        FakeCastDevice::receiverStatus(
            status(QStringLiteral(R"([{"pad":"%1","transportId":"big"}])").arg(padding))),
    });
    ASSERT_EQ(prepare(), true);
    EXPECT_EQ(controller->transportID(), "big");
}

TEST_F(CastControllerTest, CloseOrDestructionWhilePreparingResumesTheCaller)
{
    shorten(60s);
    auto closed = controller->prepare(speaker);
    ASSERT_TRUE(waitUntil([this] { return device.received().size() == 2; }));
    controller->close();
    EXPECT_EQ(finish(closed), false);

    auto second = controller->prepare(speaker);
    EXPECT_EQ(finish(second), false);

    controller = std::make_unique<CastController>();
    shorten(60s);
    auto orphan = controller->prepare(speaker);
    ASSERT_TRUE(waitUntil([this] { return device.received().size() == 4; }));
    controller.reset();
    EXPECT_EQ(finish(orphan), false);
}

TEST_F(CastControllerTest, PortsOutsideTheRangeFailAtOnce)
{
    for (qint64 port : {qint64(-1), qint64(0), qint64(65536), qint64(1) << 40}) {
        controller = std::make_unique<CastController>();
        speaker.port = port;
        auto task = controller->prepare(speaker);
        EXPECT_TRUE(task.isReady()) << port;
        EXPECT_EQ(finish(task), false);
    }
    EXPECT_EQ(device.connectionCount(), 0);
}

TEST(CastControllerTransportId, ShapeRules)
{
    const auto id = [](const char *json) { return CastController::transportId(QString::fromUtf8(json)); };
    EXPECT_EQ(id(R"({"status":{"applications":[{"transportId":"a"},{"transportId":"b"}]}})"), "a");
    EXPECT_EQ(id(R"({"status":{"applications":[{},{"transportId":1},{"transportId":"b"}]}})"), "b");
    EXPECT_EQ(id(R"({"type":"MEDIA_STATUS","status":{"applications":[{"transportId":""}]}})"), "");
    EXPECT_EQ(id(R"({"status":{"applications":[]}})"), std::nullopt);
    EXPECT_EQ(id(R"({"status":{"applications":[{"transportId":"a"},null]}})"), std::nullopt);
    EXPECT_EQ(id(R"({"status":{"applications":[[{"transportId":"a"}]]}})"), std::nullopt);
    EXPECT_EQ(id(R"({"status":[{"applications":[{"transportId":"a"}]}]})"), std::nullopt);
    EXPECT_EQ(id(R"({"applications":[{"transportId":"a"}]})"), std::nullopt);
    EXPECT_EQ(id(R"([{"status":{"applications":[{"transportId":"a"}]}}])"), std::nullopt);
    EXPECT_EQ(id(R"({"status":{"applications":[{"transportId":"a"}]})"), std::nullopt);
    EXPECT_EQ(id(""), std::nullopt);
    EXPECT_EQ(id("\xef\xbf\xbd"), std::nullopt);
}
