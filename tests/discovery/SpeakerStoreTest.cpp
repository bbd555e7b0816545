#include "model/SpeakerStore.h"
#include "net/OneShot.h"

#include "SpeakerPrinting.h"
#include <QCoro/QCoroTask>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using pealix::Preferences;
using pealix::Speaker;
using pealix::SpeakerKind;
using pealix::SpeakerStore;

namespace {

Speaker sonos(const QString &id, const QString &name)
{
    return Speaker{
        QStringLiteral("sonos:") + id, SpeakerKind::Sonos, name, QStringLiteral("127.0.0.1"), 1400, id};
}

Speaker cast(const QString &id, const QString &name)
{
    return Speaker{QStringLiteral("cast:") + id,
                   SpeakerKind::Chromecast,
                   name,
                   QStringLiteral("127.0.0.2"),
                   8009,
                   std::nullopt};
}

// A discovery whose answer the test sets beforehand; with `hold` it answers only
// when the test calls release(), so a scan can be caught in the middle.
class FakeDiscovery
{
public:
    QList<Speaker> answer;
    bool hold = false;
    int calls = 0;
    QList<double> timeouts;

    SpeakerStore::Discover function()
    {
        return [this](double timeout) { return run(timeout); };
    }

    void release() { m_gate.complete(true); }

    // Completes when the discovery has handed over its answer.
    pealix::net::OneShot<bool> answered;

private:
    QCoro::Task<QList<Speaker>> run(double timeout)
    {
        ++calls;
        timeouts << timeout;
        if (hold)
            co_await m_gate;
        answered.complete(true);
        co_return answer;
    }

    pealix::net::OneShot<bool> m_gate;
};

QCoro::Task<bool> untilDone(pealix::net::OneShot<bool> event)
{
    co_return co_await event;
}

class SpeakerStoreTest : public ::testing::Test
{
protected:
    std::unique_ptr<Preferences> openPreferences()
    {
        return std::make_unique<Preferences>(std::make_unique<QSettings>(
            m_dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat));
    }

    std::unique_ptr<SpeakerStore> makeStore()
    {
        return std::make_unique<SpeakerStore>(m_sonos.function(), m_cast.function(), *m_preferences);
    }

    static QStringList ids(const QList<Speaker> &speakers)
    {
        QStringList result;
        for (const Speaker &speaker : speakers)
            result << speaker.id;
        return result;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<Preferences> m_preferences = openPreferences();
    FakeDiscovery m_sonos;
    FakeDiscovery m_cast;
};

TEST_F(SpeakerStoreTest, SortsByNameThenIdByCodePoints)
{
    m_sonos.answer = {sonos(QStringLiteral("B"), QStringLiteral("Kitchen")),
                      sonos(QStringLiteral("C"), QStringLiteral("attic")),
                      sonos(QStringLiteral("D"), QStringLiteral("Bedroom")),
                      sonos(QStringLiteral("A"), QStringLiteral("Kitchen"))};
    m_cast.answer = {cast(QStringLiteral("z"), QStringLiteral("Zulu")),
                     // One name written precomposed and decomposed: equal names, so the ids decide.
                     cast(QStringLiteral("e2"), QStringLiteral("e\u0301t\u00e9")),
                     cast(QStringLiteral("e1"), QStringLiteral("\u00e9t\u00e9"))};
    auto store = makeStore();
    QCoro::waitFor(store->scan());

    EXPECT_EQ(ids(store->speakers()),
              (QStringList{"sonos:D", "sonos:A", "sonos:B", "cast:z", "sonos:C", "cast:e1", "cast:e2"}));
}

TEST_F(SpeakerStoreTest, MergesByIdWithCastAfterSonos)
{
    m_sonos.answer = {sonos(QStringLiteral("A"), QStringLiteral("Old name")),
                      sonos(QStringLiteral("A"), QStringLiteral("Den")),
                      cast(QStringLiteral("x"), QStringLiteral("Loses"))};
    m_cast.answer = {cast(QStringLiteral("x"), QStringLiteral("Wins"))};
    auto store = makeStore();
    QCoro::waitFor(store->scan());

    ASSERT_EQ(store->speakers().size(), 2);
    EXPECT_EQ(store->speakers()[0].name, QStringLiteral("Den"));
    EXPECT_EQ(store->speakers()[1].name, QStringLiteral("Wins"));
    EXPECT_EQ(store->speakers()[1].kind, SpeakerKind::Chromecast);
    EXPECT_EQ(m_sonos.timeouts, QList<double>{3.0});
    EXPECT_EQ(m_cast.timeouts, QList<double>{3.0});
}

TEST_F(SpeakerStoreTest, BothDiscoveriesRunAtOnceAndASecondScanReturnsAtOnce)
{
    m_sonos.hold = true;
    m_cast.hold = true;
    m_sonos.answer = {sonos(QStringLiteral("A"), QStringLiteral("Den"))};
    m_cast.answer = {cast(QStringLiteral("x"), QStringLiteral("Hall"))};
    auto store = makeStore();

    QStringList events;
    QObject::connect(store.get(), &SpeakerStore::isScanningChanged, store.get(), [&] {
        events << (store->isScanning() ? QStringLiteral("scanning") : QStringLiteral("idle"));
    });
    QObject::connect(store.get(), &SpeakerStore::speakersChanged, store.get(),
                     [&] { events << QStringLiteral("speakers %1").arg(store->speakers().size()); });

    auto first = store->scan();
    EXPECT_TRUE(store->isScanning());
    // Neither discovery has answered, yet both are already running.
    EXPECT_EQ(m_sonos.calls, 1);
    EXPECT_EQ(m_cast.calls, 1);

    auto second = store->scan();
    EXPECT_TRUE(second.isReady());
    EXPECT_EQ(m_sonos.calls, 1);
    EXPECT_EQ(m_cast.calls, 1);

    // The Cast answer arriving first must not end the scan early.
    m_cast.release();
    QCoro::waitFor(untilDone(m_cast.answered));
    EXPECT_TRUE(store->isScanning());
    EXPECT_TRUE(store->speakers().isEmpty());

    m_sonos.release();
    QCoro::waitFor(first);
    EXPECT_FALSE(store->isScanning());
    EXPECT_EQ(events, (QStringList{"scanning", "speakers 2", "idle"}));

    // Once idle, a scan runs again.
    m_sonos.hold = m_cast.hold = false;
    QCoro::waitFor(store->scan());
    EXPECT_EQ(m_sonos.calls, 2);
}

TEST_F(SpeakerStoreTest, EnabledIdsOutliveScansThatMissTheSpeaker)
{
    const Speaker den = sonos(QStringLiteral("A"), QStringLiteral("Den"));
    const Speaker hall = cast(QStringLiteral("x"), QStringLiteral("Hall"));
    m_sonos.answer = {den};
    m_cast.answer = {hall};
    auto store = makeStore();
    EXPECT_TRUE(store->enabledIDs().isEmpty());
    QCoro::waitFor(store->scan());
    // Found for the first time: off.
    EXPECT_TRUE(store->enabledSpeakers().isEmpty());

    store->toggle(den.id);
    EXPECT_EQ(store->enabledSpeakers(), QList<Speaker>{den});

    // Switched off at the wall.
    m_sonos.answer.clear();
    QCoro::waitFor(store->scan());
    EXPECT_TRUE(store->enabledIDs().contains(den.id));
    EXPECT_TRUE(store->enabledSpeakers().isEmpty());

    // Nothing found at all: the list empties, the choice stays.
    m_cast.answer.clear();
    QCoro::waitFor(store->scan());
    EXPECT_TRUE(store->speakers().isEmpty());
    EXPECT_EQ(store->enabledIDs(), QSet<QString>{den.id});

    m_sonos.answer = {den};
    m_cast.answer = {hall};
    QCoro::waitFor(store->scan());
    EXPECT_EQ(store->enabledSpeakers(), QList<Speaker>{den});
}

TEST_F(SpeakerStoreTest, TogglesAreSavedAtOnceAndLoadedByTheNextStore)
{
    auto store = makeStore();
    QSignalSpy changed(store.get(), &SpeakerStore::enabledIDsChanged);
    store->toggle(QStringLiteral("sonos:A"));
    store->toggle(QStringLiteral("cast:x"));
    store->toggle(QStringLiteral("cast:y"));
    store->toggle(QStringLiteral("cast:y"));
    EXPECT_EQ(changed.size(), 4);

    // A store over a freshly opened settings file sees exactly what was saved.
    m_preferences = openPreferences();
    auto reloaded = makeStore();
    EXPECT_EQ(reloaded->enabledIDs(), (QSet<QString>{"sonos:A", "cast:x"}));

    reloaded->toggle(QStringLiteral("sonos:A"));
    reloaded->toggle(QStringLiteral("cast:x"));
    m_preferences = openPreferences();
    EXPECT_TRUE(makeStore()->enabledIDs().isEmpty());
}

TEST_F(SpeakerStoreTest, LoadsOnlyAListOfTexts)
{
    auto loaded = [this](const QVariant &saved) {
        m_preferences->write(Preferences::EnabledSpeakerIDsKey, saved);
        m_preferences = openPreferences();
        return makeStore()->enabledIDs();
    };
    EXPECT_EQ(loaded(QStringList{"cast:x", "cast:x", "sonos:A"}), (QSet<QString>{"cast:x", "sonos:A"}));
    EXPECT_EQ(loaded(QStringList{"cast:x"}), QSet<QString>{"cast:x"});
    EXPECT_TRUE(loaded(42).isEmpty());
    EXPECT_TRUE(loaded(QVariantList{QStringLiteral("cast:x"), 7}).isEmpty());

    // A wrong value is replaced by the next toggle.
    auto store = makeStore();
    store->toggle(QStringLiteral("cast:z"));
    m_preferences = openPreferences();
    EXPECT_EQ(makeStore()->enabledIDs(), QSet<QString>{"cast:z"});
}

} // namespace
