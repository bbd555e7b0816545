// Runs inside mdns-sandbox.sh: a private network namespace with its own system
// bus and avahi-daemon, where avahi-publish-service plays the Cast devices.
#include "cast/CastSpeakerDiscovery.h"
#include "cast/ChromecastDiscovery.h"
#include "model/SpeakerStore.h"
#include "support/AvahiPublisher.h"
#include "support/MdnsSandbox.h"
#include "support/TestEnvironment.h"

#include "SpeakerFixtures.h"
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

using namespace pealix;
using namespace Qt::StringLiterals;
using test::AvahiPublisher;
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

    void publish(const QString &name, quint16 port, const QByteArrayList &txt = {}, const QString &host = {})
    {
        m_publishers.push_back(
            std::make_unique<AvahiPublisher>(name, u"_googlecast._tcp"_s, port, txt, host));
    }

    // Blocks until every device published so far is announced.
    void waitAllEstablished()
    {
        for (const auto &publisher : m_publishers)
            ASSERT_TRUE(publisher->waitEstablished()) << publisher->output().toStdString();
    }

    // Declared last, so the devices are withdrawn before anything else goes.
    std::vector<std::unique_ptr<AvahiPublisher>> m_publishers;
};

TEST_F(AvahiDiscoveryTest, AnEmptyNetworkGivesAnEmptyList)
{
    ChromecastDiscovery discovery;
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(QCoro::waitFor(discovery.discover(0.5)).isEmpty());
    EXPECT_GE(clock.elapsed(), 500);
}

TEST_F(AvahiDiscoveryTest, TurnsAnnouncedServicesIntoSpeakers)
{
    publish(u"Chromecast-1a2b"_s, 8009, {"fn=Kitchen speaker", "id=abc", "md=Chromecast"});
    publish(u"Bare"_s, 8010);
    publish(u"Blank-id"_s, 8011, {"id=", "fn=Den"});
    publish(u"Twin-A"_s, 8021, {"id=twin", "fn=A"});
    publish(u"Twin-B"_s, 8022, {"id=twin", "fn=B"});
    waitAllEstablished();

    ChromecastDiscovery discovery;
    const QList<Speaker> found = test::sortedById(QCoro::waitFor(discovery.discover(1.0)));
    ASSERT_EQ(found.size(), 4);
    EXPECT_EQ(found.mid(0, 3), (QList<Speaker>{castSpeaker(u"Bare"_s, u"Bare"_s, u"127.0.0.1"_s, 8010),
                                               castSpeaker(u"Blank-id"_s, u"Den"_s, u"127.0.0.1"_s, 8011),
                                               castSpeaker(u"abc"_s, u"Kitchen speaker"_s)}));
    // Two services with one id make one speaker, and a consistent one.
    EXPECT_TRUE(found[3] == castSpeaker(u"twin"_s, u"A"_s, u"127.0.0.1"_s, 8021) ||
                found[3] == castSpeaker(u"twin"_s, u"B"_s, u"127.0.0.1"_s, 8022))
        << testing::PrintToString(found[3]);
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

TEST_F(AvahiDiscoveryTest, AStoreScanFindsTheCastDevices)
{
    publish(u"Chromecast-9"_s, 8050, {"fn=Hall", "id=hall"});
    waitAllEstablished();
    QTemporaryDir dir;
    Preferences preferences(
        std::make_unique<QSettings>(dir.filePath(u"settings.ini"_s), QSettings::IniFormat));
    SpeakerStore store(nullptr, &discoverCastSpeakers, preferences);

    QElapsedTimer clock;
    clock.start();
    QCoro::waitFor(store.scan());
    const qint64 elapsed = clock.elapsed();
    EXPECT_EQ(store.speakers(), QList<Speaker>{castSpeaker(u"hall"_s, u"Hall"_s, u"127.0.0.1"_s, 8050)});
    std::printf("[ figures  ] scan with one Cast device in the sandbox took %lld ms\n", (long long)elapsed);
}

} // namespace
