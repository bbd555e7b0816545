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
#include <QtEndian>

#include <cmath>
#include <gtest/gtest.h>

using namespace pealix;
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

TEST_F(AudioEncodingTest, sineBecomesMonoAacM4aWithIndexFirstAndTheRightLoudness)
{
    PEALIX_REQUIRE(pealix::test::havePrograms({QStringLiteral("ffprobe"), QStringLiteral("ffmpeg")}),
                   "ffprobe and ffmpeg are needed to inspect the encoded file");
    const QString file = path(QStringLiteral("tone.m4a"));
    EXPECT_DOUBLE_EQ(encode(file, sineWave(0.5, 440, 3.0)), 3.0);
    EXPECT_TRUE(pealix::test::isMonoAacM4a(file, 3.0, 0.03, 0.15));
    // A sine of amplitude 0.5 has an RMS of 0.354, -9.0 dBFS: the sound itself survived.
    EXPECT_NEAR(pealix::test::decodedMeanVolume(file).value_or(0), -9.0, 1.0);
    EXPECT_NEAR(audioFileDuration(file).value_or(0), 3.0, 0.03);
}

TEST_F(AudioEncodingTest, recordingsShorterThanOneFrameStillMakePlayableFiles)
{
    // Nothing at all, and less than one AAC frame (1024 samples).
    for (std::size_t count : {std::size_t(0), std::size_t(500)}) {
        const QString file = path(QStringLiteral("short-%1.m4a").arg(count));
        const double expected = count ? double(count) / 44100 : 1024.0 / 44100;
        EXPECT_DOUBLE_EQ(encode(file, sineWave(0.3, 300, double(count) / 44100)), expected) << count;
        EXPECT_NEAR(audioFileDuration(file).value_or(-1), expected, 0.002) << count;
    }
}

TEST_F(AudioEncodingTest, unwritableDestinationFailsWithAReadableReasonAndNoFile)
{
    AudioEncoder encoder;
    QString error;
    const QString file = path(QStringLiteral("no-such-folder/clip.m4a"));
    EXPECT_FALSE(encoder.open(file, &error));
    EXPECT_TRUE(error.contains(file)) << error.toStdString();
    EXPECT_FALSE(encoder.isOpen());
    const int16_t samples[4] = {};
    EXPECT_FALSE(encoder.write(samples, 4));
    EXPECT_FALSE(encoder.finish(&error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(AudioEncodingTest, encoderThreadCountsOnlyWhatReachesTheFile)
{
    // Room for a quarter second: a whole second in one piece cannot fit.
    AudioEncoderThread worker(path(QStringLiteral("threaded.m4a")), 44100 / 4 * 2);
    ASSERT_TRUE(worker.isOpen()) << worker.openError().toStdString();
    const auto tone = sineWave(0.25, 1000, 1.0);
    const QByteArray whole(reinterpret_cast<const char *>(tone.data()), qsizetype(tone.size() * 2));
    EXPECT_FALSE(worker.push(whole));
    EXPECT_EQ(worker.droppedSamples(), 44100);

    for (qsizetype at = 0; at < whole.size(); at += 882)
        worker.push(whole.mid(at, 882));
    EXPECT_EQ(std::lround(worker.acceptedSeconds() * 44100) + worker.droppedSamples(), 2 * 44100);
    const double accepted = worker.acceptedSeconds();
    QString error;
    const double seconds = worker.finish(&error);
    ASSERT_GE(seconds, 0) << error.toStdString();
    EXPECT_DOUBLE_EQ(seconds, accepted);
    EXPECT_NEAR(audioFileDuration(path(QStringLiteral("threaded.m4a"))).value_or(-1), seconds, 0.002);
    EXPECT_FALSE(worker.push(whole.left(882)));
    EXPECT_LT(worker.finish(&error), 0);
}

TEST_F(AudioEncodingTest, durationIsAbsentForFilesThatAreNotCompleteAudio)
{
    const QString good = path(QStringLiteral("good.m4a"));
    encode(good, sineWave(0.4, 500, 2.0));
    QFile original(good);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray bytes = original.readAll();

    // Half a second of 16-bit mono silence in a WAV container.
    QByteArray wav("RIFF....WAVEfmt ....\1\0\1\0....\x88\x58\1\0\2\0\x10\0data....", 44);
    wav.append(QByteArray(44100, '\0'));
    for (auto [at, value] : {std::pair{4, 36 + 44100}, {16, 16}, {24, 44100}, {40, 44100}})
        qToLittleEndian(quint32(value), wav.data() + at);

    const std::pair<const char *, QByteArray> files[] = {
        {"empty.m4a", {}},
        {"text.m4a", "just some words, not audio\n"},
        {"half.m4a", bytes.left(bytes.size() / 2)},
        {"head.m4a", bytes.left(40)},
        {"copy.m4a", bytes},
        {"half-second.wav", wav},
    };
    for (const auto &[name, content] : files) {
        QFile file(path(QLatin1String(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    for (const char *name : {"empty.m4a", "text.m4a", "half.m4a", "head.m4a", "missing.m4a"})
        EXPECT_FALSE(audioFileDuration(path(QLatin1String(name)))) << name;
    EXPECT_FALSE(audioFileDuration(QString()));
    EXPECT_NEAR(audioFileDuration(path(QStringLiteral("copy.m4a"))).value_or(-1), 2.0, 0.03);
    EXPECT_NEAR(audioFileDuration(path(QStringLiteral("half-second.wav"))).value_or(-1), 0.5, 0.001);
}

TEST(AudioPowerMeterTest, readsTheRmsOfTheNewestWindowInDecibelsFullScale)
{
    for (double amplitude : {1.0, 0.5, 0.1, 0.01, 0.001}) {
        AudioPowerMeter meter;
        const auto tone = sineWave(amplitude, 441, 0.2);
        meter.push(tone.data(), tone.size());
        meter.update();
        EXPECT_NEAR(meter.averagePower(), 20 * std::log10(amplitude / std::sqrt(2.0)), 0.5) << amplitude;
    }
    std::vector<int16_t> square(4410);
    for (std::size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 50) % 2 ? int16_t(-32768) : int16_t(32767);
    AudioPowerMeter full;
    full.push(square.data(), square.size());
    full.update();
    EXPECT_NEAR(full.averagePower(), 0.0, 0.01);

    AudioPowerMeter meter(1000);
    meter.update();
    EXPECT_EQ(meter.averagePower(), AudioPowerMeter::silenceFloor);
    const auto loud = sineWave(0.8, 441, 0.1);
    meter.push(loud.data(), loud.size());
    EXPECT_EQ(meter.averagePower(), AudioPowerMeter::silenceFloor); // holds until the next update
    meter.update();
    EXPECT_GT(meter.averagePower(), -5.0f);
    // Less than a window of silence still mixes with the tone ...
    const std::vector<int16_t> quiet(600, 0);
    meter.push(quiet.data(), quiet.size());
    meter.update();
    EXPECT_GT(meter.averagePower(), -20.0f);
    // ... a whole window of it, given in small pieces that wrap the ring, does not.
    for (int i = 0; i < 3; ++i)
        meter.push(quiet.data(), 150);
    meter.update();
    EXPECT_EQ(meter.averagePower(), AudioPowerMeter::silenceFloor);

    // A half-filled window averages over what it has, not over empty space:
    // a sine's first 100 samples at 441 Hz are one tenth of a period.
    AudioPowerMeter fresh(1000);
    fresh.push(loud.data(), 100);
    fresh.update();
    double energy = 0;
    for (int i = 0; i < 100; ++i)
        energy += std::pow(loud[std::size_t(i)] / 32768.0, 2);
    EXPECT_NEAR(fresh.averagePower(), 10 * std::log10(energy / 100), 0.01);
}

} // namespace
