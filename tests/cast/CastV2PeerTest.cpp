#include "cast/CastController.h"
#include "cast/CastTestWait.h"
#include "cast/FakeCastDevice.h"
#include "support/TestEnvironment.h"

#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <memory>

using namespace pealix;
using namespace pealix::test;
using namespace Qt::StringLiterals;

TEST(CastV2Peer, FullSessionIsReadByAnIndependentDecoder)
{
    const QString node = findProgram(u"node"_s);
    const QString dir = QStringLiteral(PEALIX_CASTV2_PEER_DIR);
    PEALIX_REQUIRE(!node.isEmpty() && QFileInfo::exists(dir + u"/node_modules/castv2/index.js"_s),
                   "node or the castv2 package (npm ci) is missing");
    const FakeCastDevice::Tls &tls = FakeCastDevice::tls();
    PEALIX_REQUIRE(tls.error.isEmpty(), tls.error.toStdString());

    // The device prints a line when it listens, one per frame and one when the connection closes.
    QProcess peer;
    peer.setWorkingDirectory(dir);
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.start(node, {u"castv2-device.js"_s, tls.keyPath, tls.certificatePath});
    ASSERT_TRUE(waitUntil([&peer] { return peer.canReadLine(); })) << "the castv2 device did not start";

    Speaker speaker;
    speaker.kind = SpeakerKind::Chromecast;
    speaker.host = u"127.0.0.1"_s;
    speaker.port = QString::fromUtf8(peer.readLine()).section(' ', 1).toInt();
    auto controller = std::make_unique<CastController>();
    auto prepare = controller->prepare(speaker);
    ASSERT_EQ(finish(prepare), true);

    // The clip is long so that the device's ping during playback is surely
    // answered before the session ends; dropping the controller then ends it.
    const QString url = u"http://127.0.0.1:40000/clip.m4a"_s;
    auto play = controller->play(url, 600);
    ASSERT_TRUE(waitUntil([&peer] { return peer.peek(1 << 20).count('\n') >= 6; }));
    controller.reset();
    ASSERT_TRUE(finish(play));
    ASSERT_TRUE(waitUntil([&peer] { return peer.state() == QProcess::NotRunning; }));

    const auto frame = [](const QString &to, const QString &ns, const QString &payload) {
        return "sender-0 " + to + " urn:x-cast:com.google.cast." + ns + ' ' + payload;
    };
    const QString pong = uR"({"type":"PONG"})"_s;
    EXPECT_EQ(
        QString::fromUtf8(peer.readAll()).trimmed().split('\n'),
        QStringList({
            frame("receiver-0", "tp.connection", uR"({"type":"CONNECT"})"_s),
            frame("receiver-0", "receiver", uR"({"type":"LAUNCH","appId":"CC1AD845","requestId":1})"_s),
            frame("receiver-0", "tp.heartbeat", pong), // the device pings before it reports the application
            frame("castv2-web-1", "tp.connection", uR"({"type":"CONNECT"})"_s),
            frame("castv2-web-1", "media",
                  uR"({"type":"LOAD","requestId":2,"autoplay":true,"media":{"contentId":")"_s + url +
                      uR"(","streamType":"BUFFERED","contentType":"audio/mp4"}})"_s),
            frame("receiver-0", "tp.heartbeat", pong), // and once more while the clip plays
            u"closed"_s,
        }));
}
