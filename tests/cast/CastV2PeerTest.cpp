#include "cast/CastController.h"
#include "cast/CastTestWait.h"
#include "support/TestEnvironment.h"
#include "support/TlsTestCertificate.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

#include <iostream>
#include <memory>

using namespace pealix;
using namespace pealix::test;

namespace {

// The castv2 device script, run by node; every line it prints is one JSON event.
class CastV2Peer : public QProcess
{
public:
    CastV2Peer()
    {
        connect(this, &QProcess::readyReadStandardOutput, [this] {
            while (canReadLine())
                m_events.append(QJsonDocument::fromJson(readLine()).object());
        });
    }
    ~CastV2Peer() override
    {
        kill();
        waitForFinished(5000);
    }

    QList<QJsonObject> eventsNamed(const QString &name) const
    {
        QList<QJsonObject> found;
        for (const QJsonObject &event : m_events)
            if (event.value(QLatin1String("event")).toString() == name)
                found.append(event);
        return found;
    }

private:
    QList<QJsonObject> m_events;
};

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
    const QString node = findProgram(QStringLiteral("node"));
    PEALIX_REQUIRE(!node.isEmpty(), "node is not installed");
    const QString dir = QStringLiteral(PEALIX_CASTV2_PEER_DIR);
    PEALIX_REQUIRE(QFileInfo::exists(dir + QStringLiteral("/node_modules/castv2/index.js")),
                   "the castv2 package is not installed (npm ci)");
    const TlsTestCertificate &tls = TlsTestCertificate::shared();
    PEALIX_REQUIRE(tls.isValid(), tls.error.toStdString());

    CastV2Peer peer;
    peer.setWorkingDirectory(dir);
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.start(node, {QStringLiteral("castv2-device.js"), tls.keyPath, tls.certificatePath});
    ASSERT_TRUE(waitUntil([&peer] {
        return !peer.eventsNamed("listening").isEmpty() || peer.state() == QProcess::NotRunning;
    }));
    ASSERT_FALSE(peer.eventsNamed("listening").isEmpty()) << "the castv2 device did not start";

    Speaker speaker;
    speaker.kind = SpeakerKind::Chromecast;
    speaker.host = QStringLiteral("127.0.0.1");
    speaker.port = peer.eventsNamed("listening").first().value(QLatin1String("port")).toInteger();
    auto controller = std::make_unique<CastController>();
    auto prepare = controller->prepare(speaker);
    ASSERT_EQ(finish(prepare), true);
    EXPECT_EQ(controller->transportID(), "castv2-web-1");

    // The clip is long so that the device's ping during playback is surely
    // answered before the session ends; the test then closes it itself.
    const QString url = QStringLiteral("http://127.0.0.1:40000/clip.m4a");
    auto play = controller->play(url, 600);
    ASSERT_TRUE(waitUntil([&peer] { return peer.eventsNamed("message").size() >= 6; }));
    EXPECT_FALSE(play.isReady());
    controller->close();
    ASSERT_TRUE(waitUntil([&peer] { return peer.state() == QProcess::NotRunning; }));
    controller.reset();
    EXPECT_TRUE(finish(play));
    EXPECT_EQ(peer.exitCode(), 0);
    EXPECT_EQ(peer.eventsNamed("closed").size(), 1);

    const QList<QJsonObject> messages = peer.eventsNamed("message");
    for (const QJsonObject &message : messages)
        std::cout << QJsonDocument(message).toJson(QJsonDocument::Compact).toStdString() << '\n';
    const QString pong = QStringLiteral(R"({"type":"PONG"})");
    const QList<QJsonObject> expected = {
        frame("receiver-0", "tp.connection", R"({"type":"CONNECT"})"),
        frame("receiver-0", "receiver", R"({"type":"LAUNCH","appId":"CC1AD845","requestId":1})"),
        frame("receiver-0", "tp.heartbeat", pong), // the device pings before it reports the application
        frame("castv2-web-1", "tp.connection", R"({"type":"CONNECT"})"),
        frame("castv2-web-1", "media",
              R"({"type":"LOAD","requestId":2,"autoplay":true,"media":{"contentId":")" + url +
                  R"(","streamType":"BUFFERED","contentType":"audio/mp4"}})"),
        frame("receiver-0", "tp.heartbeat", pong), // and once more while the clip plays
    };
    EXPECT_EQ(messages, expected);
}
