#include "cast/CastController.h"
#include "clipserver/ClipServer.h"
#include "support/FakeCastDevice.h"
#include "support/TestEnvironment.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <ostream>

using namespace pealix;
using namespace pealix::test;
using namespace std::chrono_literals;
using Device = FakeCastDevice;

namespace pealix {
void PrintTo(const DeviceReply &reply, std::ostream *out)
{
    static const char *const kinds[] = {"accepted", "no answer", "refused"};
    *out << kinds[int(reply.kind)] << ' ' << reply.code.toStdString();
}
} // namespace pealix

namespace {

// A quote in the URL goes into the LOAD as JSON escapes it, nothing more.
const QString url = uR"(http://127.0.0.1:9/cl"ip.m4a)"_s;

// A media message from the receiver application "web-1".
Device::Step media(const QString &payload)
{
    return Device::message(u"media"_s, payload, u"web-1"_s);
}
Device::Step mediaStatus(int requestId, const QString &state)
{
    return media(
        uR"({"type":"MEDIA_STATUS","requestId":%1,"status":[{"mediaSessionId":1,"playerState":"%2"}]})"_s
            .arg(requestId)
            .arg(state));
}

Speaker speakerAt(const Device &device)
{
    return Speaker{u"cast:x"_s,    SpeakerKind::Chromecast, u"x"_s,
                   u"127.0.0.1"_s, device.serverPort(),     std::nullopt};
}

// A device that brings up the media receiver "web-1" as soon as it is asked to, then sends `then`.
void startWithReceiver(Device &device, const QList<Device::Step> &then = {})
{
    ASSERT_TRUE(device.start());
    device.onLaunch = QList{Device::receiverStatus('[' + Device::mediaReceiverApp(u"web-1"_s) + ']')} + then;
}

} // namespace

// The device shows its idle screen first, with a transport id of its own, and
// brings the media receiver up three seconds after the session began (real
// timings throughout). Only the receiver gets the LOAD; it then fetches the
// clip from a real clip server as a receiver does, plays it and finishes.
TEST(CastPlayTest, IdleScreenFirstThenTheMediaReceiverFetchesPlaysAndFinishesTheClip)
{
    PEALIX_REQUIRE(!Device::tlsDir().isEmpty(), "openssl made no certificate");
    QTemporaryDir dir;
    QByteArray clip;
    for (int i = 0; i < 5000; ++i)
        clip += char(i * 7 % 251);
    const QString path = dir.filePath(u"clip.m4a"_s);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(clip) == clip.size());
    file.close();
    ClipServer server;
    const std::optional<quint16> port = finish(server.start(path));
    ASSERT_TRUE(port);
    const QString clipUrl = u"http://127.0.0.1:%1/clip.m4a"_s.arg(*port);

    Device device;
    ASSERT_TRUE(device.start());
    device.onConnect = {Device::receiverStatus('[' + Device::idleScreenApp(u"idle-3"_s) + ']'),
                        Device::receiverStatus('[' + Device::mediaReceiverApp(u"web-9"_s) + ']', 3000)};
    device.fetchOnLoad = true;
    CastController controller;
    ASSERT_EQ(finish(controller.prepare(speakerAt(device))), true);
    EXPECT_EQ(finish(controller.play(clipUrl, 0.5)), DeviceReply::accepted());
    ASSERT_TRUE(waitUntil([&device] { return device.peerClosed() && device.idleReason == u"FINISHED"_s; }));

    EXPECT_EQ(device.received, QStringList({connectTo(u"receiver-0"_s), launch, connectTo(u"web-9"_s),
                                            load(u"web-9"_s, clipUrl)}));
    EXPECT_EQ(device.fetchedBytes(), clip);
    EXPECT_EQ(device.playerState, u"IDLE"_s);
}

// What the device says to LOAD is what play returns. A refusal ends the
// session at once although the clip is long (the wait is bounded well below it).
TEST(CastPlayTest, PlayReturnsWhatTheReceiverSaidToTheLoad)
{
    PEALIX_REQUIRE(!Device::tlsDir().isEmpty(), "openssl made no certificate");
    using Steps = QList<Device::Step>;
    const DeviceReply none = DeviceReply::noAnswer();
    const struct Row
    {
        const char *situation;
        Steps beforeLoad, onLoad;
        DeviceReply expected;
    } rows[] = {
        {"playing, answering our LOAD", {}, {mediaStatus(2, u"PLAYING"_s)}, DeviceReply::accepted()},
        {"buffering, pushed to every sender", {}, {mediaStatus(0, u"BUFFERING"_s)}, DeviceReply::accepted()},
        {"idle only", {}, {mediaStatus(2, u"IDLE"_s)}, none},
        {"silent", {}, {}, none},
        {"load failed",
         {},
         {media(uR"({"type":"LOAD_FAILED","requestId":2})"_s)},
         DeviceReply::refused(u"LOAD_FAILED"_s)},
        {"load cancelled without a request id",
         {},
         {media(uR"({"type":"LOAD_CANCELLED"})"_s)},
         DeviceReply::refused(u"LOAD_CANCELLED"_s)},
        {"a refusal of another request", {}, {media(uR"({"type":"LOAD_FAILED","requestId":7})"_s)}, none},
        {"playing, on the receiver namespace",
         {},
         {Device::message(u"receiver"_s,
                          uR"({"type":"MEDIA_STATUS","status":[{"playerState":"PLAYING"}]})"_s)},
         none},
        {"playing, reported before our LOAD", {mediaStatus(0, u"PLAYING"_s)}, {}, none},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.situation);
        Device device;
        startWithReceiver(device, row.beforeLoad);
        device.onLoad = row.onLoad;
        CastController controller;
        controller.setTimings({60s, 200ms});
        ASSERT_EQ(finish(controller.prepare(speakerAt(device))), true);
        const bool refused = row.expected.kind == DeviceReply::Kind::Refused;
        EXPECT_EQ(finish(controller.play(url, refused ? 600 : 0)), row.expected);
        EXPECT_TRUE(waitUntil([&device] { return device.peerClosed(); }));
        EXPECT_EQ(device.received.last(), load(u"web-1"_s, url));
    }
}

// close() while a long clip is held: the caller resumes at once, not after the clip.
TEST(CastPlayTest, CloseDuringPlayEndsTheHoldAtOnce)
{
    PEALIX_REQUIRE(!Device::tlsDir().isEmpty(), "openssl made no certificate");
    Device device;
    startWithReceiver(device);
    CastController controller;
    ASSERT_EQ(finish(controller.prepare(speakerAt(device))), true);
    EXPECT_TRUE(controller.isPrepared());
    auto play = controller.play(url, 600);
    ASSERT_TRUE(waitUntil([&device] { return device.received.size() == 4; }));
    controller.close();
    EXPECT_EQ(finish(std::move(play)), DeviceReply::noAnswer());
    EXPECT_TRUE(waitUntil([&device] { return device.peerClosed(); }));
    EXPECT_EQ(device.received, QStringList({connectTo(u"receiver-0"_s), launch, connectTo(u"web-1"_s),
                                            load(u"web-1"_s, url)}));
    EXPECT_FALSE(controller.isPrepared());

    // A device that hangs up once it reported the receiver: nothing to load into, nothing to hold.
    Device gone;
    ASSERT_TRUE(gone.start());
    gone.onLaunch = {{Device::receiverStatus('[' + Device::mediaReceiverApp(u"web-1"_s) + ']').bytes,
                      Device::Step::Reset}};
    CastController hungUp;
    ASSERT_EQ(finish(hungUp.prepare(speakerAt(gone))), true);
    ASSERT_TRUE(waitUntil([&hungUp] { return !hungUp.isPrepared(); }));
    auto nothing = hungUp.play(url, 600);
    EXPECT_TRUE(nothing.isReady());
    EXPECT_EQ(finish(std::move(nothing)), DeviceReply::noAnswer());
    EXPECT_EQ(gone.received, QStringList({connectTo(u"receiver-0"_s), launch}));
}
