#include "cast/ChromecastDiscovery.h"
#include "net/DnsSdBrowser.h"

#include "SpeakerFixtures.h"
#include <QCoro/QCoroTask>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QHash>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

using namespace pealix;
using namespace Qt::StringLiterals;
using namespace pealix::net;
using namespace pealix::test;

namespace {

constexpr double Window = 0.2;

// Services appear at set times; resolutions answer after set delays, or never.
// What it resolved goes to the test's own list: the discovery deletes its browser.
struct FakeBrowser : net::ServiceBrowser
{
    struct Answer
    {
        std::optional<ResolvedService> resolved;
        int delayMs = 0; // below zero: never
    };

    explicit FakeBrowser(QStringList *resolved) : resolved(resolved) {}

    QStringList *resolved; // instance names, in the order asked
    bool cancelled = false;
    QList<std::pair<int, BrowsedService>> schedule;
    QHash<QString, Answer> answers;

    void announce(const QString &name, Answer answer, int atMs = 0, int interfaceIndex = 1)
    {
        schedule.append({atMs, {interfaceIndex, 0, name, ChromecastDiscovery::ServiceType, u"local"_s}});
        answers.insert(name, std::move(answer));
    }
    void start() override
    {
        for (const auto &[atMs, service] : std::as_const(schedule))
            QTimer::singleShot(atMs, this, [this, service] {
                if (!cancelled)
                    Q_EMIT serviceFound(service);
            });
    }
    void cancel() override { cancelled = true; }
    void resolve(const BrowsedService &service, QObject *context, ResolveDone done) override
    {
        *resolved << service.name;
        const Answer answer = answers.value(service.name);
        if (answer.delayMs >= 0)
            QTimer::singleShot(answer.delayMs, context, [done, answer] { done(answer.resolved); });
    }
};

class ChromecastDiscoveryTest : public ::testing::Test
{
protected:
    QStringList m_resolved;
    FakeBrowser *m_browser = new FakeBrowser(&m_resolved);
};

TEST(ChromecastDiscoveryRules, IdentityFromNonEmptyTxtValues)
{
    const std::pair<QList<QByteArray>, QString> rows[] = {
        {{"fn=Kitchen speaker", "id=X"}, u"X|Kitchen speaker"_s},
        {{}, u"Chromecast-1f2e|Chromecast-1f2e"_s},
        {{"fn=", "id="}, u"Chromecast-1f2e|Chromecast-1f2e"_s},
        // Keys ignore case and only a key's first string counts.
        {{"=id=x", "ID=first", "id=second", "FN=Küche=b"}, u"first|Küche=b"_s},
    };
    for (const auto &[txt, expected] : rows) {
        const auto identity = ChromecastDiscovery::identify(u"Chromecast-1f2e"_s, {u"10.0.0.1"_s, 8009, txt});
        EXPECT_EQ(identity.id + '|' + identity.name, expected);
    }
}

TEST_F(ChromecastDiscoveryTest, ResolvesEachDeviceOnceAndKeepsTheFirstOfASharedId)
{
    const FakeBrowser::Answer kitchen{ResolvedService{u"fe80::5%eth0"_s, 8009, {"fn=Kitchen", "id=abc"}}};
    m_browser->announce(u"Kitchen-1"_s, kitchen, 0, 1);
    m_browser->announce(u"Kitchen-1"_s, kitchen, 0, 2); // the same instance on a second interface
    // Twin-B answers first, yet Twin-A was reported first and is the one kept.
    m_browser->announce(u"Twin-A"_s, {ResolvedService{u"10.1.1.1"_s, 1, {"id=twin", "fn=A"}}, 80}, 20);
    m_browser->announce(u"Twin-B"_s, {ResolvedService{u"10.1.1.2"_s, 2, {"id=twin", "fn=B"}}}, 30);
    m_browser->announce(u"Gone"_s, {std::nullopt}, 40);

    ChromecastDiscovery discovery(m_browser);
    QList<Speaker> found = QCoro::waitFor(discovery.discover(Window));
    std::ranges::sort(found, {}, &Speaker::id);
    EXPECT_EQ(found, (QList<Speaker>{castSpeaker(u"abc"_s, u"Kitchen"_s, u"fe80::5"_s, 8009),
                                     castSpeaker(u"twin"_s, u"A"_s, u"10.1.1.1"_s, 1)}));
    EXPECT_EQ(m_resolved.count(u"Kitchen-1"_s), 1);
}

TEST_F(ChromecastDiscoveryTest, AResolutionEndingAfterTheWindowIsIncludedAndEndsTheWait)
{
    const int answerMs = int(Window * 1000) + 300;
    m_browser->announce(u"Slow"_s, {ResolvedService{u"10.0.0.7"_s, 8009, {}}, answerMs});
    // Reported after the window: not looked at any more.
    m_browser->announce(u"Late"_s, {ResolvedService{u"10.0.0.8"_s, 8009, {}}}, answerMs - 150);

    ChromecastDiscovery discovery(m_browser);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(QCoro::waitFor(discovery.discover(Window)),
              QList<Speaker>{castSpeaker(u"Slow"_s, u"Slow"_s, u"10.0.0.7"_s)});
    EXPECT_EQ(m_resolved, QStringList{u"Slow"_s});
    // Returned when the answer came, not at the hard deadline 1.7 s later.
    EXPECT_GE(clock.elapsed(), answerMs);
    EXPECT_LT(clock.elapsed(), answerMs + 1000);
}

TEST(DnsSdBrowserWithoutBus, FindsNothingAndEnds)
{
    // No daemon listens there: every call fails at once, and the browse is simply empty.
    const QDBusConnection nowhere =
        QDBusConnection::connectToBus(u"unix:path=/nonexistent/pealix-test-bus"_s, u"nowhere"_s);
    ChromecastDiscovery discovery(new net::DnsSdBrowser(ChromecastDiscovery::ServiceType, nowhere));
    EXPECT_TRUE(QCoro::waitFor(discovery.discover(Window)).isEmpty());
}

} // namespace
