#include "cast/ChromecastDiscovery.h"
#include "net/DnsSdBrowser.h"
#include "net/ServiceBrowser.h"

#include "SpeakerPrinting.h"
#include <QCoro/QCoroTask>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QHash>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using pealix::ChromecastDiscovery;
using pealix::Speaker;
using pealix::SpeakerKind;
using pealix::net::BrowsedService;
using pealix::net::ResolvedService;

namespace {

constexpr double Window = 0.2;

// What the fake saw; it outlives the fake, which the discovery deletes.
struct BrowserLog
{
    bool started = false;
    bool cancelled = false;
    QStringList resolved; // instance names, in the order asked
};

// A browser whose services appear at set times and whose resolutions answer
// after set delays, or never.
class FakeBrowser : public pealix::net::ServiceBrowser
{
public:
    struct Answer
    {
        std::optional<ResolvedService> resolved;
        int delayMs = 0;
        bool never = false;
    };

    explicit FakeBrowser(std::shared_ptr<BrowserLog> log) : m_log(std::move(log)) {}

    void announce(const QString &name, int atMs = 0, int interfaceIndex = 1)
    {
        m_schedule.append({atMs, BrowsedService{interfaceIndex, 0, name, ChromecastDiscovery::ServiceType,
                                                QStringLiteral("local")}});
    }
    void answer(const QString &name, Answer answer) { m_answers.insert(name, std::move(answer)); }

    void start() override
    {
        m_log->started = true;
        for (const auto &[atMs, service] : std::as_const(m_schedule)) {
            QTimer::singleShot(atMs, this, [this, service] {
                if (!m_log->cancelled)
                    Q_EMIT serviceFound(service);
            });
        }
    }

    void cancel() override { m_log->cancelled = true; }

    void resolve(const BrowsedService &service, QObject *context, ResolveDone done) override
    {
        m_log->resolved << service.name;
        const Answer answer = m_answers.value(service.name);
        if (answer.never)
            return;
        QTimer::singleShot(answer.delayMs, context, [done, answer] { done(answer.resolved); });
    }

private:
    std::shared_ptr<BrowserLog> m_log;
    QList<std::pair<int, BrowsedService>> m_schedule;
    QHash<QString, Answer> m_answers;
};

ResolvedService device(const QString &host, quint16 port, QList<QByteArray> txt = {})
{
    return ResolvedService{host, port, std::move(txt)};
}

class ChromecastDiscoveryTest : public ::testing::Test
{
protected:
    QList<Speaker> run(double window = Window)
    {
        ChromecastDiscovery discovery(m_browser);
        EXPECT_EQ(discovery.objectName(), QStringLiteral("org.pealix.Pealix.cast.browse"));
        m_clock.start();
        QList<Speaker> speakers = QCoro::waitFor(discovery.discover(window));
        m_elapsedMs = m_clock.elapsed();
        std::sort(speakers.begin(), speakers.end(),
                  [](const Speaker &a, const Speaker &b) { return a.id < b.id; });
        return speakers;
    }

    std::shared_ptr<BrowserLog> m_log = std::make_shared<BrowserLog>();
    FakeBrowser *m_browser = new FakeBrowser(m_log);
    QElapsedTimer m_clock;
    qint64 m_elapsedMs = 0;
};

TEST(ChromecastDiscoveryRules, IdentityComesFromNonEmptyTxtValues)
{
    const auto identify = [](QList<QByteArray> txt) {
        const auto identity = ChromecastDiscovery::identify(QStringLiteral("Chromecast-1f2e"),
                                                            device(QStringLiteral("10.0.0.1"), 8009, txt));
        return identity.id + QLatin1Char('|') + identity.name;
    };
    EXPECT_EQ(identify({"fn=Kitchen speaker", "id=X"}), QStringLiteral("X|Kitchen speaker"));
    EXPECT_EQ(identify({}), QStringLiteral("Chromecast-1f2e|Chromecast-1f2e"));
    EXPECT_EQ(identify({"fn=", "id="}), QStringLiteral("Chromecast-1f2e|Chromecast-1f2e"));
    EXPECT_EQ(identify({"id", "fn"}), QStringLiteral("Chromecast-1f2e|Chromecast-1f2e"));
    // DNS-SD keys ignore case and only a key's first string counts.
    EXPECT_EQ(identify({"ID=first", "id=second",
                        "FN=K\xc3\xbc"
                        "che"}),
              QStringLiteral("first|K\u00fcche"));
    EXPECT_EQ(identify({"=id=x", "md=Chromecast", "fn=a=b"}), QStringLiteral("Chromecast-1f2e|a=b"));
}

TEST(ChromecastDiscoveryRules, HostStringDropsTheZoneAndNormalisesAddresses)
{
    EXPECT_EQ(ChromecastDiscovery::hostString(QStringLiteral("fe80::1%en0")), QStringLiteral("fe80::1"));
    EXPECT_EQ(ChromecastDiscovery::hostString(QStringLiteral("FE80:0:0:0:0:0:0:1%2")),
              QStringLiteral("fe80::1"));
    EXPECT_EQ(ChromecastDiscovery::hostString(QStringLiteral("192.168.1.20")),
              QStringLiteral("192.168.1.20"));
    EXPECT_EQ(ChromecastDiscovery::hostString(QStringLiteral("kitchen.local")),
              QStringLiteral("kitchen.local"));
}

TEST_F(ChromecastDiscoveryTest, AnEmptyNetworkGivesAnEmptyListWhenTheWindowCloses)
{
    EXPECT_TRUE(run().isEmpty());
    EXPECT_GE(m_elapsedMs, qint64(Window * 1000));
    EXPECT_TRUE(m_log->started);
    EXPECT_TRUE(m_log->cancelled);
}

TEST_F(ChromecastDiscoveryTest, ResolvesEachDeviceOnceAndKeepsTheFirstOfASharedId)
{
    m_browser->announce(QStringLiteral("Kitchen-1"), 0, 1);
    m_browser->announce(QStringLiteral("Kitchen-1"), 0, 2); // the same instance on a second interface
    m_browser->announce(QStringLiteral("Twin-A"), 20);
    m_browser->announce(QStringLiteral("Twin-B"), 30);
    m_browser->announce(QStringLiteral("Gone"), 40);
    m_browser->answer(QStringLiteral("Kitchen-1"),
                      {device(QStringLiteral("fe80::5%eth0"), 8009, {"fn=Kitchen speaker", "id=abc"})});
    // Twin-B answers first, yet Twin-A was reported first and is the one kept.
    m_browser->answer(QStringLiteral("Twin-A"),
                      {device(QStringLiteral("10.1.1.1"), 1, {"id=twin", "fn=A"}), 80});
    m_browser->answer(QStringLiteral("Twin-B"),
                      {device(QStringLiteral("10.1.1.2"), 2, {"id=twin", "fn=B"}), 0});
    m_browser->answer(QStringLiteral("Gone"), {std::nullopt});

    const QList<Speaker> speakers = run();
    EXPECT_EQ(speakers,
              (QList<Speaker>{
                  {QStringLiteral("cast:abc"), SpeakerKind::Chromecast, QStringLiteral("Kitchen speaker"),
                   QStringLiteral("fe80::5"), 8009, std::nullopt},
                  {QStringLiteral("cast:twin"), SpeakerKind::Chromecast, QStringLiteral("A"),
                   QStringLiteral("10.1.1.1"), 1, std::nullopt},
              }));
    EXPECT_EQ(m_log->resolved.count(QStringLiteral("Kitchen-1")), 1);
}

TEST_F(ChromecastDiscoveryTest, AResolutionEndingAfterTheWindowIsIncludedAndEndsTheWait)
{
    m_browser->announce(QStringLiteral("Slow"));
    const int answerMs = int(Window * 1000) + 300;
    m_browser->answer(QStringLiteral("Slow"), {device(QStringLiteral("10.0.0.7"), 8009), answerMs});
    // Reported after the window: not looked at any more.
    m_browser->announce(QStringLiteral("Late"), answerMs - 150);
    m_browser->answer(QStringLiteral("Late"), {device(QStringLiteral("10.0.0.8"), 8009)});

    const QList<Speaker> speakers = run();
    ASSERT_EQ(speakers.size(), 1);
    EXPECT_EQ(speakers[0].id, QStringLiteral("cast:Slow"));
    EXPECT_EQ(m_log->resolved, QStringList{QStringLiteral("Slow")});
    EXPECT_GE(m_elapsedMs, answerMs);
    // Returned when the answer came, not at the hard deadline 1.7 s later.
    EXPECT_LT(m_elapsedMs, answerMs + 1000);
}

TEST_F(ChromecastDiscoveryTest, DroppingTheDiscoveryEndsTheWaitWithWhatItHas)
{
    m_browser->announce(QStringLiteral("Quick"));
    m_browser->announce(QStringLiteral("Hangs"));
    m_browser->answer(QStringLiteral("Quick"), {device(QStringLiteral("10.0.0.7"), 8009)});
    m_browser->answer(QStringLiteral("Hangs"), {std::nullopt, 0, true});

    auto log = m_log;
    auto discovery = std::make_unique<ChromecastDiscovery>(m_browser);
    auto task = discovery->discover(60.0);
    // Dropped once the quick device is in, long before the window ends.
    QTimer::singleShot(100, [&discovery] { discovery.reset(); });
    const QList<Speaker> speakers = QCoro::waitFor(task);
    ASSERT_EQ(speakers.size(), 1);
    EXPECT_EQ(speakers[0].id, QStringLiteral("cast:Quick"));
    EXPECT_TRUE(m_log->cancelled);
}

TEST(DnsSdBrowserWithoutBus, FindsNothingAndEndsWithTheWindow)
{
    // No daemon listens there: every call fails at once, and the browse is simply empty.
    const QDBusConnection nowhere = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/pealix-test-bus"), QStringLiteral("nowhere"));
    ASSERT_FALSE(nowhere.isConnected());
    ChromecastDiscovery discovery(new pealix::net::DnsSdBrowser(ChromecastDiscovery::ServiceType, nowhere));
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(QCoro::waitFor(discovery.discover(Window)).isEmpty());
    EXPECT_GE(clock.elapsed(), qint64(Window * 1000));
}

} // namespace
