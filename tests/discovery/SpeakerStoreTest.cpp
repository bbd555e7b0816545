#include "model/SpeakerStore.h"
#include "net/OneShot.h"

#include "SpeakerFixtures.h"
#include <QCoro/QCoroTask>
#include <QSettings>

#include <gtest/gtest.h>

#include <memory>

using namespace pealix;
using namespace Qt::StringLiterals;
using namespace pealix::test;

namespace {

// Answers what the test set once the test completes `gate`.
struct FakeDiscovery
{
    QList<Speaker> answer;
    QList<double> timeouts; // one per call
    net::OneShot<bool> gate, answered;

    QCoro::Task<QList<Speaker>> run(double timeout)
    {
        timeouts << timeout;
        co_await gate;
        answered.complete(true);
        co_return answer;
    }
};

} // namespace

TEST(SpeakerStoreTest, ScansBothAtOnceMergesSortsAndKeepsTheEnabledIdsSaved)
{
    FakeDiscovery sonos, cast;
    const auto sonosSpeaker = [](const QString &id, const QString &name) {
        return Speaker{"sonos:" + id, SpeakerKind::Sonos, name, "127.0.0.1", 1400, id};
    };
    std::vector<std::unique_ptr<Preferences>> preferences; // earlier stores may still hold theirs
    // A store over freshly opened settings (in the test's own configuration folder), so it sees only
    // what was saved.
    const auto reopen = [&] {
        preferences.push_back(std::make_unique<Preferences>(std::make_unique<QSettings>()));
        return std::make_unique<SpeakerStore>([&sonos](double t) { return sonos.run(t); },
                                              [&cast](double t) { return cast.run(t); }, *preferences.back());
    };

    sonos.answer = {sonosSpeaker(u"B"_s, u"Kitchen"_s), sonosSpeaker(u"C"_s, u"attic"_s),
                    sonosSpeaker(u"D"_s, u"Bedroom"_s), sonosSpeaker(u"A"_s, u"Kitchen"_s),
                    castSpeaker(u"x"_s, u"Loses"_s)};
    cast.answer = {castSpeaker(u"z"_s, u"Zulu"_s), castSpeaker(u"x"_s, u"Wins"_s)};
    auto store = reopen();
    QStringList events;
    QObject::connect(store.get(), &SpeakerStore::isScanningChanged, store.get(),
                     [&] { events << (store->isScanning() ? u"scanning"_s : u"idle"_s); });
    QObject::connect(store.get(), &SpeakerStore::speakersChanged, store.get(), [&] {
        for (const Speaker &speaker : store->speakers())
            events << speaker.id + ' ' + speaker.name;
    });

    auto first = store->scan();
    EXPECT_TRUE(store->scan().isReady());
    // Neither discovery has answered, yet both are running, each once, with 3-second windows.
    EXPECT_EQ(sonos.timeouts + cast.timeouts, (QList<double>{3.0, 3.0}));

    // The Cast answer arriving first must not end the scan early.
    cast.gate.complete(true);
    QCoro::waitFor(cast.answered);
    EXPECT_TRUE(store->isScanning());

    sonos.gate.complete(true);
    QCoro::waitFor(first);
    EXPECT_EQ(events, (QStringList{"scanning", "sonos:D Bedroom", "sonos:A Kitchen", "sonos:B Kitchen",
                                   "cast:x Wins", "cast:z Zulu", "sonos:C attic", "idle"}));

    // Enabled ids are saved at once and outlive scans that find nothing.
    const Speaker den = store->speakers().first();
    EXPECT_TRUE(store->enabledSpeakers().isEmpty()); // found for the first time: off
    for (const QString &id : {den.id, u"cast:y"_s, u"cast:y"_s})
        store->toggle(id);
    EXPECT_EQ(store->enabledSpeakers(), QList<Speaker>{den});
    EXPECT_EQ(reopen()->enabledIDs(), QSet<QString>{den.id});

    // Switched off at the wall: nothing found, the list empties, the choice stays.
    sonos.answer = cast.answer = {};
    QCoro::waitFor(store->scan());
    EXPECT_TRUE(store->speakers().isEmpty());
    EXPECT_EQ(store->enabledIDs(), QSet<QString>{den.id});

    // Only a list of texts loads.
    const std::pair<QVariant, QSet<QString>> saved[] = {
        {QStringList{"cast:x", "cast:x", "sonos:A"}, {"cast:x", "sonos:A"}},
        {QVariantList{u"cast:x"_s, 7}, {}}};
    for (const auto &[value, loaded] : saved) {
        preferences.back()->write(Preferences::EnabledSpeakerIDsKey, value);
        EXPECT_EQ(reopen()->enabledIDs(), loaded) << value.toString().toStdString();
    }
}
