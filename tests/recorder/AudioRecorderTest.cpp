// The recorder against a private PulseAudio server whose default source is a
// virtual microphone fed with synthetic speech (see pulse-fixture.sh). Each
// case runs in a process of its own, so a case may point PULSE_SERVER
// elsewhere before it first talks to the server.
#include "audio/AudioRecorder.h"
#include "audio/AudioFileDuration.h"
#include "recorder/M4aProbe.h"

#include <QCoreApplication>
#include <QCoro/QCoroProcess>
#include <QCoro/QCoroSignal>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

using namespace pealix;
using namespace Qt::StringLiterals;
using namespace pealix::test;

namespace {

class AudioRecorderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_vmic = QFileInfo(qEnvironmentVariable("PULSE_SERVER").mid(5)).absolutePath();
        PEALIX_REQUIRE(QFileInfo::exists(m_vmic + u"/native"_s),
                       "no PulseAudio server from pulse-fixture.sh");
        PEALIX_REQUIRE(havePrograms(u"espeak-ng paplay pactl ffmpeg"_s.split(' ')), "programs missing");
        m_ticks.start(60); // the broadcaster polls the meter every 60 ms
        ASSERT_TRUE(runProgram(u"espeak-ng"_s,
                               {u"-w"_s, m_speech, u"Dinner is ready, everybody come down please"_s}));
    }

    QString m_vmic;
    QTemporaryDir m_dir;
    const QString m_speech = m_dir.filePath(u"speech.wav"_s);
    QTimer m_ticks;

    bool playSpeechIntoMicrophone()
    {
        QProcess player;
        player.start(findProgram(u"paplay"_s), {u"-d"_s, u"vmic_sink"_s, m_speech});
        return QCoro::waitFor(qCoro(player).waitForFinished(std::chrono::seconds(15))) &&
               player.exitCode() == 0;
    }

    void awaitTicks(int count)
    {
        for (int i = 0; i < count; ++i)
            QSignalSpy(&m_ticks, &QTimer::timeout).wait(1000);
    }
};

TEST_F(AudioRecorderTest, shortClipsPlayAndStartingAnyRecorderDeletesTheLastClip)
{
    AudioRecorder first, second;
    ASSERT_FALSE(first.start());
    const auto clip = first.stop(); // well under 100 ms of audio
    ASSERT_TRUE(clip);
    // ffmpeg reads and decodes it without an error (a clip of a few samples may decode to none).
    EXPECT_TRUE(runProgram(u"ffmpeg"_s, QStringList{u"-xerror"_s, u"-i"_s, clip->url.toLocalFile()}
                                            << u"-f null -"_s.split(' ')));
    EXPECT_FALSE(first.stop());
    EXPECT_EQ(first.recorder(), nullptr);
    // The last clip stays where it is until the next recording, by any instance.
    ASSERT_TRUE(QFile::exists(clip->url.toLocalFile()));
    ASSERT_FALSE(second.start());
    EXPECT_FALSE(QFile::exists(clip->url.toLocalFile()));
    // Starting again while recording drops the unfinished recording.
    ASSERT_FALSE(second.start());
    ASSERT_TRUE(second.stop());
    const QDir temporary = QFileInfo(second.clipPath()).dir();
    EXPECT_EQ(temporary.entryList({u".pealix-clip-*"_s}, QDir::Files | QDir::Hidden), QStringList());

    // Without a runtime folder the clip goes to the temporary folder; one that
    // cannot hold files fails the start with its name.
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", m_speech.toUtf8());
    const auto error = first.start();
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->description.contains(m_speech)) << error->description.toStdString();
}

TEST_F(AudioRecorderTest, microphoneVanishingMidRecordingStillYieldsTheCapturedClip)
{
    // A socket of this process's own, opened before it first talks to the
    // server: unloading it cuts off this process alone, so to the recorder the
    // microphone and the whole server vanish at once.
    const QString socket = m_vmic + u"/native-private-%1"_s.arg(QCoreApplication::applicationPid());
    const auto module = runProgram(u"pactl"_s, {u"load-module"_s, u"module-native-protocol-unix"_s,
                                                u"auth-anonymous=1"_s, u"socket="_s + socket});
    ASSERT_TRUE(module);
    qputenv("PULSE_SERVER", "unix:" + socket.toUtf8());
    AudioRecorder recorder;
    const bool played = !recorder.start() && playSpeechIntoMicrophone();
    ASSERT_TRUE(runProgram(u"pactl"_s, {u"unload-module"_s, QString::fromLatin1(module->trimmed())}));
    ASSERT_TRUE(played);

    awaitTicks(3);
    const double captured = recorder.recorder()->currentTime();
    EXPECT_GT(captured, 0.5);
    const auto clip = recorder.stop();
    ASSERT_TRUE(clip);
    EXPECT_DOUBLE_EQ(clip->duration, captured);
    EXPECT_NEAR(audioFileDuration(clip->url.toLocalFile()).value_or(-1), clip->duration, 0.01);
    EXPECT_GT(decodedMeanVolume(clip->url.toLocalFile()).value_or(-100), -60.0);
    // With the server gone the next start fails readably instead of hanging,
    // leaves no capture behind, and still deletes the last clip: its recording is over.
    const auto error = recorder.start();
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->description.trimmed().isEmpty());
    EXPECT_EQ(recorder.recorder(), nullptr);
    EXPECT_FALSE(recorder.stop());
    EXPECT_FALSE(QFile::exists(clip->url.toLocalFile()));
}

} // namespace
