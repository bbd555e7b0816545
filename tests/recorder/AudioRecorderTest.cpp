// The recorder against a private PulseAudio server whose default source is a
// virtual microphone fed with synthetic speech (see pulse-fixture.sh).
#include "engine/AudioFileDuration.h"
#include "engine/AudioPowerMeter.h"
#include "engine/AudioRecorder.h"
#include "recorder/M4aInspection.h"
#include "support/TestEnvironment.h"

#include <QCoro/QCoroProcess>
#include <QCoro/QCoroSignal>
#include <QCoro/QCoroTask>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace pealix;

namespace {

QString vmicDir()
{
    const QString server = qEnvironmentVariable("PULSE_SERVER");
    return server.startsWith(QLatin1String("unix:")) ? QFileInfo(server.mid(5)).absolutePath() : QString();
}

bool runQuietly(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(pealix::test::findProgram(program), arguments);
    return process.waitForFinished(15000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

enum class Phase { speaking, after };

struct Reading
{
    Phase phase;
    float power;
};

// Polls the meter the way the broadcaster does, every 60 ms, while recording.
class MeterPoller
{
public:
    MeterPoller(AudioRecorder &recorder, std::vector<Reading> &readings) : m_recorder(recorder), m_readings(readings)
    {
        m_timer.setInterval(60);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (AudioCaptureSession *session = m_recorder.recorder()) {
                session->updateMeters();
                m_readings.push_back({phase, session->averagePower(0)});
            }
        });
        m_timer.start();
    }
    QTimer &timer() { return m_timer; }
    Phase phase = Phase::speaking;

private:
    AudioRecorder &m_recorder;
    std::vector<Reading> &m_readings;
    QTimer m_timer;
};

QCoro::Task<bool> playIntoMicrophone(QString wav)
{
    QProcess player;
    player.start(pealix::test::findProgram(QStringLiteral("paplay")), {QStringLiteral("-d"), QStringLiteral("vmic_sink"), wav});
    const bool done = co_await qCoro(player).waitForFinished(std::chrono::seconds(15));
    co_return done && player.exitCode() == 0;
}

QCoro::Task<> awaitTicks(QTimer *timer, int count)
{
    for (int i = 0; i < count; ++i)
        co_await qCoro(timer, &QTimer::timeout);
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
        PEALIX_REQUIRE(pealix::test::havePrograms({QStringLiteral("espeak-ng"), QStringLiteral("paplay"),
                                                   QStringLiteral("pactl"), QStringLiteral("ffprobe"),
                                                   QStringLiteral("ffmpeg")},
                                                  &missing),
                       "missing programs: " + missing.toStdString());
    }

    QString speechFile(const QString &text)
    {
        const QString wav = m_dir.filePath(QStringLiteral("speech.wav"));
        EXPECT_TRUE(runQuietly(QStringLiteral("espeak-ng"), {QStringLiteral("-w"), wav, text}));
        return wav;
    }

    QTemporaryDir m_dir;
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

    std::vector<Reading> readings;
    MeterPoller poller(recorder, readings);
    ASSERT_TRUE(QCoro::waitFor(playIntoMicrophone(wav)));
    poller.phase = Phase::after;
    // Long enough for the end of the speech to pass through the sound server.
    QCoro::waitFor(awaitTicks(&poller.timer(), 10));
    const auto clip = recorder.stop();
    ASSERT_TRUE(clip);
    EXPECT_EQ(recorder.recorder(), nullptr);
    EXPECT_EQ(clip->url, QUrl::fromLocalFile(AudioRecorder::clipPath()));
    EXPECT_GE(clip->duration, *speechLength);

    float loudest = AudioPowerMeter::silenceFloor;
    for (const Reading &reading : readings) {
        if (reading.phase == Phase::speaking)
            loudest = std::max(loudest, reading.power);
    }
    EXPECT_GT(loudest, -40.0f);
    ASSERT_GE(readings.size(), 3u);
    for (std::size_t i = readings.size() - 3; i < readings.size(); ++i) {
        EXPECT_EQ(readings[i].phase, Phase::after);
        EXPECT_EQ(readings[i].power, AudioPowerMeter::silenceFloor);
    }

    const QString file = clip->url.toLocalFile();
    const auto probed = pealix::test::probeAudio(file);
    ASSERT_TRUE(probed);
    EXPECT_EQ(probed->codec, QStringLiteral("aac"));
    EXPECT_EQ(probed->channels, 1);
    EXPECT_EQ(probed->sampleRate, 44100);
    EXPECT_EQ(probed->majorBrand, QStringLiteral("M4A "));
    EXPECT_NEAR(double(probed->bitRate), 96000.0, 96000.0 * 0.2);
    EXPECT_NEAR(probed->duration, clip->duration, 0.15);
    const QStringList boxes = pealix::test::topLevelBoxes(file);
    EXPECT_LT(boxes.indexOf(QStringLiteral("moov")), boxes.indexOf(QStringLiteral("mdat")));
    EXPECT_GE(boxes.indexOf(QStringLiteral("moov")), 0);
    const auto duration = audioFileDuration(file);
    ASSERT_TRUE(duration);
    EXPECT_NEAR(*duration, clip->duration, 0.15);
    const auto mean = pealix::test::decodedMeanVolume(file);
    ASSERT_TRUE(mean);
    EXPECT_GT(*mean, -60.0);
}

TEST_F(AudioRecorderTest, stopRightAfterStartGivesAPlayableClipAndASecondStopGivesNothing)
{
    AudioRecorder recorder;
    EXPECT_FALSE(recorder.stop());
    EXPECT_FALSE(recorder.clipURL());
    const auto error = recorder.start();
    ASSERT_FALSE(error) << error->description.toStdString();
    const auto clip = recorder.stop();
    ASSERT_TRUE(clip);
    EXPECT_GT(clip->duration, 0.0);
    const auto probed = pealix::test::probeAudio(clip->url.toLocalFile());
    ASSERT_TRUE(probed);
    EXPECT_EQ(probed->codec, QStringLiteral("aac"));
    const auto duration = audioFileDuration(clip->url.toLocalFile());
    ASSERT_TRUE(duration);
    EXPECT_NEAR(*duration, clip->duration, 0.01);

    EXPECT_FALSE(recorder.stop());
    EXPECT_EQ(recorder.recorder(), nullptr);
    // The last clip stays where it is until the next recording.
    EXPECT_EQ(recorder.clipURL(), clip->url);
    EXPECT_TRUE(QFile::exists(clip->url.toLocalFile()));
}

TEST_F(AudioRecorderTest, startingAnyRecorderDeletesTheLastClipAndLeavesNoStrayFiles)
{
    AudioRecorder first;
    AudioRecorder second;
    ASSERT_FALSE(first.start());
    ASSERT_TRUE(first.stop());
    const QString clip = AudioRecorder::clipPath();
    ASSERT_TRUE(QFile::exists(clip));

    ASSERT_FALSE(second.start());
    EXPECT_FALSE(QFile::exists(clip));
    // Starting again while recording drops the unfinished recording.
    ASSERT_FALSE(second.start());
    ASSERT_TRUE(second.stop());
    EXPECT_TRUE(QFile::exists(clip));
    EXPECT_FALSE(first.stop());

    const QStringList partials = QDir(QFileInfo(clip).absolutePath())
                                     .entryList({QStringLiteral(".pealix-clip-*")}, QDir::Files | QDir::Hidden);
    EXPECT_TRUE(partials.isEmpty()) << partials.join(' ').toStdString();
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
    if (saved.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", saved);
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->code);
    EXPECT_TRUE(error->description.contains(notAFolder.fileName())) << error->description.toStdString();
    EXPECT_EQ(recorder.recorder(), nullptr);
    EXPECT_FALSE(recorder.stop());
}

// Connects this process to the server through a socket of its own, so that
// closing that socket cuts off this process alone: to the recorder it looks
// as if the microphone and the whole sound server vanished at once.
class PrivateServerSocket
{
public:
    bool open(const QString &dir)
    {
        const QString socket = dir + QStringLiteral("/native-private-%1").arg(QCoreApplication::applicationPid());
        QProcess load;
        load.start(pealix::test::findProgram(QStringLiteral("pactl")),
                   {QStringLiteral("load-module"), QStringLiteral("module-native-protocol-unix"),
                    QStringLiteral("auth-anonymous=1"), QStringLiteral("socket=") + socket});
        if (!load.waitForFinished(15000) || load.exitCode() != 0)
            return false;
        m_module = QString::fromLatin1(load.readAllStandardOutput().trimmed());
        qputenv("PULSE_SERVER", "unix:" + socket.toUtf8());
        return !m_module.isEmpty();
    }
    bool close()
    {
        const bool closed = !m_module.isEmpty()
            && runQuietly(QStringLiteral("pactl"), {QStringLiteral("unload-module"), m_module});
        m_module.clear();
        return closed;
    }
    ~PrivateServerSocket() { close(); }

private:
    QString m_module;
};

TEST_F(AudioRecorderTest, microphoneVanishingMidRecordingStillYieldsTheCapturedClip)
{
    const QString wav = speechFile(QStringLiteral("Testing one two three"));
    // Before this process first talks to the sound server.
    PrivateServerSocket privateSocket;
    ASSERT_TRUE(privateSocket.open(vmicDir()));
    AudioRecorder recorder;
    ASSERT_FALSE(recorder.start());
    ASSERT_TRUE(QCoro::waitFor(playIntoMicrophone(wav)));
    ASSERT_TRUE(privateSocket.close());

    std::vector<Reading> readings;
    MeterPoller poller(recorder, readings);
    QCoro::waitFor(awaitTicks(&poller.timer(), 3));
    const double captured = recorder.recorder()->currentTime();
    EXPECT_GT(captured, 0.5);
    // Nothing more arrives: the stream really is gone.
    QCoro::waitFor(awaitTicks(&poller.timer(), 3));
    EXPECT_EQ(recorder.recorder()->currentTime(), captured);

    const auto clip = recorder.stop();
    ASSERT_TRUE(clip);
    EXPECT_DOUBLE_EQ(clip->duration, captured);
    const auto duration = audioFileDuration(clip->url.toLocalFile());
    ASSERT_TRUE(duration);
    EXPECT_NEAR(*duration, clip->duration, 0.01);
    const auto mean = pealix::test::decodedMeanVolume(clip->url.toLocalFile());
    ASSERT_TRUE(mean);
    EXPECT_GT(*mean, -60.0);

    // With the server gone the next start fails readably instead of hanging.
    const auto error = recorder.start();
    if (error)
        EXPECT_FALSE(error->description.isEmpty());
    else
        EXPECT_TRUE(recorder.stop());
}

} // namespace
