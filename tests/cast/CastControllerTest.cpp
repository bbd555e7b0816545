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
using Device = FakeCastDevice;

namespace {

const QString heartbeatNs = QStringLiteral("urn:x-cast:com.google.cast.tp.heartbeat");
const QString receiverNs = QStringLiteral("urn:x-cast:com.google.cast.receiver");
const QString mediaNs = QStringLiteral("urn:x-cast:com.google.cast.media");
const QString pong = QStringLiteral(R"({"type":"PONG"})");

QString status(const QString &applications)
{
    return QStringLiteral(R"({"type":"RECEIVER_STATUS","requestId":1,"status":{"applications":%1}})")
        .arg(applications);
}

const QString launchedT1 = status(QStringLiteral(R"([{"appId":"CC1AD845","transportId":"t-1"}])"));

QString loadPayload(const QString &url)
{
    return QStringLiteral(R"({"type":"LOAD","requestId":2,"autoplay":true,"media":{"contentId":")") + url +
           R"(","streamType":"BUFFERED","contentType":"audio/mp4"}})";
}

// "destination namespace-suffix payload" for each frame, for whole-sequence comparisons.
QStringList summary(const QList<Device::Frame> &frames)
{
    QStringList lines;
    for (const Device::Frame &f : frames)
        lines << f.destination + ' ' + f.namespace_.section('.', -1) + ' ' + f.payload;
    return lines;
}

// Each test owns a device on loopback and a controller pointed at it.
class CastControllerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        PEALIX_REQUIRE(TlsTestCertificate::shared().isValid(),
                       TlsTestCertificate::shared().error.toStdString());
        speaker.kind = SpeakerKind::Chromecast;
        speaker.host = QStringLiteral("127.0.0.1");
        pointAt(device);
    }

    void pointAt(Device &target, std::chrono::milliseconds prepareTimeout = 60s)
    {
        ASSERT_TRUE(target.isListening() || target.start());
        speaker.port = target.serverPort();
        controller = std::make_unique<CastController>();
        controller->setTimings({prepareTimeout, 1000ms});
    }

    std::optional<bool> prepare(std::chrono::milliseconds limit = 10s)
    {
        auto task = controller->prepare(speaker);
        return finish(task, limit);
    }

    Device device;
    Speaker speaker;
    std::unique_ptr<CastController> controller;
};

} // namespace

TEST_F(CastControllerTest, FullSessionSendsExactMessagesAndClosesAfterTheHold)
{
    // The first application has no transport id yet; the second one's is used.
    device.setOnLaunch({Device::receiverStatus(
        status(QStringLiteral(R"([{"appId":"X"},{"appId":"CC1AD845","transportId":"web-7"}])")))});
    ASSERT_EQ(prepare(), true);
    EXPECT_EQ(controller->transportID(), "web-7");

    // A quote in the URL goes in unescaped.
    const QString url = QStringLiteral(R"(http://127.0.0.1:8080/cl"ip.m4a)");
    QElapsedTimer held;
    held.start();
    auto play = controller->play(url, 0.2);
    ASSERT_TRUE(finish(play));
    EXPECT_GE(held.elapsed(), 1200);
    ASSERT_TRUE(waitUntil([this] { return device.peerClosed(); }));

    const QList<Device::Frame> frames = device.received();
    EXPECT_EQ(summary(frames), QStringList({"receiver-0 connection "
                                            R"({"type":"CONNECT"})",
                                            "receiver-0 receiver "
                                            R"({"type":"LAUNCH","appId":"CC1AD845","requestId":1})",
                                            "web-7 connection "
                                            R"({"type":"CONNECT"})",
                                            "web-7 media " + loadPayload(url)}));
    for (const Device::Frame &f : frames)
        EXPECT_TRUE(f.protocolVersion == 0 && f.payloadType == 0 && f.source == "sender-0")
            << f.payload.toStdString();
    // LOAD reaches the device a little after it is sent, so allow for that transit.
    ASSERT_EQ(frames.size(), 4);
    EXPECT_GE(device.closedAtMs() - frames[3].atMs, 1200 - 50);
    EXPECT_EQ(controller->clipURL(), url);
}

TEST_F(CastControllerTest, OnlyTheFirstTransportIdCountsAndEveryPingIsAnswered)
{
    // A ping from an unusual source (answered to the platform receiver), a stray PONG,
    // a status before the application is up, an application list with a non-object
    // (invalid as a whole), the real one, a different id, and a ping after it.
    device.setOnLaunch(
        {Device::ping(QStringLiteral("Tr-9")), Device::message("receiver-0", heartbeatNs, pong),
         Device::receiverStatus(QStringLiteral(R"({"type":"RECEIVER_STATUS","status":{}})")),
         Device::receiverStatus(status(QStringLiteral(R"([{"transportId":"bad"},3])"))),
         Device::receiverStatus(launchedT1),
         Device::receiverStatus(status(QStringLiteral(R"([{"transportId":"t-2"}])"))), Device::ping()});
    device.setOnLoad({Device::ping()});
    ASSERT_EQ(prepare(), true);
    EXPECT_EQ(controller->transportID(), "t-1");
    ASSERT_TRUE(waitUntil([this] { return device.receivedIn(heartbeatNs).size() == 2; }));

    // A long clip: the test ends it by dropping the controller mid-hold, which
    // must end the waiting play without touching the dead controller.
    auto play = controller->play(QStringLiteral("http://h/c.m4a"), 600);
    ASSERT_TRUE(waitUntil([this] { return device.receivedIn(heartbeatNs).size() == 3; }));
    EXPECT_EQ(summary(device.received()),
              QStringList({"receiver-0 connection "
                           R"({"type":"CONNECT"})",
                           "receiver-0 receiver "
                           R"({"type":"LAUNCH","appId":"CC1AD845","requestId":1})",
                           "receiver-0 heartbeat " + pong,
                           "t-1 connection "
                           R"({"type":"CONNECT"})",
                           "receiver-0 heartbeat " + pong, "t-1 media " + loadPayload("http://h/c.m4a"),
                           "receiver-0 heartbeat " + pong}));
    EXPECT_FALSE(play.isReady());
    controller.reset();
    EXPECT_TRUE(finish(play));
}

TEST_F(CastControllerTest, HostileDevicesFailPrepareAtOnceAndEndTheSession)
{
    const QByteArray hugeLength = QByteArray(4, '\xff') + "only a few bytes follow";
    const QByteArray half = Device::frame("receiver-0", "sender-0", receiverNs, launchedT1).left(30);
    const struct
    {
        const char *what;
        Device::Accept accept;
        QList<Device::Step> script;
        bool stopReading = false;
    } rows[] = {
        {"closes right after accept", Device::Accept::CloseAtOnce, {}},
        {"announces a 4 GiB frame", Device::Accept::Handshake, {Device::raw(hugeLength)}},
        {"resets mid-frame", Device::Accept::Handshake, {Device::raw(half, Device::Step::End::Reset)}},
        {"closes mid-frame", Device::Accept::Handshake, {Device::raw(half, Device::Step::End::Close)}},
        // Far more pings than the kernel's socket buffers can absorb pongs for.
        {"pings but never reads",
         Device::Accept::Handshake,
         {Device::raw(Device::ping().bytes.repeated(200000))},
         true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        Device hostile;
        hostile.setAccept(row.accept);
        hostile.setOnLaunch(row.script);
        hostile.setStopReadingAfterLaunch(row.stopReading);
        pointAt(hostile);
        EXPECT_EQ(prepare(), false);
        EXPECT_EQ(hostile.connectionCount(), 1);
        EXPECT_TRUE(waitUntil([&hostile] { return hostile.peerClosed(); }));
    }
}

TEST_F(CastControllerTest, TlsThatNeverCompletesEndsAfterSixSeconds)
{
    device.setAccept(Device::Accept::NeverHandshake);
    controller = std::make_unique<CastController>();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(prepare(9s), false);
    EXPECT_GE(clock.elapsed(), 6000);
}

TEST_F(CastControllerTest, GarbageIsIgnoredAndALargeStatusStillArrives)
{
    const QByteArray garbageBody =
        QByteArray::fromHex("32ffffffff0f") + "xx"; // a payload longer than the frame
    QByteArray garbage(4, Qt::Uninitialized);
    qToBigEndian(quint32(garbageBody.size()), garbage.data());
    // Invalid UTF-8 where the JSON needs a value: repaired to U+FFFD, then not JSON.
    const QByteArray badUtf8 =
        Device::frame("receiver-0", "sender-0", receiverNs, QStringLiteral(R"({"status":@@@@})"))
            .replace("@@@@", "\xff\xfe\xfd\xfc");
    const QString padding(300 * 1024, QLatin1Char('p'));
    device.setOnLaunch({
        Device::raw(garbage + garbageBody),
        Device::raw(badUtf8),
        Device::receiverStatus(QStringLiteral("[1,2,3]")),
        Device::receiverStatus(QStringLiteral(R"({"status":{"applications":{"transportId":"obj"}}})")),
        Device::receiverStatus(QStringLiteral(R"({"status":{"applications":[{"transportId":7}]}})")),
        Device::message("receiver-0", mediaNs, launchedT1),
        Device::receiverStatus(status(QStringLiteral(R"([{"pad":"%1","transportId":"big"}])").arg(padding))),
    });
    ASSERT_EQ(prepare(), true);
    EXPECT_EQ(controller->transportID(), "big");
}

TEST_F(CastControllerTest, SilentDeviceTimeoutCloseAndDestructionAllResumeTheCaller)
{
    pointAt(device, 300ms);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(prepare(), false);
    EXPECT_GE(clock.elapsed(), 300);
    ASSERT_TRUE(waitUntil([this] { return device.received().size() == 2; }));
    EXPECT_FALSE(device.peerClosed()); // until close()
    // Without a transport id, play neither sends nor holds.
    auto play = controller->play(QStringLiteral("http://h/c.m4a"), 600);
    EXPECT_TRUE(play.isReady());
    controller->close();
    ASSERT_TRUE(waitUntil([this] { return device.peerClosed(); }));
    EXPECT_EQ(device.received().size(), 2);
    auto again = controller->prepare(speaker); // one use only
    EXPECT_EQ(finish(again), false);

    pointAt(device);
    auto closed = controller->prepare(speaker);
    ASSERT_TRUE(waitUntil([this] { return device.received().size() == 4; }));
    controller->close();
    EXPECT_EQ(finish(closed), false);

    pointAt(device);
    auto orphan = controller->prepare(speaker);
    ASSERT_TRUE(waitUntil([this] { return device.received().size() == 6; }));
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
    const std::pair<const char *, std::optional<QString>> rows[] = {
        {R"({"status":{"applications":[{"transportId":"a"},{"transportId":"b"}]}})", "a"},
        {R"({"status":{"applications":[{},{"transportId":1},{"transportId":"b"}]}})", "b"},
        {R"({"type":"MEDIA_STATUS","status":{"applications":[{"transportId":""}]}})", ""},
        {R"({"status":{"applications":[]}})", std::nullopt},
        {R"({"status":{"applications":[{"transportId":"a"},null]}})", std::nullopt},
        {R"({"status":{"applications":[[{"transportId":"a"}]]}})", std::nullopt},
        {R"({"status":[{"applications":[{"transportId":"a"}]}]})", std::nullopt},
        {R"({"applications":[{"transportId":"a"}]})", std::nullopt},
        {R"([{"status":{"applications":[{"transportId":"a"}]}}])", std::nullopt},
        {R"({"status":{"applications":[{"transportId":"a"}]})", std::nullopt},
        {"", std::nullopt},
        {"\xef\xbf\xbd", std::nullopt},
    };
    for (const auto &[json, expected] : rows)
        EXPECT_EQ(CastController::transportId(QString::fromUtf8(json)), expected) << json;
}
