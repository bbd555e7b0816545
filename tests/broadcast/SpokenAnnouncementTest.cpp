// A whole announcement as a user makes one: speech into the (virtual)
// microphone while the chord is held, then every room plays what was said and
// the Sonos players go back to what they were doing.
#include "audio/AudioFileDuration.h"
#include "audio/AudioRecorder.h"
#include "broadcast/BroadcastRig.h"
#include "engine/MicrophoneRecorder.h"
#include "support/TestEnvironment.h"

#include <QCoro/QCoroProcess>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

using namespace pealix;
using namespace pealix::test;

namespace {

bool runToEnd(QProcess &process, const QString &program, const QStringList &arguments)
{
    process.start(findProgram(program), arguments);
    return QCoro::waitFor(qCoro(process).waitForFinished(std::chrono::seconds(20))) &&
           process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

TEST(SpokenAnnouncement, EveryRoomPlaysWhatWasSaidAndTheSonosPlayersGoBack)
{
    const QString server = qEnvironmentVariable("PULSE_SERVER").mid(5);
    PEALIX_REQUIRE(QFileInfo::exists(server), "no PulseAudio server from tests/recorder/pulse-fixture.sh");
    PEALIX_REQUIRE(havePrograms({u"espeak-ng"_s, u"paplay"_s}), "espeak-ng and paplay are needed");

    BroadcastRig rig(
        [](BroadcasterSetup &setup) { setup.recorder = std::make_unique<MicrophoneRecorder>(); });
    const QString speech = rig.dir.filePath(u"speech.wav"_s);
    QProcess speak;
    ASSERT_TRUE(
        runToEnd(speak, u"espeak-ng"_s, {u"-w"_s, speech, u"Dinner is ready, everybody come down"_s}));

    FakeSonosPlayer living(QHostAddress::LocalHost), kitchen(QHostAddress::LocalHost),
        bath(QHostAddress::LocalHost);
    living.setState(FakeSonosPlayer::radio(u"PLAYING"_s));
    kitchen.setState(FakeSonosPlayer::radio(u"PLAYING"_s));
    bath.setState(FakeSonosPlayer::queue(7, 95s, u"PAUSED_PLAYBACK"_s));
    const QByteArray topology = zoneGroupState({{u"RINCON_L"_s, &living}, {u"RINCON_K"_s, &kitchen}});
    for (FakeSonosPlayer *player : {&living, &kitchen, &bath})
        player->responses.insert(u"GetZoneGroupState"_s, topology);
    const auto livingBefore = living.state(), bathBefore = bath.state();
    FakeCastDevice den;
    ASSERT_TRUE(startReceiver(den));
    const QList<Speaker> speakers{sonosSpeaker(living, u"RINCON_L"_s), sonosSpeaker(kitchen, u"RINCON_K"_s),
                                  castSpeaker(den, u"Den"_s), sonosSpeaker(bath, u"RINCON_B"_s)};
    float loudest = 0;
    QObject::connect(rig.broadcaster.get(), &Broadcaster::levelChanged,
                     [&] { loudest = std::max(loudest, rig.broadcaster->level()); });

    ASSERT_TRUE(rig.run(rig.broadcaster->startRecording(speakers)));
    ASSERT_EQ(rig.status(), recording) << rig.broadcaster->lastError().toStdString();
    QProcess play;
    ASSERT_TRUE(runToEnd(play, u"paplay"_s, {u"-d"_s, u"vmic_sink"_s, speech}));
    ASSERT_TRUE(rig.run(rig.broadcaster->stopAndSend(speakers)));

    EXPECT_TRUE(rig.broadcaster->lastError().isNull()) << rig.broadcaster->lastError().toStdString();
    EXPECT_EQ(rig.statuses, (QList<Broadcaster::Status>{recording, broadcasting(u"4 speakers"_s), idle}));
    EXPECT_GT(loudest, 0.3f) << "the meter never showed the speech";
    QFile clip(AudioRecorder::defaultClipPath());
    ASSERT_TRUE(clip.open(QIODevice::ReadOnly));
    const QByteArray said = clip.readAll();
    EXPECT_GT(audioFileDuration(clip.fileName()).value_or(0), 1.0);

    // Each room fetched all of it; the kitchen's group coordinator played for it.
    for (const FakeSonosPlayer *player : {&living, &bath})
        EXPECT_EQ(player->fetches.value(player->fetches.size() - 1).bytes, said.size());
    EXPECT_TRUE(kitchen.fetches.isEmpty());
    EXPECT_EQ(den.fetchedBytes(), said);

    EXPECT_TRUE(sameSituation(livingBefore, living.state()));
    EXPECT_TRUE(sameSituation(bathBefore, bath.state()));
    QList<Delivery> played;
    for (const Speaker &speaker : speakers)
        played << Delivery{speaker, Delivery::Outcome::Played, {}};
    EXPECT_EQ(rig.broadcaster->deliveries(), played);
}

} // namespace
