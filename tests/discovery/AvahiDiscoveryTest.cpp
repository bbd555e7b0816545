// Runs inside mdns-sandbox.sh: a private network namespace with its own system
// bus and avahi-daemon, where avahi-publish-service plays the Cast devices.
#include "cast/CastSpeakerDiscovery.h"
#include "cast/ChromecastDiscovery.h"
#include "support/MdnsSandbox.h"
#include "support/TestEnvironment.h"

#include "SpeakerFixtures.h"
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace pealix;
using namespace Qt::StringLiterals;
using test::castSpeaker;

namespace {

class AvahiDiscoveryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString refusal = test::sandboxRefusal("PEALIX_MDNS_SANDBOX");
        PEALIX_REQUIRE(refusal.isEmpty(),
                       "refusing to browse outside the mDNS sandbox: " + refusal.toStdString());
    }

    // Ending a publisher (by its PID) lets it withdraw its service.
    void TearDown() override
    {
        for (const auto &publisher : m_publishers) {
            publisher->terminate();
            publisher->waitForFinished(3000);
        }
    }

    // `host` empty means this machine's own name.
    void publish(const QString &name, quint16 port, const QStringList &txt = {}, const QString &host = {})
    {
        auto &process = *m_publishers.emplace_back(std::make_unique<QProcess>());
        process.setProcessChannelMode(QProcess::MergedChannels);
        const QStringList hostOption = host.isEmpty() ? QStringList() : QStringList{"--host=" + host};
        process.start(u"avahi-publish-service"_s,
                      QStringList{u"--service"_s} + hostOption +
                          QStringList{name, u"_googlecast._tcp"_s, QString::number(port)} + txt);
    }

    // Blocks until the daemon confirms every device published so far.
    void waitAllEstablished()
    {
        for (const auto &publisher : m_publishers)
            ASSERT_TRUE(publisher->waitForReadyRead(10'000) && publisher->readAll().contains("Established"));
    }

    std::vector<std::unique_ptr<QProcess>> m_publishers;
};

TEST_F(AvahiDiscoveryTest, TurnsAnnouncedServicesIntoSpeakers)
{
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(QCoro::waitFor(ChromecastDiscovery().discover(0.5)).isEmpty());
    EXPECT_GE(clock.elapsed(), 500);

    publish(u"Chromecast-1a2b"_s, 8009, {"fn=Kitchen speaker", "id=abc", "md=Chromecast"});
    publish(u"Bare"_s, 8010);
    publish(u"Blank-id"_s, 8011, {"id=", "fn=Den"});
    publish(u"Twin-A"_s, 8021, {"id=twin", "fn=A"});
    publish(u"Twin-B"_s, 8022, {"id=twin", "fn=B"});
    waitAllEstablished();

    // Through the store's entry point, which owns a discovery of its own.
    QList<Speaker> found = QCoro::waitFor(discoverCastSpeakers(1.0));
    std::ranges::sort(found, {}, &Speaker::id);
    ASSERT_EQ(found.size(), 4);
    EXPECT_EQ(found.mid(0, 3), (QList<Speaker>{castSpeaker(u"Bare"_s, u"Bare"_s, u"127.0.0.1"_s, 8010),
                                               castSpeaker(u"Blank-id"_s, u"Den"_s, u"127.0.0.1"_s, 8011),
                                               castSpeaker(u"abc"_s, u"Kitchen speaker"_s)}));
    // Two services with one id make one speaker, and a consistent one.
    EXPECT_TRUE(found[3] == castSpeaker(u"twin"_s, u"A"_s, u"127.0.0.1"_s, 8021) ||
                found[3] == castSpeaker(u"twin"_s, u"B"_s, u"127.0.0.1"_s, 8022));
}

TEST_F(AvahiDiscoveryTest, OnlyDevicesAppearingInTheWindowCountAndTheDeadlineCutsHangingOnes)
{
    constexpr double Window = 1.0;
    ChromecastDiscovery discovery;
    QElapsedTimer clock;
    clock.start();
    auto task = discovery.discover(Window);
    publish(u"During"_s, 8030, {"fn=During"});
    // A service whose host has no address: resolving it outlasts the hard deadline.
    publish(u"Ghost"_s, 8031, {"fn=Ghost"}, u"ghost.local"_s);
    // Announced after the window, while the ghost keeps the discovery open.
    QTimer::singleShot(int(Window * 1000) + 300, [this] { publish(u"After"_s, 8032); });

    EXPECT_EQ(QCoro::waitFor(task),
              QList<Speaker>{castSpeaker(u"During"_s, u"During"_s, u"127.0.0.1"_s, 8030)});
    EXPECT_GE(clock.elapsed(), qint64((Window + ChromecastDiscovery::GraceSeconds) * 1000));
}

} // namespace
