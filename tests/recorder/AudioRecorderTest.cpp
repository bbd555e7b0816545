// The recorder against a private PulseAudio server whose default source is a
// virtual microphone fed with synthetic speech (see pulse-fixture.sh).
#include "engine/AudioRecorder.h"
#include "engine/AudioFileDuration.h"
#include "engine/AudioPowerMeter.h"
#include "recorder/M4aProbe.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QCoro/QCoroProcess>
#include <QCoro/QCoroSignal>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace pealix;
using pealix::test::decodedMeanVolume;
using pealix::test::findProgram;
using pealix::test::runProgram;

namespace {

QString vmicDir()
{
    const QString server = qEnvironmentVariable("PULSE_SERVER");
    return server.startsWith(QLatin1String("unix:")) ? QFileInfo(server.mid(5)).absolutePath() : QString();
}

QCoro::Task<bool> playIntoMicrophone(QString wav)
{
    QProcess player;
    player.start(findProgram(QStringLiteral("paplay")),
                 {QStringLiteral("-d"), QStringLiteral("vmic_sink"), wav});
    const bool done = co_await qCoro(player).waitForFinished(std::chrono::seconds(15));
    co_return done &&player.exitCode() == 0;
}

QCoro::Task<> awaitTicks(QTimer *timer, int count)
{
    for (int i = 0; i < count; ++i)
        co_await qCoro(timer, &QTimer::timeout);
}

QStringList partialClips()
{
    return QDir(QFileInfo(AudioRecorder::clipPath()).absolutePath())
        .entryList({QStringLiteral(".pealix-clip-*")}, QDir::Files | QDir::Hidden);
}

class AudioRecorderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString dir = vmicDir();
        PEALIX_REQUIRE(!dir.isEmpty() && QFileInfo::exists(dir + QStringLiteral("/native")),
                       "no private PulseAudio server (tests/recorder/pulse-fixture.sh did not start one)");
        QString missing;
        PEALIX_REQUIRE(pealix::test::havePrograms(
                           QStringLiteral("espeak-ng paplay pactl ffprobe ffmpeg").split(' '), &missing),
                       "missing programs: " + missing.toStdString());
        // The broadcaster polls the meter every 60 ms.
        m_ticks.start(60);
    }

    QString speechFile(const QString &text)
    {
        const QString wav = m_dir.filePath(QStringLiteral("speech.wav"));
        EXPECT_TRUE(runProgram(QStringLiteral("espeak-ng"), {QStringLiteral("-w"), wav, text}));
        return wav;
    }

    QTemporaryDir m_dir;
    QTimer m_ticks;
};

TEST_F(AudioRecorderTest, speechIsRecordedAsAMonoAacClipWithMatchingLengthAndLevels)
{
    const QString wav = speechFile(QStringLiteral("Dinner is ready, everybody come down please"));
    const auto speechLength = audioFileDuration(wav);
    ASSERT_TRUE(speechLength);

    AudioRecorder recorder;
    EXPECT_TRUE(QCoro::waitFor(recorder.requestPermission()));
    EXPECT_EQ(recorder.recorder(), nullptr);
    const auto error = recorder.start();
    ASSERT_FALSE(error) << error->description.toStdString();
    ASSERT_NE(recorder.recorder(), nullptr);

    bool speaking = true;
    float loudest = AudioPowerMeter::silenceFloor;
    std::vector<float> after;
    QObject::connect(&m_ticks, &QTimer::timeout, [&] {
        if (AudioCaptureSession *session = recorder.recorder()) {
            session->updateMeters();
            const float power = session->averagePower(0);
            if (speaking)
                loudest = std::max(loudest, power);
            else
                after.push_back(power);
        }
    });
    ASSERT_TRUE(QCoro::waitFor(playIntoMicrophone(wav)));
    speaking = false;
    // Long enough for the end of the speech to pass through the sound server.
    QCoro::waitFor(awaitTicks(&m_ticks, 10));
    const auto clip = recorder.stop();
    ASSERT_TRUE(clip);
    EXPECT_EQ(recorder.recorder(), nullptr);
    EXPECT_EQ(clip->url, QUrl::fromLocalFile(AudioRecorder::clipPath()));
    EXPECT_GE(clip->duration, *speechLength);

    EXPECT_GT(loudest, -40.0f);
    ASSERT_GE(after.size(), 3u);
    for (std::size_t i = after.size() - 3; i < after.size(); ++i)
        EXPECT_EQ(after[i], AudioPowerMeter::silenceFloor);

    const QString file = clip->url.toLocalFile();
    EXPECT_TRUE(pealix::test::isMonoAacM4a(file, clip->duration, 0.15));
    EXPECT_NEAR(audioFileDuration(file).value_or(-1), clip->duration, 0.15);
    EXPECT_GT(decodedMeanVolume(file).value_or(-100), -60.0);
}

TEST_F(AudioRecorderTest, shortClipsPlayAndStartingAnyRecorderDeletesTheLastClip)
{
    AudioRecorder first;
    AudioRecorder second;
    EXPECT_FALSE(first.stop());
    EXPECT_FALSE(first.clipURL());
    ASSERT_FALSE(first.start());
    const auto clip = first.stop(); // well under 100 ms of audio
    ASSERT_TRUE(clip);
    EXPECT_GT(clip->duration, 0.0);
    EXPECT_NEAR(audioFileDuration(clip->url.toLocalFile()).value_or(-1), clip->duration, 0.01);
    EXPECT_TRUE(decodedMeanVolume(clip->url.toLocalFile())) << "ffmpeg cannot decode the clip";
    EXPECT_FALSE(first.stop());
    EXPECT_EQ(first.recorder(), nullptr);
    // The last clip stays where it is until the next recording, by any instance.
    EXPECT_EQ(first.clipURL(), clip->url);
    const QString path = AudioRecorder::clipPath();
    ASSERT_TRUE(QFile::exists(path));
    ASSERT_FALSE(second.start());
    EXPECT_FALSE(QFile::exists(path));

    // Starting again while recording drops the unfinished recording.
    ASSERT_FALSE(second.start());
    ASSERT_TRUE(second.stop());
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_FALSE(first.stop());
    EXPECT_TRUE(partialClips().isEmpty()) << partialClips().join(' ').toStdString();
}

TEST_F(AudioRecorderTest, unusableTemporaryFolderFailsStartWithAReadableReason)
{
    QFile notAFolder(m_dir.filePath(QStringLiteral("plain-file")));
    ASSERT_TRUE(notAFolder.open(QIODevice::WriteOnly));
    notAFolder.close();
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", notAFolder.fileName().toUtf8());
    AudioRecorder recorder;
    const auto error = recorder.start();
    saved.isEmpty() ? void(qunsetenv("TMPDIR")) : void(qputenv("TMPDIR", saved));
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->code);
    EXPECT_TRUE(error->description.contains(notAFolder.fileName())) << error->description.toStdString();
    EXPECT_EQ(recorder.recorder(), nullptr);
    EXPECT_FALSE(recorder.stop());
}

TEST_F(AudioRecorderTest, microphoneVanishingMidRecordingStillYieldsTheCapturedClip)
{
    const QString wav = speechFile(QStringLiteral("Testing one two three"));
    // This process reaches the server through a socket of its own, opened before
    // it first talks to the server: unloading it cuts off this process alone, so
    // to the recorder the microphone and the whole server vanish at once.
    const QString socket =
        vmicDir() + QStringLiteral("/native-private-%1").arg(QCoreApplication::applicationPid());
    const auto module =
        runProgram(QStringLiteral("pactl"), QStringLiteral("load-module module-native-protocol-unix "
                                                           "auth-anonymous=1")
                                                    .split(' ')
                                                << QStringLiteral("socket=") + socket);
    ASSERT_TRUE(module && !module->trimmed().isEmpty());
    qputenv("PULSE_SERVER", "unix:" + socket.toUtf8());
    AudioRecorder recorder;
    const bool started = !recorder.start();
    const bool played = started && QCoro::waitFor(playIntoMicrophone(wav));
    ASSERT_TRUE(runProgram(QStringLiteral("pactl"),
                           {QStringLiteral("unload-module"), QString::fromLatin1(module->trimmed())}));
    ASSERT_TRUE(started && played);

    QCoro::waitFor(awaitTicks(&m_ticks, 3));
    const double captured = recorder.recorder()->currentTime();
    EXPECT_GT(captured, 0.5);
    // Nothing more arrives: the stream really is gone.
    QCoro::waitFor(awaitTicks(&m_ticks, 3));
    EXPECT_EQ(recorder.recorder()->currentTime(), captured);

    const auto clip = recorder.stop();
    ASSERT_TRUE(clip);
    EXPECT_DOUBLE_EQ(clip->duration, captured);
    EXPECT_NEAR(audioFileDuration(clip->url.toLocalFile()).value_or(-1), clip->duration, 0.01);
    EXPECT_GT(decodedMeanVolume(clip->url.toLocalFile()).value_or(-100), -60.0);

    // With the server gone the next start fails readably instead of hanging.
    if (const auto error = recorder.start())
        EXPECT_FALSE(error->description.isEmpty());
    else
        EXPECT_TRUE(recorder.stop());
}

} // namespace
