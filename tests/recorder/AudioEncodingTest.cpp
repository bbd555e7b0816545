// The encoder, the power meter and the duration reader on synthetic sound:
// no sound server involved.
#include "engine/AudioEncoder.h"
#include "engine/AudioEncoderThread.h"
#include "engine/AudioFileDuration.h"
#include "engine/AudioPowerMeter.h"
#include "recorder/M4aProbe.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <gtest/gtest.h>

using namespace pealix;
using namespace Qt::StringLiterals;
using pealix::test::sineWave;

namespace {

class AudioEncodingTest : public ::testing::Test
{
protected:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Encodes `samples` in 10 ms pieces, as a microphone hands them over; the
    // seconds the encoder counted, or -1 when it failed.
    double encode(const QString &file, const std::vector<int16_t> &samples)
    {
        AudioEncoder encoder;
        QString error;
        bool ok = encoder.open(file, &error);
        for (std::size_t at = 0; ok && at < samples.size(); at += 441)
            ok = encoder.write(samples.data() + at, std::min<std::size_t>(441, samples.size() - at));
        ok = ok && encoder.finish(&error);
        EXPECT_TRUE(ok) << error.toStdString();
        return ok ? encoder.secondsWritten() : -1;
    }

    QTemporaryDir m_dir;
};

TEST_F(AudioEncodingTest, encodedFilesAreMonoAacM4aOfTheirLengthAndLoudnessEvenWhenTiny)
{
    PEALIX_REQUIRE(pealix::test::havePrograms({u"ffprobe"_s, u"ffmpeg"_s}), "ffprobe and ffmpeg are needed");
    const QString file = path(u"tone.m4a"_s);
    EXPECT_DOUBLE_EQ(encode(file, sineWave(0.5, 440, 3.0)), 3.0);
    EXPECT_TRUE(pealix::test::isMonoAacM4a(file, 3.0, 0.03));
    // A sine of amplitude 0.5 has an RMS of 0.354, -9.0 dBFS: the sound itself survived.
    EXPECT_NEAR(pealix::test::decodedMeanVolume(file).value_or(0), -9.0, 1.0);

    // Nothing at all, and less than one AAC frame (1024 samples), still make playable files.
    for (int count : {0, 500}) {
        const QString tiny = path(u"short-%1.m4a"_s.arg(count));
        const double expected = (count ? count : 1024) / 44100.0;
        EXPECT_DOUBLE_EQ(encode(tiny, sineWave(0.3, 300, count / 44100.0)), expected) << count;
        EXPECT_NEAR(audioFileDuration(tiny).value_or(-1), expected, 0.002) << count;
        EXPECT_TRUE(pealix::test::decodedMeanVolume(tiny)) << count;
    }
}

TEST_F(AudioEncodingTest, encoderThreadDropsWhatDoesNotFitAndCountsOnlyWhatReachesTheFile)
{
    // Room for a quarter second: a whole second in one piece cannot fit.
    AudioEncoderThread worker(path(u"threaded.m4a"_s), 44100 / 4 * 2);
    ASSERT_TRUE(worker.isOpen()) << worker.openError().toStdString();
    const auto tone = sineWave(0.25, 1000, 1.0);
    const QByteArray whole(reinterpret_cast<const char *>(tone.data()), qsizetype(tone.size() * 2));
    EXPECT_FALSE(worker.push(whole));
    EXPECT_EQ(worker.droppedSamples(), 44100);

    for (qsizetype at = 0; at < whole.size(); at += 882)
        worker.push(whole.mid(at, 882));
    EXPECT_EQ(std::lround(worker.acceptedSeconds() * 44100) + worker.droppedSamples(), 2 * 44100);
    const double accepted = worker.acceptedSeconds();
    EXPECT_DOUBLE_EQ(worker.finish(), accepted);
    EXPECT_NEAR(audioFileDuration(path(u"threaded.m4a"_s)).value_or(-1), accepted, 0.002);
    EXPECT_FALSE(worker.push(whole.left(882)));
    EXPECT_LT(worker.finish(), 0);
}

TEST_F(AudioEncodingTest, durationIsAbsentForFilesThatAreNotCompleteAudio)
{
    encode(path(u"good.m4a"_s), sineWave(0.4, 500, 2.0));
    QFile good(path(u"good.m4a"_s));
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray bytes = good.readAll();
    // Empty, not audio at all, cut off halfway, and nothing but the file's header.
    for (const QByteArray &content :
         {QByteArray(), QByteArray("just some words\n"), bytes.left(bytes.size() / 2), bytes.left(40)}) {
        QFile file(path(u"bad.m4a"_s));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        EXPECT_FALSE(audioFileDuration(file.fileName())) << content.size() << " bytes";
    }
    EXPECT_FALSE(audioFileDuration(path(u"missing.m4a"_s)));
}

TEST(AudioPowerMeterTest, readsTheRmsOfTheNewestWindowInDecibelsFullScale)
{
    for (double amplitude : {1.0, 0.5, 0.001}) {
        AudioPowerMeter meter;
        const auto tone = sineWave(amplitude, 441, 0.2);
        meter.push(tone.data(), tone.size());
        meter.update();
        EXPECT_NEAR(meter.averagePower(), 20 * std::log10(amplitude / std::sqrt(2.0)), 0.5) << amplitude;
    }

    AudioPowerMeter meter(1000);
    const auto loud = sineWave(0.8, 441, 0.1);
    meter.push(loud.data(), loud.size());
    EXPECT_EQ(meter.averagePower(), AudioPowerMeter::silenceFloor); // holds until the next update
    // Less than a window of silence still mixes with the tone; a whole window
    // of it, given in small pieces that wrap the ring, does not.
    const std::vector<int16_t> quiet(600, 0);
    meter.push(quiet.data(), quiet.size());
    meter.update();
    EXPECT_GT(meter.averagePower(), -20.0f);
    for (int i = 0; i < 3; ++i)
        meter.push(quiet.data(), 150);
    meter.update();
    EXPECT_EQ(meter.averagePower(), AudioPowerMeter::silenceFloor);

    // A half-filled window averages over what it has, not over empty space.
    AudioPowerMeter fresh(1000);
    const std::vector<int16_t> half(100, 16384);
    fresh.push(half.data(), half.size());
    fresh.update();
    EXPECT_NEAR(fresh.averagePower(), 20 * std::log10(0.5), 0.01);
}

} // namespace
