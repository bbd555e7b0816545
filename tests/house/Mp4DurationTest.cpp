// A simulated speaker reads a clip's length from its MPEG-4 header, as a real
// one does before it plays; it must agree with the application's reading and
// never read outside what it was given.
#include "house/devices/Mp4Duration.h"
#include "audio/AudioEncoder.h"
#include "audio/AudioFileDuration.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace pealix;
using namespace Qt::StringLiterals;

namespace {

QByteArray box(const char *type, const QByteArray &body)
{
    QByteArray out(4, '\0');
    qToBigEndian<quint32>(quint32(body.size() + 8), out.data());
    return out + type + body;
}

QByteArray number(quint64 value, int bytes)
{
    QByteArray out(bytes, '\0');
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        out[i] = char(value & 0xff);
    return out;
}

// A movie header of `version` with `scale` units per second and `duration` units.
QByteArray movie(int version, quint32 scale, quint64 duration)
{
    const int timeSize = version == 1 ? 8 : 4;
    const QByteArray header = QByteArray(1, char(version)) + QByteArray(3, '\0') + number(0, timeSize) +
                              number(0, timeSize) + number(scale, 4) + number(duration, timeSize) +
                              QByteArray(80, '\0');
    return box("ftyp", "M4A \0\0\0\0"_ba) + box("moov", box("mvhd", header));
}

} // namespace

TEST(Mp4DurationTest, AgreesWithTheApplicationOnAClipItEncoded)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"tone.m4a"_s);
    AudioEncoder encoder;
    ASSERT_TRUE(encoder.open(path));
    std::vector<int16_t> tone(AudioEncoder::sampleRate * 3 / 2);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = int16_t(8000 * std::sin(2 * M_PI * 440 * double(i) / AudioEncoder::sampleRate));
    ASSERT_TRUE(encoder.write(tone.data(), tone.size()));
    ASSERT_TRUE(encoder.finish());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray clip = file.readAll();

    const std::optional<double> read = house::mp4Duration(clip);
    ASSERT_TRUE(read);
    EXPECT_NEAR(*read, 1.5, 0.03);
    EXPECT_NEAR(*read, audioFileDuration(path).value_or(-1), 0.01);
    // The header leads the file, so a speaker knows the length from the first bytes on.
    EXPECT_EQ(house::mp4Duration(clip.left(clip.indexOf("mdat"))), read);
}

TEST(Mp4DurationTest, ReadsBothHeaderVersionsAndNothingFromWhatIsNoHeader)
{
    const QByteArray versionZero = movie(0, 1000, 2400);
    const QByteArray largeBox = number(1, 4) + "free" + number(24, 8) + QByteArray(8, 'x');
    const struct
    {
        const char *situation;
        QByteArray bytes;
        std::optional<double> seconds;
    } rows[] = {
        {"a version 0 header", versionZero, 2.4},
        {"a version 1 header", movie(1, 44100, 44100ull * 3), 3.0},
        {"a box with a 64-bit size before it", largeBox + versionZero, 2.4},
        {"an unknown duration", movie(0, 1000, 0xffffffffu), std::nullopt},
        {"a time scale of zero", movie(0, 0, 2400), std::nullopt},
        {"a header cut short", versionZero.left(versionZero.size() - 90), std::nullopt},
        {"a box that claims more than there is", number(4000, 4) + "moov" + versionZero, std::nullopt},
        {"a box smaller than its own head", number(3, 4) + "moov" + QByteArray(16, '\0'), std::nullopt},
        {"a version that does not exist", movie(2, 1000, 2400), std::nullopt},
        {"no movie at all", box("ftyp", "M4A "_ba) + box("mdat", QByteArray(100, 'a')), std::nullopt},
        {"text", "not an audio file at all"_ba, std::nullopt},
        {"nothing", {}, std::nullopt},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.situation);
        const std::optional<double> seconds = house::mp4Duration(row.bytes);
        ASSERT_EQ(seconds.has_value(), row.seconds.has_value());
        if (seconds) {
            EXPECT_DOUBLE_EQ(*seconds, *row.seconds);
        }
    }
}
