#include "cast/CastController.h"
#include "cast/CastTestWait.h"
#include "support/TestEnvironment.h"
#include "support/TlsTestCertificate.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

#include <iostream>
#include <memory>

using namespace pealix;
using namespace pealix::test;
using namespace std::chrono_literals;

namespace {

// The castv2 device script, run by node; every line it prints is one JSON event.
class CastV2Peer
{
public:
    ~CastV2Peer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool start(const QString &node, const QString &dir, const TlsTestCertificate &tls)
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { collect(); });
        m_process.setWorkingDirectory(dir);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(node, {QStringLiteral("castv2-device.js"), tls.keyPath, tls.certificatePath});
        return m_process.waitForStarted(10000);
    }

    QList<QJsonObject> eventsNamed(const QString &name) const
    {
        QList<QJsonObject> found;
        for (const QJsonObject &event : m_events)
            if (event.value(QLatin1String("event")).toString() == name)
                found.append(event);
        return found;
    }

    bool finished() const { return m_process.state() == QProcess::NotRunning; }
    int exitCode() const { return m_process.exitCode(); }

private:
    void collect()
    {
        m_pending.append(m_process.readAllStandardOutput());
        qsizetype end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            m_events.append(QJsonDocument::fromJson(m_pending.left(end)).object());
            m_pending.remove(0, end + 1);
        }
    }

    QProcess m_process;
    QByteArray m_pending;
    QList<QJsonObject> m_events;
};

QJsonObject frame(const QString &destination, const QString &ns, const QString &payload)
{
    return {{"event", "message"}, {"source", "sender-0"}, {"destination", destination},
            {"namespace", ns},    {"binary", false},      {"payload", payload}};
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
    ASSERT_TRUE(peer.start(node, dir, tls));
    ASSERT_TRUE(waitUntil([&peer] { return !peer.eventsNamed("listening").isEmpty() || peer.finished(); }));
    ASSERT_FALSE(peer.eventsNamed("listening").isEmpty()) << "the castv2 device did not start";

    Speaker speaker;
    speaker.id = QStringLiteral("cast:castv2");
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
    ASSERT_TRUE(waitUntil([&peer] { return peer.finished(); }));
    controller.reset();
    EXPECT_TRUE(finish(play));
    EXPECT_EQ(peer.exitCode(), 0);
    EXPECT_EQ(peer.eventsNamed("closed").size(), 1);

    const QList<QJsonObject> messages = peer.eventsNamed("message");
    for (const QJsonObject &message : messages)
        std::cout << QJsonDocument(message).toJson(QJsonDocument::Compact).toStdString() << '\n';

    const QString connection = QStringLiteral("urn:x-cast:com.google.cast.tp.connection");
    const QString heartbeat = QStringLiteral("urn:x-cast:com.google.cast.tp.heartbeat");
    const QList<QJsonObject> expected = {
        frame("receiver-0", connection, R"({"type":"CONNECT"})"),
        frame("receiver-0", "urn:x-cast:com.google.cast.receiver",
              R"({"type":"LAUNCH","appId":"CC1AD845","requestId":1})"),
        // The device pings before it reports the application.
        frame("receiver-0", heartbeat, R"({"type":"PONG"})"),
        frame("castv2-web-1", connection, R"({"type":"CONNECT"})"),
        frame("castv2-web-1", "urn:x-cast:com.google.cast.media",
              R"({"type":"LOAD","requestId":2,"autoplay":true,"media":{"contentId":")" + url +
                  R"(","streamType":"BUFFERED","contentType":"audio/mp4"}})"),
        // And once more while the clip plays.
        frame("receiver-0", heartbeat, R"({"type":"PONG"})"),
    };
    EXPECT_EQ(messages, expected);
}
