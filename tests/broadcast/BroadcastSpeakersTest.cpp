// What each speaker receives in a broadcast, judged at the fake devices: the
// commands, the clip they fetched, the state they end in, and the delivery
// list the user is shown.
#include "broadcast/BroadcastRig.h"
#include "engine/AnnouncementCue.h"
#include "engine/SpeakerAttempt.h"

#include <QAbstractEventDispatcher>
#include <gtest/gtest.h>

using namespace pealix;
using namespace pealix::test;

namespace {

QStringList commands(const FakeSonosPlayer &player)
{
    QStringList sent;
    for (const QString &action : player.actions) {
        if (action.startsWith(u"Set"_s) || action == u"Play"_s || action == u"Seek"_s)
            sent << action;
    }
    return sent;
}

TEST(BroadcastSpeakers, AGroupHearsTheClipOnceThroughItsCoordinatorWhileTheTextCountsBoth)
{
    BroadcastRig rig;
    FakeSonosPlayer living(QHostAddress::LocalHost), kitchen(QHostAddress::LocalHost);
    living.setState(FakeSonosPlayer::radio(u"PLAYING"_s));
    const auto before = living.state();
    const QByteArray topology = zoneGroupState({{u"RINCON_L"_s, &living}, {u"RINCON_K"_s, &kitchen}});
    living.responses.insert(u"GetZoneGroupState"_s, topology);
    kitchen.responses.insert(u"GetZoneGroupState"_s, topology);
    // The kitchen is listed first: the lookup goes to it, the clip to the living room.
    const QList<Speaker> speakers{sonosSpeaker(kitchen, u"RINCON_K"_s), sonosSpeaker(living, u"RINCON_L"_s)};

    ASSERT_TRUE(rig.run(rig.broadcaster->broadcast(QUrl::fromLocalFile(rig.clipPath), speakers, 0.5)));
    EXPECT_EQ(rig.statuses, (QList<Broadcaster::Status>{broadcasting(u"2 speakers"_s), idle}));
    EXPECT_EQ(kitchen.actions, QStringList{u"GetZoneGroupState"_s});
    EXPECT_EQ(commands(living).count(u"Play"_s), 2); // the clip, then the radio again
    EXPECT_EQ(living.actions.count(u"SetAVTransportURI"_s), 2);
    EXPECT_TRUE(sameSituation(before, living.state()));
    EXPECT_EQ(rig.broadcaster->deliveries(), (QList<Delivery>{{speakers[0], Delivery::Outcome::Played, {}},
                                                              {speakers[1], Delivery::Outcome::Played, {}}}));
}

TEST(BroadcastSpeakers, CastAloneNeedsNoSonosControlAndPlaysOnTheSessionOpenedWhileSpeaking)
{
    int sonosControls = 0;
    BroadcastRig rig([&sonosControls](BroadcasterSetup &setup) {
        setup.makeSonosControl = [&sonosControls, make = setup.makeSonosControl] {
            ++sonosControls;
            return make();
        };
    });
    FakeCastDevice den;
    ASSERT_TRUE(startReceiver(den));
    const QList<Speaker> speakers{castSpeaker(den, u"Den"_s)};

    ASSERT_TRUE(rig.run(rig.broadcaster->startRecording(speakers)));
    ASSERT_TRUE(awaitReceiver(den));
    ASSERT_TRUE(rig.run(rig.broadcaster->stopAndSend(speakers)));

    EXPECT_EQ(sonosControls, 0);
    EXPECT_EQ(den.connections, 1);
    EXPECT_EQ(rig.broadcaster->deliveries(),
              (QList<Delivery>{{speakers.first(), Delivery::Outcome::Played, {}}}));
}

TEST(BroadcastSpeakers, VolumeAndRestoreSettingsAsThePlayerSeesThem)
{
    struct Row
    {
        const char *situation;
        int volume;
        bool restore;
        bool volumeReadable;
        QStringList expected; // the commands the player receives
        bool endsAsBefore;
    };
    const QStringList clipThenBack{u"SetAVTransportURI"_s, u"SetVolume"_s, u"Play"_s, u"SetAVTransportURI"_s,
                                   u"SetVolume"_s,         u"Seek"_s,      u"Seek"_s, u"Play"_s};
    const Row rows[] = {
        {"announcement volume, resuming", 35, true, true, clipThenBack, true},
        {"volume 0 keeps the player's own",
         0,
         true,
         true,
         {u"SetAVTransportURI"_s, u"Play"_s, u"SetAVTransportURI"_s, u"SetVolume"_s, u"Seek"_s, u"Seek"_s,
          u"Play"_s},
         true},
        {"resuming off takes no snapshot and puts nothing back",
         35,
         false,
         true,
         {u"SetAVTransportURI"_s, u"SetVolume"_s, u"Play"_s},
         false},
        {"a volume that cannot be read is never changed",
         35,
         true,
         false,
         {u"SetAVTransportURI"_s, u"Play"_s, u"SetAVTransportURI"_s, u"Seek"_s, u"Seek"_s, u"Play"_s},
         true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.situation);
        BroadcastRig rig;
        rig.preferences.setAnnouncementVolume(row.volume);
        rig.preferences.setRestoreAfterClip(row.restore);
        FakeSonosPlayer kitchen(QHostAddress::LocalHost);
        kitchen.setState(FakeSonosPlayer::queue(5, 137s, u"PLAYING"_s));
        if (!row.volumeReadable)
            kitchen.behaviour.insert(u"GetVolume"_s, FakeSonosPlayer::Behaviour::Fault);
        const auto before = kitchen.state();
        const QList<Speaker> speakers{sonosSpeaker(kitchen, u"RINCON_K"_s)};

        ASSERT_TRUE(rig.run(rig.broadcaster->startRecording(speakers)));
        ASSERT_TRUE(rig.run(rig.broadcaster->stopAndSend(speakers)));
        EXPECT_EQ(commands(kitchen), row.expected);
        const bool read = kitchen.actions.contains(u"GetMediaInfo"_s) ||
                          kitchen.actions.contains(u"GetVolume"_s) ||
                          kitchen.actions.contains(u"GetPositionInfo"_s);
        EXPECT_EQ(read, row.restore);
        if (row.endsAsBefore)
            EXPECT_TRUE(sameSituation(before, kitchen.state()));
        else
            EXPECT_EQ(kitchen.state().volume, row.volume);
        const auto volume = std::find_if(kitchen.requests.begin(), kitchen.requests.end(),
                                         [](const auto &r) { return r.action == u"SetVolume"_s; });
        if (row.expected.value(1) == u"SetVolume"_s) {
            ASSERT_NE(volume, kitchen.requests.end());
            EXPECT_TRUE(volume->body.contains(u"<DesiredVolume>%1</DesiredVolume>"_s.arg(row.volume)));
        }
    }
}

TEST(BroadcastSpeakers, EachDeviceHoldsTheClipForItsLengthPlusOneSecond)
{
    EXPECT_EQ(AnnouncementCue::holdFor(4.2, 1000ms), 5200ms);
    EXPECT_EQ(AnnouncementCue::holdFor(0.0, 1000ms), 1000ms);
    EXPECT_EQ(AnnouncementCue::holdFor(-3.0, 1000ms), 1000ms);
    EXPECT_EQ(AnnouncementCue::holdFor(1e12, 1000ms),
              std::chrono::milliseconds(std::numeric_limits<int>::max()));

    BroadcastRig rig([](BroadcasterSetup &setup) {
        setup.holdPadding = 1000ms;
        setup.makeCastController = [] { return new CastController; }; // the real waits
    });
    rig.recorder->clipSeconds = 4.2;
    FakeSonosPlayer kitchen(QHostAddress::LocalHost);
    kitchen.setState(FakeSonosPlayer::radio(u"PAUSED_PLAYBACK"_s));
    FakeCastDevice den;
    ASSERT_TRUE(startReceiver(den));
    const QList<Speaker> speakers{sonosSpeaker(kitchen, u"RINCON_K"_s), castSpeaker(den, u"Den"_s)};

    ASSERT_TRUE(rig.run(rig.broadcaster->startRecording(speakers)));
    ASSERT_TRUE(awaitReceiver(den));
    auto release = rig.broadcaster->stopAndSend(speakers);
    qint64 loadAt = -1;
    ASSERT_TRUE(waitUntil([&] {
        if (loadAt < 0 && !den.received.filter(u"\"LOAD\""_s).isEmpty())
            loadAt = den.lastFrameAtMs;
        return release.isReady();
    }));
    ASSERT_TRUE(waitUntil([&] { return den.peerClosed(); }));
    // From the clip's Play to the first command that puts the player back.
    const auto play = std::find_if(kitchen.requests.begin(), kitchen.requests.end(),
                                   [](const auto &r) { return r.action == u"Play"_s; });
    ASSERT_NE(play, kitchen.requests.end());
    const auto back = std::find_if(play, kitchen.requests.end(),
                                   [](const auto &r) { return r.action == u"SetAVTransportURI"_s; });
    ASSERT_NE(back, kitchen.requests.end());
    const auto sonosHold = std::chrono::duration_cast<std::chrono::milliseconds>(back->at - play->at);
    EXPECT_GE(sonosHold, 5200ms);
    EXPECT_LT(sonosHold, 6500ms);
    ASSERT_GE(loadAt, 0);
    // The session counts from sending LOAD, which the device reads a moment later.
    EXPECT_GE(den.closedAtMs - loadAt, 5100);
    EXPECT_LT(den.closedAtMs - loadAt, 6500);
}

TEST(BroadcastSpeakers, SonosReadsThatCannotChangeWhileTheUserSpeaksAreMadeDuringTheRecording)
{
    BroadcastRig rig;
    FakeSonosPlayer kitchen(QHostAddress::LocalHost), bath(QHostAddress::LocalHost);
    kitchen.setState(FakeSonosPlayer::queue(2, 30s, u"PAUSED_PLAYBACK"_s));
    bath.setState(FakeSonosPlayer::queue(4, 50s, u"PAUSED_PLAYBACK"_s));
    const auto before = kitchen.state(), bathBefore = bath.state();
    const Speaker speaker = sonosSpeaker(kitchen, u"RINCON_K"_s);

    ASSERT_TRUE(rig.run(rig.broadcaster->startRecording({speaker})));
    ASSERT_TRUE(waitUntil([&] { return kitchen.actions.size() == 3; }));
    QStringList during = kitchen.actions;
    std::sort(during.begin() + 1, during.end());
    EXPECT_EQ(during, (QStringList{u"GetZoneGroupState"_s, u"GetMediaInfo"_s, u"GetVolume"_s}));
    ASSERT_TRUE(rig.run(rig.broadcaster->stopAndSend({speaker})));
    // The place in the track is read at the release, where the user left it.
    QStringList atRelease = kitchen.actions.mid(3, 2);
    atRelease.sort();
    EXPECT_EQ(atRelease, (QStringList{u"GetPositionInfo"_s, u"GetTransportInfo"_s}));
    EXPECT_TRUE(sameSituation(before, kitchen.state()));

    // Other speakers at the release than at the press: everything is read afresh.
    ASSERT_TRUE(rig.run(rig.broadcaster->startRecording({speaker})));
    ASSERT_TRUE(rig.run(rig.broadcaster->stopAndSend({speaker, sonosSpeaker(bath, u"RINCON_B"_s)})));
    EXPECT_EQ(kitchen.actions.count(u"GetMediaInfo"_s), 3);
    EXPECT_EQ(clipUrls(bath).size(), 1);
    EXPECT_TRUE(sameSituation(before, kitchen.state()));
    EXPECT_TRUE(sameSituation(bathBefore, bath.state()));
}

TEST(BroadcastSpeakers, TheDeliveryListNamesWhatEachRoomDid)
{
    BroadcastRig rig;
    FakeSonosPlayer kitchen(QHostAddress::LocalHost), hall(QHostAddress::LocalHost),
        attic(QHostAddress::LocalHost);
    kitchen.setState(FakeSonosPlayer::radio(u"PAUSED_PLAYBACK"_s));
    hall.setState(FakeSonosPlayer::queue(1, 5s, u"PAUSED_PLAYBACK"_s));
    const auto hallBefore = hall.state();
    hall.behaviour.insert(u"SetAVTransportURI"_s, FakeSonosPlayer::Behaviour::Fault);
    for (const QString &action : {u"GetMediaInfo"_s, u"GetVolume"_s, u"GetPositionInfo"_s,
                                  u"GetTransportInfo"_s, u"SetAVTransportURI"_s})
        attic.behaviour.insert(action, FakeSonosPlayer::Behaviour::Hang);
    FakeCastDevice den, tv;
    ASSERT_TRUE(startReceiver(den) && tv.start());
    tv.accept = FakeCastDevice::Accept::NeverHandshake;
    const QList<Speaker> speakers{sonosSpeaker(kitchen, u"RINCON_K"_s), castSpeaker(tv, u"TV"_s),
                                  sonosSpeaker(hall, u"RINCON_H"_s), castSpeaker(den, u"Den"_s),
                                  sonosSpeaker(attic, u"RINCON_A"_s)};
    QList<QList<Delivery>> shown;
    QObject::connect(rig.broadcaster.get(), &Broadcaster::deliveriesChanged,
                     [&] { shown << rig.broadcaster->deliveries(); });

    ASSERT_TRUE(rig.run(rig.broadcaster->startRecording(speakers)));
    ASSERT_TRUE(awaitReceiver(den));
    const QDeadlineTimer bound(5000);
    ASSERT_TRUE(rig.run(rig.broadcaster->stopAndSend(speakers)));
    // The hanging attic costs a read's timeout, the source switch's timeout and the hold: under 3 s.
    EXPECT_FALSE(bound.hasExpired());
    EXPECT_EQ(rig.status(), idle);
    const QList<Delivery> expected{{speakers[0], Delivery::Outcome::Played, {}},
                                   {speakers[1], Delivery::Outcome::NotReady, {}},
                                   {speakers[2], Delivery::Outcome::Refused, u"714"_s},
                                   {speakers[3], Delivery::Outcome::Played, {}},
                                   {speakers[4], Delivery::Outcome::NoAnswer, {}}};
    EXPECT_EQ(shown, (QList<QList<Delivery>>{expected}));
    EXPECT_TRUE(sameSituation(hallBefore, hall.state()));

    // The next broadcast clears the list when it starts playing, and shows its own at the end.
    ASSERT_TRUE(rig.run(rig.broadcaster->broadcast(QUrl::fromLocalFile(rig.clipPath), {speakers[0]}, 0.5)));
    EXPECT_EQ(shown.size(), 3);
    EXPECT_TRUE(shown.value(1).isEmpty());
    EXPECT_EQ(rig.broadcaster->deliveries(), expected.mid(0, 1));
}

TEST(BroadcastSpeakers, DuplicatesAndBrokenSpeakerRecordsNeitherCrashNorStopTheOthers)
{
    BroadcastRig rig;
    FakeSonosPlayer kitchen(QHostAddress::LocalHost);
    FakeCastDevice den;
    ASSERT_TRUE(startReceiver(den));
    const Speaker good = sonosSpeaker(kitchen, u"RINCON_K"_s);
    const Speaker cast = castSpeaker(den, u"Den"_s);
    const Speaker noHost{u"sonos:RINCON_X"_s, SpeakerKind::Sonos, u"Nowhere"_s, QString(), 1400,
                         u"RINCON_X"_s};
    const Speaker noPort{u"cast:Nothing"_s, SpeakerKind::Chromecast, u"Nothing"_s, u"127.0.0.1"_s, 0,
                         std::nullopt};
    const QList<Speaker> speakers{good, cast, good, noHost, cast, noPort};

    ASSERT_TRUE(rig.run(rig.broadcaster->startRecording(speakers)));
    ASSERT_TRUE(awaitReceiver(den));
    ASSERT_TRUE(rig.run(rig.broadcaster->stopAndSend(speakers)));
    EXPECT_EQ(rig.statuses, (QList<Broadcaster::Status>{recording, broadcasting(u"4 speakers"_s), idle}));
    EXPECT_EQ(clipUrls(kitchen).size(), 1);
    EXPECT_EQ(den.connections, 1);
    EXPECT_EQ(den.received.filter(u"\"LOAD\""_s).size(), 1);
    EXPECT_EQ(rig.broadcaster->deliveries(), (QList<Delivery>{{good, Delivery::Outcome::Played, {}},
                                                              {cast, Delivery::Outcome::Played, {}},
                                                              {noHost, Delivery::Outcome::NoAnswer, {}},
                                                              {noPort, Delivery::Outcome::NotReady, {}}}));
}

TEST(BroadcastSpeakers, OverlappingBroadcastsPutThePlayerBackAsTheUserLeftIt)
{
    BroadcastRig rig([](BroadcasterSetup &setup) { setup.holdPadding = 600ms; });
    FakeSonosPlayer kitchen(QHostAddress::LocalHost);
    kitchen.setState(FakeSonosPlayer::queue(4, 200s, u"PAUSED_PLAYBACK"_s));
    const auto before = kitchen.state();
    const QList<Speaker> speakers{sonosSpeaker(kitchen, u"RINCON_K"_s)};
    const QUrl clip = QUrl::fromLocalFile(rig.clipPath);

    auto first = rig.broadcaster->broadcast(clip, speakers, 0.5);
    ASSERT_TRUE(waitUntil([&] { return kitchen.actions.contains(u"Play"_s); }));
    // A saved message tapped again while the first one plays, then a recording sent over both.
    auto second = rig.broadcaster->broadcast(clip, speakers, 0.5);
    ASSERT_TRUE(rig.run(rig.broadcaster->stopAndSend(speakers)));
    ASSERT_TRUE(rig.run(rig.broadcaster->startRecording(speakers)));
    ASSERT_TRUE(rig.run(rig.broadcaster->stopAndSend(speakers)));
    ASSERT_TRUE(rig.run(std::move(first)));
    ASSERT_TRUE(rig.run(std::move(second)));
    EXPECT_EQ(rig.status(), idle);
    EXPECT_EQ(kitchen.actions.count(u"SetAVTransportURI"_s), 4); // three clips, one way back
    EXPECT_TRUE(sameSituation(before, kitchen.state()));
}

// Announcements in a row must not pile anything up: once the devices are done,
// a broadcast's sessions and clip server are gone, and so is every timer it
// started, the deadlines of requests answered in time among them.
TEST(BroadcastSpeakers, NothingOfABroadcastOutlivesIt)
{
    BroadcastRig rig;
    FakeSonosPlayer kitchen(QHostAddress::LocalHost);
    kitchen.setState(FakeSonosPlayer::queue(5, 137s, u"PLAYING"_s));
    FakeCastDevice den;
    ASSERT_TRUE(startReceiver(den));
    const QList<Speaker> speakers{sonosSpeaker(kitchen, u"RINCON_K"_s), castSpeaker(den, u"Den"_s)};
    // A single-shot timer belongs to the event dispatcher until it fires (the
    // fake devices' own ones do so within seconds).
    const QObject *dispatcher = QAbstractEventDispatcher::instance();
    const qsizetype timers = dispatcher->children().size();
    const qsizetype children = rig.broadcaster->children().size();

    for (int n = 0; n < 2; ++n)
        ASSERT_TRUE(rig.run(rig.broadcaster->broadcast(QUrl::fromLocalFile(rig.clipPath), speakers, 0.5)));
    ASSERT_EQ(rig.broadcaster->deliveries().size(), 2);
    EXPECT_TRUE(waitUntil([&] {
        return dispatcher->children().size() <= timers && rig.broadcaster->children().size() <= children;
    })) << dispatcher->children().size() - timers
        << " single-shot timers and " << rig.broadcaster->children().size() - children
        << " of the broadcaster's objects are left";
}

TEST(BroadcastSpeakers, ADeviceHasPlayedOnlyWhenItSaidYesAndFetchedTheClip)
{
    const QHostAddress device(u"192.168.1.20"_s), other(u"192.168.1.30"_s);
    const Speaker speaker{u"cast:A"_s, SpeakerKind::Chromecast, u"A"_s, u"192.168.1.20"_s, 8009,
                          std::nullopt};
    struct Row
    {
        const char *situation;
        DeviceReply reply;
        bool notReady;
        QList<QHostAddress> fetchedBy;
        Delivery::Outcome outcome;
    };
    const Row rows[] = {
        {"said yes and fetched", DeviceReply::accepted(), false, {other, device}, Delivery::Outcome::Played},
        {"said yes, never fetched", DeviceReply::accepted(), false, {other}, Delivery::Outcome::NoAnswer},
        {"fetched without saying yes", DeviceReply::noAnswer(), false, {device}, Delivery::Outcome::NoAnswer},
        {"refused", DeviceReply::refused(u"LOAD_FAILED"_s), false, {device}, Delivery::Outcome::Refused},
        {"not ready in time", DeviceReply::noAnswer(), true, {}, Delivery::Outcome::NotReady},
    };
    for (const Row &row : rows) {
        const SpeakerAttempt attempt{{speaker}, {device}, row.reply, row.notReady};
        const QList<Delivery> deliveries = deliveriesFor({speaker}, {attempt}, row.fetchedBy);
        ASSERT_EQ(deliveries.size(), 1) << row.situation;
        EXPECT_EQ(deliveries.first().outcome, row.outcome) << row.situation;
        EXPECT_EQ(deliveries.first().code,
                  row.outcome == Delivery::Outcome::Refused ? u"LOAD_FAILED"_s : QString())
            << row.situation;
    }
}

} // namespace
