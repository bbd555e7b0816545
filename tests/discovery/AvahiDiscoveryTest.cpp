// Runs inside mdns-sandbox.sh: a private network namespace with its own system
// bus and avahi-daemon, where avahi-publish-service plays the Cast devices.
#include "cast/CastSpeakerDiscovery.h"
#include "cast/ChromecastDiscovery.h"
#include "model/SpeakerStore.h"
#include "support/AvahiPublisher.h"
#include "support/MdnsSandbox.h"
#include "support/TestEnvironment.h"

#include "SpeakerPrinting.h"
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>

using pealix::ChromecastDiscovery;
using pealix::Speaker;
using pealix::SpeakerKind;
using pealix::test::AvahiPublisher;

namespace {

const QString CastType = QStringLiteral("_googlecast._tcp");

#define REQUIRE_SANDBOX()                                                                                    \
    do {                                                                                                     \
        QString why;                                                                                         \
        PEALIX_REQUIRE(::pealix::test::insideMdnsSandbox(&why),                                              \
                       ("refusing to browse outside the mDNS sandbox: " + why).toStdString());               \
    } while (0)

QList<Speaker> sortedById(QList<Speaker> speakers)
{
    std::sort(speakers.begin(), speakers.end(),
              [](const Speaker &a, const Speaker &b) { return a.id < b.id; });
    return speakers;
}

Speaker castSpeaker(const QString &id, const QString &name, qint64 port)
{
    return Speaker{QStringLiteral("cast:") + id,
                   SpeakerKind::Chromecast,
                   name,
                   QStringLiteral("127.0.0.1"),
                   port,
                   std::nullopt};
}

class AvahiDiscoveryTest : public ::testing::Test
{
protected:
    void SetUp() override { REQUIRE_SANDBOX(); }

    AvahiPublisher &publish(const QString &name, quint16 port, const QByteArrayList &txt = {},
                            const QString &host = {})
    {
        m_publishers.push_back(std::make_unique<AvahiPublisher>(name, CastType, port, txt, host));
        return *m_publishers.back();
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
    publish(QStringLiteral("Chromecast-1a2b"), 8009, {"fn=Kitchen speaker", "id=abc", "md=Chromecast"});
    publish(QStringLiteral("Bare"), 8010);
    publish(QStringLiteral("Blank-id"), 8011, {"id=", "fn=Den"});
    publish(QStringLiteral("Twin-A"), 8021, {"id=twin", "fn=A"});
    publish(QStringLiteral("Twin-B"), 8022, {"id=twin", "fn=B"});
    waitAllEstablished();

    ChromecastDiscovery discovery;
    const QList<Speaker> found = sortedById(QCoro::waitFor(discovery.discover(1.0)));

    ASSERT_EQ(found.size(), 4);
    EXPECT_EQ(found[0], castSpeaker(QStringLiteral("Bare"), QStringLiteral("Bare"), 8010));
    EXPECT_EQ(found[1], castSpeaker(QStringLiteral("Blank-id"), QStringLiteral("Den"), 8011));
    EXPECT_EQ(found[2], castSpeaker(QStringLiteral("abc"), QStringLiteral("Kitchen speaker"), 8009));
    // Two services with one id make one speaker, and a consistent one.
    const Speaker &twin = found[3];
    EXPECT_EQ(twin.id, QStringLiteral("cast:twin"));
    EXPECT_TRUE((twin.name == QLatin1String("A") && twin.port == 8021) ||
                (twin.name == QLatin1String("B") && twin.port == 8022))
        << twin.name.toStdString() << " " << twin.port;
}

TEST_F(AvahiDiscoveryTest, OnlyDevicesAppearingInTheWindowCountAndTheDeadlineCutsHangingOnes)
{
    constexpr double Window = 1.0;
    ChromecastDiscovery discovery;
    QElapsedTimer clock;
    clock.start();
    auto task = discovery.discover(Window);

    // Announced once the browse runs.
    publish(QStringLiteral("During"), 8030, {"fn=During"});
    // A service whose host has no address: resolving it outlasts the hard deadline.
    publish(QStringLiteral("Ghost"), 8031, {"fn=Ghost"}, QStringLiteral("ghost.local"));
    // Announced after the window, while the ghost keeps the discovery open.
    QTimer::singleShot(int(Window * 1000) + 300, [this] { publish(QStringLiteral("After"), 8032); });

    const QList<Speaker> found = QCoro::waitFor(task);
    EXPECT_EQ(found, QList<Speaker>{castSpeaker(QStringLiteral("During"), QStringLiteral("During"), 8030)});
    EXPECT_GE(clock.elapsed(), qint64((Window + ChromecastDiscovery::GraceSeconds) * 1000));
}

TEST_F(AvahiDiscoveryTest, AStoreScanFindsTheCastDevices)
{
    publish(QStringLiteral("Chromecast-9"), 8050, {"fn=Hall", "id=hall"});
    waitAllEstablished();
    QTemporaryDir dir;
    pealix::Preferences preferences(
        std::make_unique<QSettings>(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat));
    pealix::SpeakerStore store(nullptr, &pealix::discoverCastSpeakers, preferences);

    QElapsedTimer clock;
    clock.start();
    QCoro::waitFor(store.scan());
    const qint64 elapsed = clock.elapsed();

    EXPECT_EQ(store.speakers(),
              QList<Speaker>{castSpeaker(QStringLiteral("hall"), QStringLiteral("Hall"), 8050)});
    std::printf("[ figures  ] scan with one Cast device in the sandbox took %lld ms\n",
                static_cast<long long>(elapsed));
}

} // namespace
