// The encoder, the power meter and the duration reader on synthetic sound:
// no sound server involved.
#include "audio/AudioEncoder.h"
#include "audio/AudioEncoderThread.h"
#include "audio/AudioFileDuration.h"
#include "audio/AudioPowerMeter.h"
#include "recorder/M4aProbe.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

using namespace pealix;
using namespace Qt::StringLiterals;
using namespace pealix::test;

namespace {

// Encodes `samples` in 10 ms pieces, as a microphone hands them over; the
// seconds the encoder counted, or -1 when it failed.
double encode(const QString &file, const std::vector<int16_t> &samples)
{
    AudioEncoder encoder;
    bool ok = encoder.open(file);
    for (std::size_t at = 0; ok && at < samples.size(); at += 441)
        ok = encoder.write(samples.data() + at, std::min<std::size_t>(441, samples.size() - at));
    return ok && encoder.finish() ? encoder.secondsWritten() : -1;
}

TEST(AudioEncodingTest, encodedFilesAreMonoAacM4aOfTheirLengthEvenWhenTinyAndHaveNoLengthWhenIncomplete)
{
    PEALIX_REQUIRE(havePrograms({u"ffprobe"_s, u"ffmpeg"_s}), "ffprobe and ffmpeg are needed");
    QTemporaryDir dir;
    const QString file = dir.filePath(u"tone.m4a"_s);
    EXPECT_DOUBLE_EQ(encode(file, sineWave(0.5, 440, 3.0)), 3.0);
    EXPECT_TRUE(isMonoAacM4a(file, 3.0, 0.03));
    // A sine of amplitude 0.5 has an RMS of 0.354, -9.0 dBFS: the sound itself survived.
    EXPECT_NEAR(decodedMeanVolume(file).value_or(0), -9.0, 1.0);

    // Nothing at all, and less than one AAC frame (1024 samples), still make playable files.
    for (int count : {0, 500}) {
        const QString tiny = dir.filePath(u"short-%1.m4a"_s.arg(count));
        const double expected = (count ? count : 1024) / 44100.0;
        EXPECT_DOUBLE_EQ(encode(tiny, sineWave(0.3, 300, count / 44100.0)), expected) << count;
        EXPECT_NEAR(audioFileDuration(tiny).value_or(-1), expected, 0.002) << count;
        EXPECT_TRUE(decodedMeanVolume(tiny)) << count;
    }

    // Cut off halfway, nothing but the file's header, and empty.
    for (qint64 size : {QFileInfo(file).size() / 2, qint64(40), qint64(0)}) {
        ASSERT_TRUE(QFile::resize(file, size));
        EXPECT_FALSE(audioFileDuration(file)) << size << " bytes";
    }
    EXPECT_FALSE(audioFileDuration(QCoreApplication::applicationFilePath())); // not audio at all
    // A well-formed WAV file (one second of 8 kHz silence) is not a message either.
    QByteArray wav = "RIFF" + QByteArray(4, 0) + "WAVEfmt " +
                     QByteArray::fromHex("1000000001000100401f0000803e000002001000") + "data" +
                     QByteArray::fromHex("803e0000") + QByteArray(16000, 0);
    qToLittleEndian<quint32>(wav.size() - 8, wav.data() + 4);
    QFile wavFile(dir.filePath(u"silence.wav"_s));
    ASSERT_TRUE(wavFile.open(QIODevice::WriteOnly) && wavFile.write(wav) == wav.size());
    wavFile.close();
    EXPECT_FALSE(audioFileDuration(wavFile.fileName()));
    EXPECT_FALSE(audioFileDuration(dir.filePath(u"missing.m4a"_s)));
}

TEST(AudioEncodingTest, encoderThreadDropsWhatDoesNotFitAndCountsOnlyWhatReachesTheFile)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(u"threaded.m4a"_s);
    // Room for a quarter second: a whole second in one piece cannot fit.
    AudioEncoderThread worker(file, 44100 / 4 * 2);
    ASSERT_TRUE(worker.isOpen()) << worker.openError().toStdString();
    const auto tone = sineWave(0.25, 1000, 1.0);
    const QByteArray whole(reinterpret_cast<const char *>(tone.data()), qsizetype(tone.size() * 2));
    EXPECT_FALSE(worker.push(whole));
    EXPECT_EQ(worker.droppedSamples(), 44100);

    for (qsizetype at = 0; at < whole.size(); at += 882)
        worker.push(whole.mid(at, 882));
    EXPECT_EQ(std::lround(worker.acceptedSeconds() * 44100) + worker.droppedSamples(), 2 * 44100);
    EXPECT_DOUBLE_EQ(worker.finish(), worker.acceptedSeconds());
    EXPECT_NEAR(audioFileDuration(file).value_or(-1), worker.acceptedSeconds(), 0.002);
    EXPECT_FALSE(worker.push(whole.left(882)));
    EXPECT_LT(worker.finish(), 0);
}

TEST(AudioPowerMeterTest, readsTheRmsOfTheNewestWindowInDecibelsFullScale)
{
    AudioPowerMeter meter(1000);
    // A half-filled window averages over what it has, not over empty space.
    const std::vector<int16_t> half(100, 16384), quiet(600, 0);
    meter.push(half.data(), half.size());
    meter.update();
    EXPECT_NEAR(meter.averagePower(), 20 * std::log10(0.5), 0.01);
    // Each tone fills the window and wraps its ring.
    for (double amplitude : {0.001, 1.0}) {
        const auto tone = sineWave(amplitude, 441, 0.1);
        meter.push(tone.data(), tone.size());
        meter.update();
        EXPECT_NEAR(meter.averagePower(), 20 * std::log10(amplitude / std::sqrt(2.0)), 0.5) << amplitude;
    }
    // Less than a window of silence is read only on the next update, and still
    // mixes with the tone; a whole window of it, in small pieces, does not.
    meter.push(quiet.data(), quiet.size());
    EXPECT_NEAR(meter.averagePower(), -3.0, 0.5);
    meter.update();
    EXPECT_GT(meter.averagePower(), -20.0f);
    for (int i = 0; i < 3; ++i)
        meter.push(quiet.data(), 150);
    meter.update();
    EXPECT_EQ(meter.averagePower(), AudioPowerMeter::silenceFloor);
}

} // namespace
