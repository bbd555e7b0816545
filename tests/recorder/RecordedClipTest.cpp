// What a recording sounds like: a tone played into the virtual microphone (see
// pulse-fixture.sh) shows on the meter and comes out of the clip at its own
// pitch, which it would not if the microphone ran at another rate than the
// file declares.
#include "audio/AudioPowerMeter.h"
#include "audio/AudioRecorder.h"
#include "recorder/M4aProbe.h"

#include <QCoro/QCoroProcess>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

using namespace pealix;
using namespace Qt::StringLiterals;
using namespace pealix::test;

namespace {

constexpr double toneHz = 1000;

// The decoded samples of `path` at the rate its file declares, mono 16-bit.
std::vector<std::int16_t> decode(const QString &path)
{
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffmpeg.start(findProgram(u"ffmpeg"_s), {u"-v"_s, u"error"_s, u"-i"_s, path, u"-f"_s, u"s16le"_s, u"-"_s});
    if (!QCoro::waitFor(qCoro(ffmpeg).waitForFinished(std::chrono::seconds(20))) || ffmpeg.exitCode() != 0)
        return {};
    const QByteArray bytes = ffmpeg.readAllStandardOutput();
    std::vector<std::int16_t> samples(std::size_t(bytes.size() / 2));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

// The frequency of the loud stretch of `samples` (at `rate`), from its
// upward zero crossings; 0 when all is near silence.
double loudFrequency(const std::vector<std::int16_t> &samples, double rate)
{
    int loudest = 0;
    for (std::int16_t sample : samples)
        loudest = std::max(loudest, std::abs(int(sample)));
    std::size_t first = samples.size(), last = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (loudest > 1000 && std::abs(int(samples[i])) > loudest / 2) {
            first = std::min(first, i);
            last = i;
        }
    }
    if (first >= last)
        return 0;
    // Leave the fades at either end alone.
    const std::size_t margin = (last - first) / 10;
    std::size_t firstCrossing = 0, lastCrossing = 0, crossings = 0;
    for (std::size_t i = first + margin + 1; i < last - margin; ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (crossings++ == 0)
                firstCrossing = i;
            lastCrossing = i;
        }
    }
    return crossings < 2 ? 0 : (crossings - 1) * rate / double(lastCrossing - firstCrossing);
}

class RecordedClipTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString vmic = QFileInfo(qEnvironmentVariable("PULSE_SERVER").mid(5)).absolutePath();
        PEALIX_REQUIRE(QFileInfo::exists(vmic + u"/native"_s), "no PulseAudio server from pulse-fixture.sh");
        PEALIX_REQUIRE(havePrograms(u"paplay ffmpeg"_s.split(' ')), "programs missing");
        ASSERT_TRUE(runProgram(
            u"ffmpeg"_s,
            u"-v error -f lavfi -i sine=frequency=%1:duration=1.5 -ar 44100 -ac 1 -y"_s.arg(toneHz).split(' ')
                << m_tone));
    }

    bool playToneIntoMicrophone()
    {
        QProcess player;
        player.start(findProgram(u"paplay"_s), {u"-d"_s, u"vmic_sink"_s, m_tone});
        return QCoro::waitFor(qCoro(player).waitForFinished(std::chrono::seconds(15))) &&
               player.exitCode() == 0;
    }

    QTemporaryDir m_dir;
    const QString m_tone = m_dir.filePath(u"tone.wav"_s);
};

TEST_F(RecordedClipTest, AToneComesOutAtItsOwnPitchAndLevel)
{
    AudioRecorder recorder;
    ASSERT_FALSE(recorder.start());
    // The meter as the broadcaster reads it, every 60 ms.
    AudioCaptureSession *session = recorder.recorder();
    float loudest = AudioPowerMeter::silenceFloor;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, session, [&] {
        session->updateMeters();
        loudest = std::max(loudest, session->averagePower(0));
    });
    ticks.start(60);
    ASSERT_TRUE(playToneIntoMicrophone());
    EXPECT_GT(loudest, -40.0f);
    // Long enough for the end of the tone to pass through the sound server.
    for (int i = 0; i < 10; ++i)
        QSignalSpy(&ticks, &QTimer::timeout).wait(1000);
    EXPECT_EQ(session->averagePower(0), AudioPowerMeter::silenceFloor);
    const auto clip = recorder.stop();
    ASSERT_TRUE(clip);
    const QString path = clip->url.toLocalFile();

    // Decoded at the rate the file declares, as every player will.
    const double heard = loudFrequency(decode(path), 44100);
    EXPECT_NEAR(heard, toneHz, toneHz * 0.01) << "the clip plays at another speed than it was spoken";
    EXPECT_GE(clip->duration, 1.5);
}

} // namespace
