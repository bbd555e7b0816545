// The encoder, the power meter and the duration reader on synthetic sound:
// no sound server involved.
#include "engine/AudioEncoder.h"
#include "engine/AudioEncoderThread.h"
#include "engine/AudioFileDuration.h"
#include "engine/AudioPowerMeter.h"
#include "recorder/M4aInspection.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <numeric>
#include <gtest/gtest.h>

using namespace pealix;
using pealix::test::sineWave;

namespace {

class AudioEncodingTest : public ::testing::Test
{
protected:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Encodes `samples` into a new file and returns its path.
    QString encode(const std::vector<int16_t> &samples, const QString &name = QStringLiteral("clip.m4a"))
    {
        AudioEncoder encoder;
        QString error;
        const QString file = path(name);
        EXPECT_TRUE(encoder.open(file, &error)) << error.toStdString();
        EXPECT_TRUE(encoder.write(samples.data(), samples.size()));
        EXPECT_TRUE(encoder.finish(&error)) << error.toStdString();
        return file;
    }

    QTemporaryDir m_dir;
};

TEST_F(AudioEncodingTest, sineBecomesMonoAacM4aWithIndexFirstAndTheRightLoudness)
{
    PEALIX_REQUIRE(pealix::test::havePrograms({QStringLiteral("ffprobe"), QStringLiteral("ffmpeg")}),
                   "ffprobe and ffmpeg are needed to inspect the encoded file");
    // Speech-like content in 10 ms pieces, as a microphone would hand it over.
    const auto tone = sineWave(0.5, 440, 3.0);
    AudioEncoder encoder;
    QString error;
    ASSERT_TRUE(encoder.open(path(QStringLiteral("tone.m4a")), &error)) << error.toStdString();
    for (std::size_t at = 0; at < tone.size(); at += 441)
        ASSERT_TRUE(encoder.write(tone.data() + at, std::min<std::size_t>(441, tone.size() - at)));
    ASSERT_TRUE(encoder.finish(&error)) << error.toStdString();
    EXPECT_DOUBLE_EQ(encoder.secondsWritten(), 3.0);

    const auto probed = pealix::test::probeAudio(path(QStringLiteral("tone.m4a")));
    ASSERT_TRUE(probed);
    EXPECT_EQ(probed->codec, QStringLiteral("aac"));
    EXPECT_EQ(probed->channels, 1);
    EXPECT_EQ(probed->sampleRate, 44100);
    EXPECT_EQ(probed->majorBrand, QStringLiteral("M4A "));
    EXPECT_NEAR(double(probed->bitRate), 96000.0, 96000.0 * 0.15);
    EXPECT_NEAR(probed->duration, 3.0, 0.03);

    const QStringList boxes = pealix::test::topLevelBoxes(path(QStringLiteral("tone.m4a")));
    ASSERT_TRUE(boxes.contains(QStringLiteral("moov")) && boxes.contains(QStringLiteral("mdat")))
        << boxes.join(' ').toStdString();
    EXPECT_EQ(boxes.first(), QStringLiteral("ftyp"));
    EXPECT_LT(boxes.indexOf(QStringLiteral("moov")), boxes.indexOf(QStringLiteral("mdat")));

    // A sine of amplitude 0.5 has an RMS of 0.354, -9.0 dBFS: the sound itself survived.
    const auto mean = pealix::test::decodedMeanVolume(path(QStringLiteral("tone.m4a")));
    ASSERT_TRUE(mean);
    EXPECT_NEAR(*mean, -9.0, 1.0);

    const auto duration = audioFileDuration(path(QStringLiteral("tone.m4a")));
    ASSERT_TRUE(duration);
    EXPECT_NEAR(*duration, 3.0, 0.03);
}

TEST_F(AudioEncodingTest, recordingsShorterThanOneFrameStillMakePlayableFiles)
{
    // Nothing at all, and less than one AAC frame (1024 samples).
    for (std::size_t count : {std::size_t(0), std::size_t(500)}) {
        SCOPED_TRACE(count);
        const auto samples = sineWave(0.3, 300, double(count) / 44100);
        AudioEncoder encoder;
        QString error;
        const QString file = path(QStringLiteral("short-%1.m4a").arg(count));
        ASSERT_TRUE(encoder.open(file, &error)) << error.toStdString();
        ASSERT_TRUE(encoder.write(samples.data(), samples.size()));
        ASSERT_TRUE(encoder.finish(&error)) << error.toStdString();
        const double expected = count ? double(count) / 44100 : 1024.0 / 44100;
        EXPECT_DOUBLE_EQ(encoder.secondsWritten(), expected);
        const auto duration = audioFileDuration(file);
        ASSERT_TRUE(duration);
        EXPECT_NEAR(*duration, expected, 0.002);
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

    std::int64_t pushed = 0;
    for (qsizetype at = 0; at < whole.size(); at += 882) {
        const QByteArray piece = whole.mid(at, 882);
        pushed += piece.size() / 2;
        worker.push(piece);
    }
    EXPECT_EQ(std::int64_t(std::lround(worker.acceptedSeconds() * 44100)) + worker.droppedSamples(), 44100 + pushed);
    const double accepted = worker.acceptedSeconds();
    QString error;
    const double seconds = worker.finish(&error);
    ASSERT_GE(seconds, 0) << error.toStdString();
    EXPECT_DOUBLE_EQ(seconds, accepted);
    const auto duration = audioFileDuration(path(QStringLiteral("threaded.m4a")));
    ASSERT_TRUE(duration);
    EXPECT_NEAR(*duration, seconds, 0.002);
    EXPECT_FALSE(worker.push(whole.left(882)));
    EXPECT_LT(worker.finish(&error), 0);
}

TEST_F(AudioEncodingTest, durationIsAbsentForFilesThatAreNotCompleteAudio)
{
    const QString good = encode(sineWave(0.4, 500, 2.0));
    QFile original(good);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray bytes = original.readAll();

    auto writeFile = [&](const QString &name, const QByteArray &content) {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return file.fileName();
    };
    EXPECT_FALSE(audioFileDuration(writeFile(QStringLiteral("empty.m4a"), {})));
    EXPECT_FALSE(audioFileDuration(writeFile(QStringLiteral("text.m4a"), "just some words, not audio\n")));
    EXPECT_FALSE(audioFileDuration(writeFile(QStringLiteral("half.m4a"), bytes.left(bytes.size() / 2))));
    EXPECT_FALSE(audioFileDuration(writeFile(QStringLiteral("head.m4a"), bytes.left(40))));
    EXPECT_FALSE(audioFileDuration(path(QStringLiteral("missing.m4a"))));
    EXPECT_FALSE(audioFileDuration(QString()));

    // The whole file still reads, and so does audio in another container.
    EXPECT_TRUE(audioFileDuration(writeFile(QStringLiteral("copy.m4a"), bytes)));
    QByteArray wav;
    auto le = [&](quint32 value, int size) {
        for (int i = 0; i < size; ++i)
            wav.append(char((value >> (8 * i)) & 0xff));
    };
    const quint32 dataBytes = 22050 * 2;
    wav.append("RIFF");
    le(36 + dataBytes, 4);
    wav.append("WAVEfmt ");
    le(16, 4), le(1, 2), le(1, 2), le(44100, 4), le(88200, 4), le(2, 2), le(16, 2);
    wav.append("data");
    le(dataBytes, 4);
    wav.append(QByteArray(dataBytes, '\0'));
    const auto wavDuration = audioFileDuration(writeFile(QStringLiteral("half-second.wav"), wav));
    ASSERT_TRUE(wavDuration);
    EXPECT_NEAR(*wavDuration, 0.5, 0.001);
}

TEST(AudioPowerMeterTest, sineReadsItsRmsInDecibelsFullScale)
{
    for (double amplitude : {1.0, 0.5, 0.1, 0.01, 0.001}) {
        SCOPED_TRACE(amplitude);
        AudioPowerMeter meter;
        const auto tone = sineWave(amplitude, 441, 0.2);
        meter.push(tone.data(), tone.size());
        meter.update();
        EXPECT_NEAR(meter.averagePower(), 20 * std::log10(amplitude / std::sqrt(2.0)), 0.5);
    }
    AudioPowerMeter square;
    std::vector<int16_t> fullScale(4410);
    for (std::size_t i = 0; i < fullScale.size(); ++i)
        fullScale[i] = (i / 50) % 2 ? int16_t(-32768) : int16_t(32767);
    square.push(fullScale.data(), fullScale.size());
    square.update();
    EXPECT_NEAR(square.averagePower(), 0.0, 0.01);
}

TEST(AudioPowerMeterTest, silenceReadsTheFloorAndOnlyTheNewestWindowCounts)
{
    AudioPowerMeter meter(1000);
    meter.update();
    EXPECT_EQ(meter.averagePower(), AudioPowerMeter::silenceFloor);

    const auto loud = sineWave(0.8, 441, 0.1);
    meter.push(loud.data(), loud.size());
    // The reading holds until the next update.
    EXPECT_EQ(meter.averagePower(), AudioPowerMeter::silenceFloor);
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

    // A half-filled window averages over what it has, not over empty space.
    AudioPowerMeter fresh(1000);
    fresh.push(loud.data(), 100);
    fresh.update();
    const auto expected = 10 * std::log10(std::accumulate(loud.begin(), loud.begin() + 100, 0.0,
                                                          [](double sum, int16_t s) {
                                                              return sum + (s / 32768.0) * (s / 32768.0);
                                                          })
                                          / 100);
    EXPECT_NEAR(fresh.averagePower(), expected, 0.01);
}

} // namespace
