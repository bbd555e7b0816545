#include "cast/ChromecastDiscovery.h"
#include "net/DnsSdBrowser.h"

#include "SpeakerFixtures.h"
#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QHash>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace pealix;
using namespace Qt::StringLiterals;
using namespace pealix::net;
using namespace pealix::test;

namespace {

constexpr double Window = 0.2;

// Services appear at set times and resolve after set delays. What it was asked
// to resolve goes to the test's own list: the discovery deletes its browser.
struct FakeBrowser : net::ServiceBrowser
{
    explicit FakeBrowser(QStringList *resolved) : resolved(resolved) {}

    QStringList *resolved; // instance names, in the order asked
    bool cancelled = false;
    QHash<QString, std::pair<std::optional<ResolvedService>, int>> answers; // and its delay; below 0: never

    // Services appear from the event loop, so after the discovery started.
    void announce(const QString &name, int atMs, std::optional<ResolvedService> answer, int answerMs = 0,
                  int interfaceIndex = 1)
    {
        answers.insert(name, {std::move(answer), answerMs});
        const BrowsedService service{interfaceIndex, 0, name, ChromecastDiscovery::ServiceType, u"local"_s};
        QTimer::singleShot(atMs, this, [this, service] {
            if (!cancelled)
                Q_EMIT serviceFound(service);
        });
    }
    void start() override {}
    void cancel() override { cancelled = true; }
    void resolve(const BrowsedService &service, QObject *context, ResolveDone done) override
    {
        *resolved << service.name;
        const auto answer = answers.value(service.name);
        if (answer.second < 0)
            return;
        QTimer::singleShot(answer.second, context, [done, answer] { done(answer.first); });
    }
};

TEST(ChromecastDiscoveryTest, ResolvesEachDeviceOnceWaitsForResolutionsBegunInTheWindowAndNeedsNoBus)
{
    QElapsedTimer clock;
    clock.start();
    QStringList resolved;
    auto *browser = new FakeBrowser(&resolved);
    const ResolvedService kitchen{u"fe80::5%eth0"_s, 8009, {"fn=Kitchen", "id=abc"}};
    browser->announce(u"Kitchen-1"_s, 0, kitchen);
    browser->announce(u"Kitchen-1"_s, 0, kitchen, 0, 2); // the same instance on a second interface
    // Twin-B answers first, yet Twin-A was reported first and is the one kept.
    // TXT keys ignore case and only a key's first string counts.
    browser->announce(u"Twin-A"_s, 20,
                      ResolvedService{u"10.1.1.1"_s, 1, {"=id=x", "ID=twin", "id=second", "FN=Küche=b"}}, 80);
    browser->announce(u"Twin-B"_s, 30, ResolvedService{u"10.1.1.2"_s, 2, {"id=twin", "fn=B"}});
    browser->announce(u"Chromecast-1f2e"_s, 40, ResolvedService{u"10.1.1.3"_s, 8009, {"fn=", "id="}});
    browser->announce(u"Gone"_s, 50, std::nullopt);
    // Answered after the window yet waited for; one reported after the window is not looked at.
    const int slowMs = int(Window * 1000) + 300;
    browser->announce(u"Slow"_s, 60, ResolvedService{u"10.0.0.7"_s, 8009, {}}, slowMs);
    browser->announce(u"Late"_s, slowMs - 150, ResolvedService{u"10.0.0.8"_s, 8009, {}});

    ChromecastDiscovery discovery(browser);
    QList<Speaker> found = QCoro::waitFor(discovery.discover(Window));
    // Returned when the slow answer came (it is in the list), not at the hard deadline 1.7 s later.
    EXPECT_LT(clock.elapsed(), 60 + slowMs + 1000);
    std::ranges::sort(found, {}, &Speaker::id);
    EXPECT_EQ(found,
              (QList<Speaker>{castSpeaker(u"Chromecast-1f2e"_s, u"Chromecast-1f2e"_s, 8009, u"10.1.1.3"_s),
                              castSpeaker(u"Slow"_s, u"Slow"_s, 8009, u"10.0.0.7"_s),
                              castSpeaker(u"abc"_s, u"Kitchen"_s, 8009, u"fe80::5"_s),
                              castSpeaker(u"twin"_s, u"Küche=b"_s, 1, u"10.1.1.1"_s)}));
    EXPECT_EQ(resolved, (QStringList{"Kitchen-1", "Twin-A", "Twin-B", "Chromecast-1f2e", "Gone", "Slow"}));

    // Without a bus, where no daemon listens: every call fails at once, and the browse is simply empty.
    const QDBusConnection nowhere =
        QDBusConnection::connectToBus(u"unix:path=/nonexistent/pealix-test-bus"_s, u"nowhere"_s);
    ChromecastDiscovery busless(new net::DnsSdBrowser(ChromecastDiscovery::ServiceType, nowhere));
    EXPECT_TRUE(QCoro::waitFor(busless.discover(Window)).isEmpty());
}

// A device whose resolution never answers holds the scan only until the hard
// deadline: it ends window + grace after the call, with the devices that did answer.
TEST(ChromecastDiscoveryTest, AResolutionThatNeverAnswersEndsTheScanAtTheHardDeadline)
{
    QStringList resolved;
    auto *browser = new FakeBrowser(&resolved);
    browser->announce(u"Mute"_s, 10, ResolvedService{u"10.0.0.9"_s, 8009, {}}, -1);
    browser->announce(u"Den"_s, 20, ResolvedService{u"10.0.0.5"_s, 8009, {"fn=Den"}});
    ChromecastDiscovery discovery(browser);
    QElapsedTimer clock;
    clock.start();
    auto scan = discovery.discover(Window);
    // Bounded by an event, never by the scan itself: a scan without its deadline would not end.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    watchdog.start(5000);
    while (!scan.isReady() && watchdog.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const qint64 elapsed = clock.elapsed();
    ASSERT_TRUE(scan.isReady()) << "still scanning after " << elapsed << " ms";
    const qint64 deadlineMs = std::llround((Window + ChromecastDiscovery::GraceSeconds) * 1000);
    EXPECT_GE(elapsed, deadlineMs - 20);
    EXPECT_LE(elapsed, deadlineMs + 500);
    EXPECT_EQ(QCoro::waitFor(scan), QList<Speaker>{castSpeaker(u"Den"_s, u"Den"_s, 8009, u"10.0.0.5"_s)});
}

} // namespace
