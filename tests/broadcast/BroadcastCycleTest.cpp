// The broadcaster's states and what the user sees: statuses, the level meter,
// error texts, and input that must end cleanly.
#include "broadcast/BroadcastRig.h"

#include <QTcpSocket>
#include <gtest/gtest.h>

using namespace pealix;
using namespace pealix::test;

namespace {

bool portAccepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(2000);
}

TEST(BroadcastCycle, OneAnnouncementFromPressToRestore)
{
    BroadcastRig rig;
    FakeSonosPlayer kitchen(QHostAddress::LocalHost);
    kitchen.setState(FakeSonosPlayer::queue(5, 137s, u"PAUSED_PLAYBACK"_s));
    const FakeSonosPlayer::State before = kitchen.state();
    const QList<Speaker> speakers{sonosSpeaker(kitchen, u"RINCON_K"_s)};

    ASSERT_TRUE(rig.run(rig.broadcaster->startRecording(speakers)));
    EXPECT_EQ(rig.status(), recording);
    // The meter polls the microphone while recording: -30 dBFS shows half way.
    ASSERT_TRUE(waitUntil([&] { return rig.recorder->powerReadings >= 3; }));
    EXPECT_FLOAT_EQ(rig.broadcaster->level(), 0.5f);

    auto release = rig.broadcaster->stopAndSend(speakers);
    const int readings = rig.recorder->powerReadings;
    ASSERT_TRUE(rig.run(std::move(release)));
    EXPECT_EQ(rig.statuses, (QList<Broadcaster::Status>{recording, broadcasting(u"1 speaker"_s), idle}));
    EXPECT_EQ(rig.broadcaster->level(), 0.0f);
    EXPECT_EQ(rig.recorder->powerReadings, readings) << "the meter kept polling after the release";
    EXPECT_TRUE(rig.broadcaster->lastError().isNull());

    EXPECT_TRUE(sameSituation(before, kitchen.state()));
    EXPECT_EQ(rig.broadcaster->deliveries(),
              (QList<Delivery>{{speakers.first(), Delivery::Outcome::Played, {}}}));
    const QStringList urls = clipUrls(kitchen);
    ASSERT_EQ(urls.size(), 1);
    // The clip server is gone with its broadcast.
    EXPECT_FALSE(portAccepts(QUrl(urls.first()).port()));
}

// What a failing case may change before the chord is pressed or a saved message tapped.
struct Attempt
{
    BroadcastRig &rig;
    QList<Speaker> speakers; // at the release
    QUrl clip;               // a saved message's
    double duration = 2.0;
};

TEST(BroadcastCycle, FailuresEndIdleWithTheUsersTextAndNothingPlayed)
{
    const auto savedMessageOfLength = [](double length) {
        return [length](Attempt &a) { a.duration = length; };
    };
    const struct
    {
        const char *situation;
        std::function<void(Attempt &)> arrange;
        bool savedMessage;
        QString error; // a prefix where the rest is the system's own words
        std::function<void(BroadcasterSetup &)> setup = {};
    } rows[] = {
        {"the microphone is refused", [](Attempt &a) { a.rig.recorder->granted = false; }, false,
         Broadcaster::microphoneDeniedText},
        {"the recorder will not start",
         [](Attempt &a) { a.rig.recorder->startError = u"No microphone is available"_s; }, false,
         Broadcaster::startFailedText + u"No microphone is available"_s},
        {"the recording cannot be finished",
         [](Attempt &a) {
             a.rig.recorder->clipPath.clear();
             a.rig.recorder->failure = u"Cannot move the recording to /run/user/1000/pealix-clip.m4a"_s;
         },
         false,
         Broadcaster::finishFailedText + u"Cannot move the recording to /run/user/1000/pealix-clip.m4a"_s},
        {"a brush of the chord", [](Attempt &a) { a.rig.recorder->clipSeconds = 0.29; }, false,
         Broadcaster::tooShortText},
        {"no speaker selected at the release", [](Attempt &a) { a.speakers.clear(); }, false,
         Broadcaster::noSpeakersText},
        {"no address of ours", [](Attempt &) {}, false, Broadcaster::noAddressText,
         [](BroadcasterSetup &setup) {
             setup.localAddressFor = [](const QHostAddress &) { return std::nullopt; };
         }},
        {"the clip deleted before the release", [](Attempt &a) { QFile::remove(a.rig.clipPath); }, false,
         Broadcaster::serverFailedText},
        {"a saved message of unknown length", savedMessageOfLength(std::nan("")), true,
         Broadcaster::unreadableLengthText},
        {"a saved message of negative length", savedMessageOfLength(-1), true,
         Broadcaster::unreadableLengthText},
        {"a saved message of endless length", savedMessageOfLength(INFINITY), true,
         Broadcaster::unreadableLengthText},
        {"a saved message that is not audio",
         [](Attempt &a) {
             QFile text(a.rig.dir.filePath(u"Dinner.m4a"_s));
             ASSERT_TRUE(text.open(QIODevice::WriteOnly));
             text.write("Dinner is ready, this is not audio\n");
             a.clip = QUrl::fromLocalFile(text.fileName());
         },
         true, Broadcaster::unreadableLengthText},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.situation);
        BroadcastRig rig(row.setup);
        FakeSonosPlayer kitchen(QHostAddress::LocalHost);
        FakeCastDevice den;
        ASSERT_TRUE(startReceiver(den));
        const QList<Speaker> pressed{sonosSpeaker(kitchen, u"RINCON_K"_s), castSpeaker(den, u"Den"_s)};
        Attempt attempt{rig, pressed, QUrl::fromLocalFile(rig.clipPath)};
        row.arrange(attempt);

        if (row.savedMessage) {
            ASSERT_TRUE(
                rig.run(rig.broadcaster->broadcast(attempt.clip, attempt.speakers, attempt.duration)));
        } else {
            ASSERT_TRUE(rig.run(rig.broadcaster->startRecording(pressed)));
            ASSERT_TRUE(rig.run(rig.broadcaster->stopAndSend(attempt.speakers)));
        }
        EXPECT_TRUE(rig.broadcaster->lastError().startsWith(row.error))
            << rig.broadcaster->lastError().toStdString();
        EXPECT_EQ(rig.status(), idle);
        EXPECT_FALSE(rig.statuses.contains(broadcasting(u"2 speakers"_s)));
        EXPECT_FALSE(rig.recorder->isRecording());
        EXPECT_EQ(rig.broadcaster->level(), 0.0f);
        EXPECT_TRUE(rig.broadcaster->deliveries().isEmpty());
        EXPECT_TRUE(clipUrls(kitchen).isEmpty());
        EXPECT_FALSE(kitchen.actions.contains(u"SetVolume"_s) || kitchen.actions.contains(u"Play"_s));
        EXPECT_FALSE(den.received.join(u'\n').contains(u"\"LOAD\""_s));
        // A recording that could not be sent lets its Cast session go at once.
        if (row.error == Broadcaster::tooShortText || row.error.startsWith(Broadcaster::finishFailedText)) {
            EXPECT_TRUE(waitUntil([&] { return den.connections == 1 && den.peerClosed(); }));
        }
    }
}

TEST(BroadcastCycle, PressDuringABroadcastDoesNothingAndItsReleaseResetsWhileTheBroadcastGoesOn)
{
    BroadcastRig rig([](BroadcasterSetup &setup) { setup.holdPadding = 1500ms; });
    FakeSonosPlayer kitchen(QHostAddress::LocalHost);
    kitchen.setState(FakeSonosPlayer::radio(u"PLAYING"_s));
    const auto before = kitchen.state();
    const QList<Speaker> speakers{sonosSpeaker(kitchen, u"RINCON_K"_s)};

    auto sending = rig.broadcaster->broadcast(QUrl::fromLocalFile(rig.clipPath), speakers, 0.5);
    ASSERT_TRUE(waitUntil([&] { return kitchen.actions.contains(u"Play"_s); }));
    ASSERT_EQ(rig.status(), broadcasting(u"1 speaker"_s));
    ASSERT_TRUE(rig.run(rig.broadcaster->startRecording(speakers)));
    EXPECT_EQ(rig.status(), broadcasting(u"1 speaker"_s));
    EXPECT_EQ(rig.recorder->starts, 0);
    ASSERT_TRUE(rig.run(rig.broadcaster->stopAndSend(speakers)));
    EXPECT_EQ(rig.status(), idle);
    EXPECT_FALSE(sending.isReady());

    // A new recording begun after that reset is not cut off when the old broadcast ends.
    ASSERT_TRUE(rig.run(rig.broadcaster->startRecording(speakers)));
    ASSERT_TRUE(rig.run(std::move(sending)));
    EXPECT_EQ(rig.status(), recording);
    EXPECT_TRUE(rig.recorder->isRecording());
    EXPECT_TRUE(sameSituation(before, kitchen.state()));
    ASSERT_TRUE(rig.run(rig.broadcaster->stopAndSend(speakers)));
    EXPECT_EQ(rig.statuses, (QList<Broadcaster::Status>{broadcasting(u"1 speaker"_s), idle, recording,
                                                        broadcasting(u"1 speaker"_s), idle}));
    EXPECT_TRUE(sameSituation(before, kitchen.state()));
}

TEST(BroadcastCycle, StrayReleasesAndAChordFiftyTimesASecondEndCleanly)
{
    BroadcastRig rig;
    FakeSonosPlayer kitchen(QHostAddress::LocalHost);
    kitchen.setState(FakeSonosPlayer::queue(3, 61s, u"PAUSED_PLAYBACK"_s));
    const auto before = kitchen.state();
    const QList<Speaker> speakers{sonosSpeaker(kitchen, u"RINCON_K"_s)};

    // A release with no press before it changes nothing at all.
    ASSERT_TRUE(rig.run(rig.broadcaster->stopAndSend(speakers)));
    EXPECT_TRUE(rig.statuses.isEmpty());
    EXPECT_TRUE(rig.broadcaster->lastError().isNull());
    EXPECT_TRUE(kitchen.requests.isEmpty());

    // Fifty holds of 10 ms, 20 ms apart; every tenth is long enough to be sent.
    std::vector<QCoro::Task<>> tasks;
    int pressed = 0;
    for (int i = 0; i < 50; ++i) {
        QTimer::singleShot(i * 20, [&] {
            ++pressed;
            tasks.push_back(rig.broadcaster->startRecording(speakers));
        });
        QTimer::singleShot(i * 20 + 10, [&, i] {
            rig.recorder->clipSeconds = i % 10 == 4 ? std::optional(0.5) : std::nullopt;
            tasks.push_back(rig.broadcaster->stopAndSend(speakers));
        });
    }
    ASSERT_TRUE(waitUntil([&] {
        return tasks.size() == 100 &&
               std::all_of(tasks.begin(), tasks.end(), [](auto &t) { return t.isReady(); });
    }));
    EXPECT_EQ(pressed, 50);
    EXPECT_EQ(rig.status(), idle);
    EXPECT_EQ(rig.broadcaster->lastError(), Broadcaster::tooShortText);
    EXPECT_FALSE(rig.recorder->isRecording());
    EXPECT_EQ(rig.recorder->starts, rig.recorder->stops);
    EXPECT_TRUE(sameSituation(before, kitchen.state()));
    const QStringList urls = clipUrls(kitchen);
    EXPECT_FALSE(urls.isEmpty());
    for (const QString &url : urls)
        EXPECT_FALSE(portAccepts(QUrl(url).port())) << url.toStdString() << " still served";
}

TEST(BroadcastCycle, APressStillWaitingForTheMicrophoneWhenTheChordIsLetGoRecordsNothing)
{
    BroadcastRig rig;
    rig.recorder->permissionAnswer = net::OneShot<bool>();
    auto press = rig.broadcaster->startRecording({});
    ASSERT_TRUE(rig.run(rig.broadcaster->stopAndSend({})));
    rig.recorder->permissionAnswer->complete(true);
    ASSERT_TRUE(rig.run(std::move(press)));
    EXPECT_EQ(rig.recorder->starts, 0);
    EXPECT_EQ(rig.status(), idle);
    EXPECT_TRUE(rig.statuses.isEmpty());
}

TEST(BroadcastCycle, MeterShowsDecibelsLinearlyFromMinusSixtyToZero)
{
    const std::pair<float, float> rows[] = {
        {-30.0f, 0.5f},  {-80.0f, 0.0f},  {3.0f, 1.0f}, {-60.0f, 0.0f},    {0.0f, 1.0f},
        {-15.0f, 0.75f}, {-160.0f, 0.0f}, {NAN, 0.0f},  {-INFINITY, 0.0f}, {INFINITY, 1.0f},
    };
    for (const auto &[power, level] : rows)
        EXPECT_FLOAT_EQ(Broadcaster::meterLevel(power), level) << power << " dBFS";
}

} // namespace
