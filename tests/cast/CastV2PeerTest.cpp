#include "cast/CastController.h"
#include "cast/CastTestWait.h"
#include "cast/FakeCastDevice.h"
#include "support/TestEnvironment.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

#include <memory>

using namespace pealix;
using namespace pealix::test;
using namespace Qt::StringLiterals;

namespace {

QJsonObject frame(const QString &destination, const QString &ns, const QString &payload)
{
    return {{"event", "message"},
            {"source", "sender-0"},
            {"destination", destination},
            {"namespace", "urn:x-cast:com.google.cast." + ns},
            {"binary", false},
            {"payload", payload}};
}

} // namespace

TEST(CastV2Peer, FullSessionIsReadByAnIndependentDecoder)
{
    const QString node = findProgram(u"node"_s);
    PEALIX_REQUIRE(!node.isEmpty(), "node is not installed");
    const QString dir = QStringLiteral(PEALIX_CASTV2_PEER_DIR);
    PEALIX_REQUIRE(QFileInfo::exists(dir + u"/node_modules/castv2/index.js"_s),
                   "the castv2 package is not installed (npm ci)");
    const FakeCastDevice::Tls &tls = FakeCastDevice::tls();
    PEALIX_REQUIRE(tls.error.isEmpty(), tls.error.toStdString());

    // The device prints one JSON event per line: where it listens, each frame, its close.
    QProcess peer;
    peer.setWorkingDirectory(dir);
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.start(node, {u"castv2-device.js"_s, tls.keyPath, tls.certificatePath});
    ASSERT_TRUE(waitUntil([&peer] { return peer.canReadLine(); })) << "the castv2 device did not start";
    const QJsonObject listening = QJsonDocument::fromJson(peer.readLine()).object();
    ASSERT_EQ(listening["event"].toString(), "listening");

    Speaker speaker;
    speaker.kind = SpeakerKind::Chromecast;
    speaker.host = u"127.0.0.1"_s;
    speaker.port = listening["port"].toInteger();
    auto controller = std::make_unique<CastController>();
    auto prepare = controller->prepare(speaker);
    ASSERT_EQ(finish(prepare), true);
    EXPECT_EQ(controller->transportID(), "castv2-web-1");

    // The clip is long so that the device's ping during playback is surely
    // answered before the session ends; dropping the controller then ends it.
    const QString url = u"http://127.0.0.1:40000/clip.m4a"_s;
    auto play = controller->play(url, 600);
    ASSERT_TRUE(waitUntil([&peer] { return peer.peek(1 << 20).count('\n') >= 6; }));
    controller.reset();
    ASSERT_TRUE(finish(play));
    ASSERT_TRUE(waitUntil([&peer] { return peer.state() == QProcess::NotRunning; }));
    QList<QJsonObject> events;
    for (const QByteArray &line : peer.readAll().trimmed().split('\n'))
        events << QJsonDocument::fromJson(line).object();

    const QString pong = uR"({"type":"PONG"})"_s;
    EXPECT_EQ(
        events,
        QList<QJsonObject>({
            frame("receiver-0", "tp.connection", uR"({"type":"CONNECT"})"_s),
            frame("receiver-0", "receiver", uR"({"type":"LAUNCH","appId":"CC1AD845","requestId":1})"_s),
            frame("receiver-0", "tp.heartbeat", pong), // the device pings before it reports the application
            frame("castv2-web-1", "tp.connection", uR"({"type":"CONNECT"})"_s),
            frame("castv2-web-1", "media",
                  uR"({"type":"LOAD","requestId":2,"autoplay":true,"media":{"contentId":")"_s + url +
                      uR"(","streamType":"BUFFERED","contentType":"audio/mp4"}})"_s),
            frame("receiver-0", "tp.heartbeat", pong), // and once more while the clip plays
            {{"event", "closed"}},
        }));
}
