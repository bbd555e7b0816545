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

TEST(AvahiDiscoveryTest, FindsDevicesAnnouncedInTheWindowAndTheDeadlineCutsHangingOnes)
{
    const std::string refusal = test::sandboxRefusal();
    PEALIX_REQUIRE(refusal.empty(), "refusing to browse outside the mDNS sandbox: " + refusal);
    std::vector<std::unique_ptr<QProcess>> publishers;
    const auto publish = [&publishers](const QString &name, quint16 port, const QStringList &txt = {},
                                       const QStringList &options = {}) {
        auto &process = *publishers.emplace_back(std::make_unique<QProcess>());
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(u"avahi-publish-service"_s,
                      options + QStringList{name, u"_googlecast._tcp"_s, QString::number(port)} + txt);
    };

    // Long enough for a service announced at the scan's start to be registered
    // within the window on a loaded machine.
    constexpr double Window = 2.5;
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(QCoro::waitFor(ChromecastDiscovery().discover(0.5)).isEmpty());
    EXPECT_GE(clock.elapsed(), 500);

    publish(u"Chromecast-1a2b"_s, 8009, {"fn=Kitchen speaker", "id=abc", "md=Chromecast"});
    publish(u"Bare"_s, 8010);
    publish(u"Blank-id"_s, 8011, {"id=", "fn=Den"});
    publish(u"Twin-A"_s, 8021, {"id=twin", "fn=A"});
    publish(u"Twin-B"_s, 8022, {"id=twin", "fn=B"});
    // A service whose host has no address: resolving it outlasts the hard deadline.
    publish(u"Ghost"_s, 8031, {}, {u"--host=ghost.local"_s});
    const auto awaitEstablished = [](QProcess &publisher) {
        return publisher.waitForReadyRead(10'000) && publisher.readAll().contains("Established");
    };
    for (const auto &publisher : publishers)
        ASSERT_TRUE(awaitEstablished(*publisher));

    // Through the store's entry point, which owns a discovery of its own.
    clock.restart();
    auto scan = discoverCastSpeakers(Window);
    publish(u"During"_s, 8030, {"fn=During"});
    ASSERT_TRUE(awaitEstablished(*publishers.back()));
    ASSERT_LT(clock.elapsed(), qint64(Window * 1000)) << "the machine is too slow for this test's window";
    // Announced after the window, while the ghost keeps the discovery open.
    QTimer::singleShot(int(Window * 1000) + 300, [&publish] { publish(u"After"_s, 8032); });
    QList<Speaker> found = QCoro::waitFor(scan);
    EXPECT_GE(clock.elapsed(), qint64((Window + ChromecastDiscovery::GraceSeconds) * 1000));

    std::ranges::sort(found, {}, &Speaker::id);
    ASSERT_EQ(found.size(), 5);
    EXPECT_EQ(found.mid(0, 4), (QList<Speaker>{castSpeaker(u"Bare"_s, u"Bare"_s, 8010),
                                               castSpeaker(u"Blank-id"_s, u"Den"_s, 8011),
                                               castSpeaker(u"During"_s, u"During"_s, 8030),
                                               castSpeaker(u"abc"_s, u"Kitchen speaker"_s)}));
    // Two services with one id make one speaker, and a consistent one.
    EXPECT_TRUE(found[4] == castSpeaker(u"twin"_s, u"A"_s, 8021) ||
                found[4] == castSpeaker(u"twin"_s, u"B"_s, 8022));

    // Ending a publisher (by its PID) lets it withdraw its service.
    for (const auto &publisher : publishers) {
        publisher->terminate();
        publisher->waitForFinished(3000);
    }
}
